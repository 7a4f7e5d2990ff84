#pragma once

// A property page built from a dialog resource. The frame calls SetObjects
// (connect/disconnect), Activate and Deactivate (create and destroy the
// dialog), Apply and IsPageDirty; derived pages fill the On... hooks.

#include "platform/CUnknown.h"

class CBasePropertyPage : public IPropertyPage, public CUnknown {
 public:
  CBasePropertyPage(LPCTSTR name, LPUNKNOWN outer, int dialogId, int titleId);
  ~CBasePropertyPage() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  STDMETHODIMP SetPageSite(IPropertyPageSite* pPageSite) override;
  STDMETHODIMP Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) override;
  STDMETHODIMP Deactivate() override;
  STDMETHODIMP GetPageInfo(PROPPAGEINFO* pPageInfo) override;
  STDMETHODIMP SetObjects(ULONG cObjects, IUnknown** ppUnk) override;
  STDMETHODIMP Show(UINT nCmdShow) override;
  STDMETHODIMP Move(LPCRECT pRect) override;
  STDMETHODIMP IsPageDirty() override;
  STDMETHODIMP Apply() override;
  STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG*) override { return E_NOTIMPL; }

  virtual HRESULT OnConnect(IUnknown*) { return S_OK; }
  virtual HRESULT OnDisconnect() { return S_OK; }
  virtual HRESULT OnActivate() { return S_OK; }
  virtual HRESULT OnDeactivate() { return S_OK; }
  virtual HRESULT OnApplyChanges() { return S_OK; }
  virtual INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

  HWND PageWindow() const { return m_Dlg; }

 protected:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

  HWND m_hwnd = nullptr;
  HWND m_Dlg = nullptr;
  IPropertyPageSite* m_pPageSite = nullptr;
  bool m_bDirty = false;
  bool m_bObjectSet = false;

 private:
  int m_DialogId;
  int m_TitleId;
};
