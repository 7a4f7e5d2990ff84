// Win32 and COM library calls for the Linux build.

#include <cpuid.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/ModuleInstance.h"
#include "platform/win32/ComRegistry.h"
#include "platform/win32/Win32Api.h"

void InitializeCriticalSection(LPCRITICAL_SECTION) {}
void DeleteCriticalSection(LPCRITICAL_SECTION) {}
void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  cs->mutex.lock();
}
void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  cs->mutex.unlock();
}

namespace {
std::atomic<int> g_reportedSse2{-1};
}

void KelvoSetReportedSse2(int state) {
  g_reportedSse2 = state;
}

BOOL IsProcessorFeaturePresent(DWORD feature) {
  if (feature != PF_XMMI64_INSTRUCTIONS_AVAILABLE) return FALSE;
  if (const int reported = g_reportedSse2.load(); reported >= 0) return reported != 0;
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return FALSE;
  return (edx & bit_SSE2) != 0 ? TRUE : FALSE;
#else
  return FALSE;
#endif
}

namespace {
std::atomic<DWORD> g_reportedMajor{0};
std::atomic<int> g_failTaskMemAllocs{0};
}  // namespace

void KelvoSetReportedOsMajorVersion(DWORD major) {
  g_reportedMajor = major;
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) return FALSE;
  const DWORD major = g_reportedMajor.load();
  info->dwMajorVersion = major != 0 ? major : 10;
  info->dwMinorVersion = 0;
  info->dwBuildNumber = major != 0 && major < 6 ? 2600 : 19045;
  info->dwPlatformId = 2;  // VER_PLATFORM_WIN32_NT
  info->szCSDVersion[0] = 0;
  return TRUE;
}

void KelvoFailNextTaskMemAllocs(int count) {
  g_failTaskMemAllocs = count;
}

void* CoTaskMemAlloc(size_t cb) {
  if (g_failTaskMemAllocs.load() > 0 && g_failTaskMemAllocs.fetch_sub(1) > 0) return nullptr;
  return std::malloc(cb == 0 ? 1 : cb);
}

void CoTaskMemFree(void* pv) {
  std::free(pv);
}

HRESULT CoInitialize(LPVOID) {
  return S_OK;
}
HRESULT CoInitializeEx(LPVOID, DWORD) {
  return S_OK;
}
void CoUninitialize() {}

HRESULT StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
  const std::string text = kelvo::platform::GuidToString(guid);
  if (buffer == nullptr || cchMax < static_cast<int>(text.size()) + 1) return 0;
  for (size_t i = 0; i < text.size(); ++i) buffer[i] = static_cast<WCHAR>(text[i]);
  buffer[text.size()] = 0;
  return static_cast<HRESULT>(text.size() + 1);
}

namespace {

// Modules stay loaded for the life of the process, as objects they serve may
// outlive any one activation.
std::mutex g_modulesMutex;
std::map<std::string, void*> g_modules;

typedef HRESULT (*GetClassObjectFn)(REFCLSID, REFIID, void**);

}  // namespace

// Only a module the registry names by absolute path, and that nobody but
// the user or root can have changed, is loaded: never one found through the
// current folder or the library search path.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD, LPVOID, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  kelvo::platform::RegisteredClass record;
  if (const auto lookup = kelvo::platform::LookUpRegisteredClass(rclsid, &record); !lookup.Ok())
    return lookup.code;
  void* handle = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_modulesMutex);
    auto found = g_modules.find(record.module);
    if (found != g_modules.end()) {
      handle = found->second;
    } else {
      if (const auto check = kelvo::platform::CheckModuleFile(record.module); !check.Ok())
        return check.code;
      handle = dlopen(record.module.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle == nullptr) return CO_E_DLLNOTFOUND;
      g_modules[record.module] = handle;
    }
  }
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
  if (getClassObject == nullptr) return CO_E_ERRORINDLL;
  return getClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  return hr;
}

namespace {
char g_moduleMarker;
}

HINSTANCE KelvoModuleInstance() {
  return reinterpret_cast<HINSTANCE>(&g_moduleMarker);
}
