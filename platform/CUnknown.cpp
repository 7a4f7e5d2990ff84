#include "platform/CUnknown.h"

namespace {
std::atomic<long> g_objectCount{0};
}

CUnknown::CUnknown(LPCTSTR, LPUNKNOWN outer)
    : m_inner(this), m_pUnknown(outer != nullptr ? outer : &m_inner) {
  ++g_objectCount;
}

CUnknown::CUnknown(LPCTSTR name, LPUNKNOWN outer, HRESULT*) : CUnknown(name, outer) {}

CUnknown::~CUnknown() {
  --g_objectCount;
}

long CUnknown::ObjectCount() {
  return g_objectCount.load();
}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown)) {
    GetInterface(&m_inner, ppv);
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() {
  return static_cast<ULONG>(++m_cRef);
}

ULONG CUnknown::NonDelegatingRelease() {
  const long left = --m_cRef;
  if (left == 0) {
    // Guard against a re-entrant release during destruction.
    m_cRef = 1;
    delete this;
    return 0;
  }
  return static_cast<ULONG>(left);
}

HRESULT GetInterface(LPUNKNOWN unk, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = unk;
  unk->AddRef();
  return S_OK;
}
