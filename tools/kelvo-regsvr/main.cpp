// kelvo-regsvr: registers or unregisters the COM classes of a module in the
// class registry, by calling the module's DllRegisterServer or
// DllUnregisterServer.
//
//   kelvo-regsvr [-u] <module>
//
// The registry is the file named by KELVO_COM_REGISTRY (an absolute path),
// else $XDG_DATA_HOME/kelvo/com-registry (XDG_DATA_HOME absolute), else
// ~/.local/share/kelvo/com-registry.
//
// The module is loaded by its absolute, link-free path, which is what gets
// recorded. Before anything is loaded, the module and the registry are
// checked here, so that a refusal comes with its reason: the module must
// be a regular file that only the user or root can write, and an existing
// registry must be such a file too and readable; otherwise nothing is
// changed and the exit status is 1.

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "platform/win32/ComRegistry.h"

namespace {

typedef int32_t (*EntryPoint)();

int Usage() {
  std::fprintf(stderr, "usage: kelvo-regsvr [-u] <module>\n");
  return 2;
}

int Refuse(const std::string& message) {
  std::fprintf(stderr, "kelvo-regsvr: %s; nothing was changed\n", message.c_str());
  return 1;
}

// The registration's result in words. The module writes the registry with
// the same code as the checks above, so these show only when the registry
// changed between the check and the call.
std::string Explain(int32_t hr, const std::string& registry) {
  switch (hr) {
    case REGDB_E_READREGDB:
      return "the class registry \"" + registry + "\" cannot be read or is damaged";
    case E_ACCESSDENIED:
      return "the class registry \"" + registry +
             "\" or the module is not a regular file that only you or root can write";
    case STG_E_WRITEFAULT:
      return "cannot write the class registry \"" + registry + "\"";
    case E_INVALIDARG:
      return "the module's classes cannot be stored in the class registry";
    default:
      break;
  }
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  return std::string("failed with ") + code;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  const char* argument = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0 || std::strcmp(argv[i], "/u") == 0) {
      unregister = true;
    } else if (argument == nullptr) {
      argument = argv[i];
    } else {
      return Usage();
    }
  }
  if (argument == nullptr) return Usage();

  char* resolved = realpath(argument, nullptr);
  if (resolved == nullptr) {
    const std::string reason = std::error_code(errno, std::generic_category()).message();
    std::fprintf(stderr, "kelvo-regsvr: cannot find module %s: %s\n", argument, reason.c_str());
    return 1;
  }
  const std::string module = resolved;
  std::free(resolved);
  if (const auto check = kelvo::platform::CheckModuleFile(module); !check.Ok())
    return Refuse(check.message);

  if (const char* given = std::getenv("KELVO_COM_REGISTRY");
      given != nullptr && *given != 0 && *given != '/')
    std::fprintf(stderr, "kelvo-regsvr: KELVO_COM_REGISTRY \"%s\" is not an absolute path; ignored\n",
                 given);
  const std::string registry = kelvo::platform::ComRegistryPath();
  std::vector<kelvo::platform::RegisteredClass> classes;
  if (const auto read = kelvo::platform::ReadComRegistry(&classes); !read.Ok())
    return Refuse(read.message);

  void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "kelvo-regsvr: cannot load %s: %s\n", module.c_str(), dlerror());
    return 1;
  }
  const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto entry = reinterpret_cast<EntryPoint>(dlsym(handle, entryName));
  if (entry == nullptr) {
    std::fprintf(stderr, "kelvo-regsvr: %s has no %s\n", module.c_str(), entryName);
    dlclose(handle);
    return 1;
  }
  const int32_t hr = entry();
  dlclose(handle);
  if (hr < 0) {
    std::fprintf(stderr, "kelvo-regsvr: %s: %s\n", entryName, Explain(hr, registry).c_str());
    return 1;
  }
  std::printf("%s: %s succeeded (registry %s)\n", module.c_str(), entryName, registry.c_str());
  return 0;
}
