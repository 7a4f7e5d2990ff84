#include "platform/CFactoryTemplate.h"

#include <new>

namespace {
std::atomic<long> g_serverLocks{0};
std::atomic<long> g_factories{0};
}  // namespace

CClassFactory::CClassFactory(const CFactoryTemplate* pTemplate) : m_pTemplate(pTemplate) {
  ++g_factories;
}

CClassFactory::~CClassFactory() {
  --g_factories;
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() {
  return static_cast<ULONG>(++m_cRef);
}

STDMETHODIMP_(ULONG) CClassFactory::Release() {
  const long left = --m_cRef;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP CClassFactory::CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** pv) {
  if (pv == nullptr) return E_POINTER;
  *pv = nullptr;
  // An aggregating outer object may only ask for the inner IUnknown.
  if (pUnkOuter != nullptr && !IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
  HRESULT hr = S_OK;
  CUnknown* object = m_pTemplate->CreateInstance(pUnkOuter, &hr);
  if (object == nullptr) return FAILED(hr) ? hr : E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete object;
    return hr;
  }
  // Hold the object across the query so a failed query frees it.
  object->NonDelegatingAddRef();
  hr = object->NonDelegatingQueryInterface(riid, pv);
  object->NonDelegatingRelease();
  return hr;
}

STDMETHODIMP CClassFactory::LockServer(BOOL fLock) {
  if (fLock)
    ++g_serverLocks;
  else
    --g_serverLocks;
  return S_OK;
}

bool CClassFactory::IsLocked() {
  return g_serverLocks.load() > 0;
}

STDAPI DllGetClassObject(REFCLSID rClsID, REFIID riid, void** pv) {
  if (pv == nullptr) return E_POINTER;
  *pv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
  for (int i = 0; i < g_cTemplates; ++i) {
    const CFactoryTemplate* entry = &g_Templates[i];
    if (!entry->IsClassID(rClsID)) continue;
    auto* factory = new (std::nothrow) CClassFactory(entry);
    if (factory == nullptr) return E_OUTOFMEMORY;
    factory->AddRef();
    *pv = static_cast<IClassFactory*>(factory);
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
  return CUnknown::ObjectCount() == 0 && !CClassFactory::IsLocked() && g_factories.load() == 0
             ? S_OK
             : S_FALSE;
}
