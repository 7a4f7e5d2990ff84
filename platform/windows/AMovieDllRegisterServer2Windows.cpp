#include <string>

#include "platform/CFactoryTemplate.h"
#include "platform/ModuleInstance.h"

namespace {

constexpr DWORD kFilterDataVersion = 1;

std::wstring ClassKey(REFCLSID clsid) {
  WCHAR text[40] = {};
  StringFromGUID2(clsid, text, 40);
  return std::wstring(L"CLSID\\") + text;
}

bool SetString(HKEY key, LPCWSTR name, const std::wstring& value) {
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        bytes) == ERROR_SUCCESS;
}

// HKCR\CLSID\{clsid} named after the class, with InprocServer32 naming this
// module. ThreadingModel Both: the objects may be used from any apartment,
// since the filter's streaming runs on the upstream thread.
HRESULT RegisterComClass(const CFactoryTemplate& entry, const std::wstring& modulePath) {
  HKEY classKey = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, ClassKey(*entry.m_ClsID).c_str(), 0, nullptr, 0, KEY_WRITE,
                      nullptr, &classKey, nullptr) != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  HKEY serverKey = nullptr;
  bool ok = SetString(classKey, nullptr, entry.m_Name) &&
            RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                            &serverKey, nullptr) == ERROR_SUCCESS;
  if (ok)
    ok = SetString(serverKey, nullptr, modulePath) &&
         SetString(serverKey, L"ThreadingModel", L"Both");
  if (serverKey != nullptr) RegCloseKey(serverKey);
  RegCloseKey(classKey);
  return ok ? S_OK : SELFREG_E_CLASS;
}

// A class that is not registered is already in the wanted state.
HRESULT UnregisterComClass(const CFactoryTemplate& entry) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(*entry.m_ClsID).c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}

// Writes or removes the filter's entry in the DirectShow filter category,
// where graph builders and filter lists find it by name, merit and pins.
HRESULT MapFilter(IFilterMapper2* mapper, const AMOVIESETUP_FILTER& setup, BOOL bRegister) {
  if (!bRegister) {
    const HRESULT hr =
        mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, *setup.clsID);
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : hr;
  }
  REGFILTER2 data{};
  data.dwVersion = kFilterDataVersion;
  data.dwMerit = setup.dwMerit;
  data.cPins = setup.nPins;
  data.rgPins = setup.lpPin;
  return mapper->RegisterFilter(*setup.clsID, setup.strName, nullptr, &CLSID_LegacyAmFilterCategory,
                                nullptr, &data);
}

HRESULT MapFilters(BOOL bRegister) {
  const HRESULT init = CoInitialize(nullptr);
  IFilterMapper2* mapper = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
  for (int i = 0; SUCCEEDED(hr) && i < g_cTemplates; ++i) {
    if (const AMOVIESETUP_FILTER* setup = g_Templates[i].m_pAMovieSetup_Filter; setup != nullptr)
      hr = MapFilter(mapper, *setup, bRegister);
  }
  if (mapper != nullptr) mapper->Release();
  if (SUCCEEDED(init)) CoUninitialize();
  return hr;
}

}  // namespace

// Registration writes the COM classes first, so the filter mapper can find
// the filter's module; unregistration removes the mapper entries first.
HRESULT AMovieDllRegisterServer2(BOOL bRegister) {
  WCHAR modulePath[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(KelvoModuleInstance(), modulePath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_FAIL;

  if (!bRegister) {
    HRESULT hr = MapFilters(FALSE);
    for (int i = 0; i < g_cTemplates; ++i) {
      const HRESULT removed = UnregisterComClass(g_Templates[i]);
      if (SUCCEEDED(hr)) hr = removed;
    }
    return hr;
  }
  for (int i = 0; i < g_cTemplates; ++i) {
    const HRESULT hr = RegisterComClass(g_Templates[i], modulePath);
    if (FAILED(hr)) return hr;
  }
  return MapFilters(TRUE);
}
