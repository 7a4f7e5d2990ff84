#pragma once

// Reference counting and interface lookup for every COM object of the
// framework. An object created inside an aggregate forwards its IUnknown
// calls to the outer object; the non-delegating methods give the outer
// object access to the inner one.

#include <atomic>

#include "platform/Windows.h"

struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};

class CUnknown : public INonDelegatingUnknown {
 public:
  CUnknown(LPCTSTR name, LPUNKNOWN outer);
  CUnknown(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr);
  virtual ~CUnknown();
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;

  // The IUnknown that receives this object's IUnknown calls: the outer
  // object when aggregated, else this object itself.
  LPUNKNOWN GetOwner() const { return m_pUnknown; }

  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  // Live framework objects in this module; DllCanUnloadNow answers from it.
  static long ObjectCount();

  // The non-delegating IUnknown as a real IUnknown: what an aggregating outer
  // object holds, and this object's identity when it is not aggregated.
  LPUNKNOWN GetInner() { return &m_inner; }

 protected:
  std::atomic<long> m_cRef{0};

 private:
  struct Inner final : public IUnknown {
    explicit Inner(CUnknown* self) : self(self) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      return self->NonDelegatingQueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return self->NonDelegatingAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return self->NonDelegatingRelease(); }
    CUnknown* self;
  };
  Inner m_inner;
  LPUNKNOWN m_pUnknown;
};

// Hands out an interface pointer with one reference added.
HRESULT GetInterface(LPUNKNOWN unk, void** ppv);

// Implements IUnknown for a class deriving from CUnknown and from interfaces:
// every call goes to the owner.
#define DECLARE_IUNKNOWN                                          \
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { \
    return GetOwner()->QueryInterface(riid, ppv);                 \
  }                                                               \
  STDMETHODIMP_(ULONG) AddRef() override {                        \
    return GetOwner()->AddRef();                                  \
  }                                                               \
  STDMETHODIMP_(ULONG) Release() override {                       \
    return GetOwner()->Release();                                 \
  }
