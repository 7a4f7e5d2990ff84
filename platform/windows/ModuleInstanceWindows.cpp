#include "platform/ModuleInstance.h"

namespace {
char g_moduleMarker;
}

// The module that holds this code, found from the address of one of its own
// variables, so no DllMain is needed and the answer is right whichever
// module the framework is linked into.
HINSTANCE KelvoModuleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&g_moduleMarker), &module);
  return module;
}
