#include <dlfcn.h>

#include "platform/CFactoryTemplate.h"
#include "platform/detail/WideString.h"
#include "platform/win32/ComRegistry.h"

using kelvo::platform::RegisteredClass;
using kelvo::platform::RegisteredPin;
using kelvo::platform::detail::WideToUtf8;

namespace {

// The file this code was loaded from: the module whose classes are being
// registered.
std::string ThisModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&AMovieDllRegisterServer2), &info) == 0 ||
      info.dli_fname == nullptr)
    return {};
  char resolved[4096];
  if (realpath(info.dli_fname, resolved) != nullptr) return resolved;
  return info.dli_fname;
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
// removes them. Classes of other modules are kept as they are.
HRESULT AMovieDllRegisterServer2(BOOL bRegister) {
  const std::string module = ThisModulePath();
  if (bRegister && module.empty()) return E_FAIL;
  std::vector<RegisteredClass> classes;
  if (!kelvo::platform::LoadComRegistry(&classes)) return STG_E_READFAULT;
  for (int i = 0; i < g_cTemplates; ++i) {
    const std::string key = kelvo::platform::GuidToString(*g_Templates[i].m_ClsID);
    std::erase_if(classes, [&](const RegisteredClass& c) { return c.clsid == key; });
    if (bRegister) classes.push_back(RecordFor(g_Templates[i], module));
  }
  return kelvo::platform::SaveComRegistry(classes) ? S_OK : STG_E_WRITEFAULT;
}
