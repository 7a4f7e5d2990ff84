#pragma once

// The module's class table and the class factory built from it. A module
// defines g_Templates and g_cTemplates; DllGetClassObject hands out a
// factory for any class in the table, and AMovieDllRegisterServer2 writes or
// removes the table's entries in the registry.

#include "platform/CUnknown.h"
#include "platform/FilterSetup.h"

// WINAPI: the creation functions use the system calling convention, which
// differs from the default on 32-bit Windows.
typedef CUnknown*(WINAPI* LPFNNewCOMObject)(LPUNKNOWN pUnkOuter, HRESULT* phr);
typedef void (*LPFNInitRoutine)(BOOL bLoading, const CLSID* rclsid);

class CFactoryTemplate {
 public:
  const WCHAR* m_Name;
  const CLSID* m_ClsID;
  LPFNNewCOMObject m_lpfnNew;
  LPFNInitRoutine m_lpfnInit;
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

  bool IsClassID(REFCLSID rclsid) const { return IsEqualCLSID(*m_ClsID, rclsid); }
  CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) const { return m_lpfnNew(pUnk, phr); }
};

extern CFactoryTemplate g_Templates[];
extern int g_cTemplates;

class CClassFactory final : public IClassFactory {
 public:
  explicit CClassFactory(const CFactoryTemplate* pTemplate);
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** pv) override;
  STDMETHODIMP LockServer(BOOL fLock) override;
  static bool IsLocked();

 private:
  ~CClassFactory();
  std::atomic<long> m_cRef{0};
  const CFactoryTemplate* m_pTemplate;
};

// Registers (TRUE) or unregisters (FALSE) every class of g_Templates.
HRESULT AMovieDllRegisterServer2(BOOL bRegister);

// The framework's COM entry points; a module exports them under the names
// DllGetClassObject and DllCanUnloadNow.
STDAPI DllGetClassObject(REFCLSID rClsID, REFIID riid, void** pv);
STDAPI DllCanUnloadNow();
