// kelvo-regsvr: registers or unregisters the COM classes of a module in the
// class registry, by calling the module's DllRegisterServer or
// DllUnregisterServer.
//
//   kelvo-regsvr [-u] <module>
//
// The registry is the file named by KELVO_COM_REGISTRY, else
// $XDG_DATA_HOME/kelvo/com-registry (~/.local/share/kelvo/com-registry).

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

typedef int32_t (*EntryPoint)();

int Usage() {
  std::fprintf(stderr, "usage: kelvo-regsvr [-u] <module>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  const char* module = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0 || std::strcmp(argv[i], "/u") == 0) {
      unregister = true;
    } else if (module == nullptr) {
      module = argv[i];
    } else {
      return Usage();
    }
  }
  if (module == nullptr) return Usage();

  void* handle = dlopen(module, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "kelvo-regsvr: cannot load %s: %s\n", module, dlerror());
    return 1;
  }
  const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto entry = reinterpret_cast<EntryPoint>(dlsym(handle, entryName));
  if (entry == nullptr) {
    std::fprintf(stderr, "kelvo-regsvr: %s has no %s\n", module, entryName);
    dlclose(handle);
    return 1;
  }
  const int32_t hr = entry();
  dlclose(handle);
  if (hr < 0) {
    std::fprintf(stderr, "kelvo-regsvr: %s failed with 0x%08X\n", entryName,
                 static_cast<unsigned>(hr));
    return 1;
  }
  std::printf("%s: %s succeeded\n", module, entryName);
  return 0;
}
