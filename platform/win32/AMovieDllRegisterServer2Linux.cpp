#include <dlfcn.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/CFactoryTemplate.h"
#include "platform/detail/WideString.h"
#include "platform/win32/ComRegistry.h"

using kelvo::platform::RegisteredClass;
using kelvo::platform::RegisteredPin;
using kelvo::platform::detail::WideToUtf8;

namespace {

// The file this code was loaded from: the module whose classes are being
// registered. Recorded by its absolute, link-free path, as activation loads
// nothing else; empty when that cannot be had.
std::string ThisModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&AMovieDllRegisterServer2), &info) == 0 ||
      info.dli_fname == nullptr)
    return {};
  char* resolved = realpath(info.dli_fname, nullptr);
  if (resolved == nullptr) return {};
  std::string path = resolved;
  std::free(resolved);
  return path;
}

RegisteredClass RecordFor(const CFactoryTemplate& entry, const std::string& module) {
  RegisteredClass record;
  record.clsid = kelvo::platform::GuidToString(*entry.m_ClsID);
  record.name = WideToUtf8(entry.m_Name);
  record.module = module;
  if (const AMOVIESETUP_FILTER* setup = entry.m_pAMovieSetup_Filter; setup != nullptr) {
    record.isFilter = true;
    record.merit = setup->dwMerit;
    for (UINT p = 0; p < setup->nPins; ++p) {
      const AMOVIESETUP_PIN& pin = setup->lpPin[p];
      RegisteredPin saved;
      saved.name = WideToUtf8(pin.strName);
      saved.rendered = pin.bRendered != FALSE;
      saved.output = pin.bOutput != FALSE;
      saved.zero = pin.bZero != FALSE;
      saved.many = pin.bMany != FALSE;
      for (UINT t = 0; t < pin.nMediaTypes; ++t)
        saved.mediaTypes.emplace_back(
            kelvo::platform::GuidToString(*pin.lpMediaType[t].clsMajorType),
            kelvo::platform::GuidToString(*pin.lpMediaType[t].clsMinorType));
      record.pins.push_back(saved);
    }
  }
  return record;
}

}  // namespace

// Registration replaces any earlier record of each class; unregistration
// removes them. Classes of other modules are kept as they are: the records
// are read, changed and written back under the registry's lock, and a
// registry that cannot be read is reported, never rewritten.
HRESULT AMovieDllRegisterServer2(BOOL bRegister) {
  std::string module;
  if (bRegister) {
    module = ThisModulePath();
    if (module.empty()) return E_FAIL;
    // A module activation would refuse is not worth recording.
    if (const auto check = kelvo::platform::CheckModuleFile(module); !check.Ok())
      return check.code;
  }
  return kelvo::platform::UpdateComRegistry([&](std::vector<RegisteredClass>& classes) {
           bool changed = bRegister != FALSE;
           for (int i = 0; i < g_cTemplates; ++i) {
             const std::string key = kelvo::platform::GuidToString(*g_Templates[i].m_ClsID);
             changed |= std::erase_if(classes, [&](const RegisteredClass& c) {
                          return c.clsid == key;
                        }) != 0;
             if (bRegister) classes.push_back(RecordFor(g_Templates[i], module));
           }
           return changed;
         })
      .code;
}
