#include "platform/CBasePropertyPage.h"

#include "platform/ModuleInstance.h"
#include "platform/detail/WideString.h"

CBasePropertyPage::CBasePropertyPage(LPCTSTR name, LPUNKNOWN outer, int dialogId, int titleId)
    : CUnknown(name, outer), m_DialogId(dialogId), m_TitleId(titleId) {}

CBasePropertyPage::~CBasePropertyPage() {
  if (m_hwnd != nullptr) DestroyWindow(m_hwnd);
  if (m_pPageSite != nullptr) m_pPageSite->Release();
}

STDMETHODIMP CBasePropertyPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IPropertyPage))
    return GetInterface(static_cast<IPropertyPage*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBasePropertyPage::SetPageSite(IPropertyPageSite* pPageSite) {
  if (pPageSite != nullptr) {
    if (m_pPageSite != nullptr) return E_UNEXPECTED;
    m_pPageSite = pPageSite;
    m_pPageSite->AddRef();
  } else {
    if (m_pPageSite == nullptr) return E_UNEXPECTED;
    m_pPageSite->Release();
    m_pPageSite = nullptr;
  }
  return S_OK;
}

INT_PTR CALLBACK CBasePropertyPage::DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_INITDIALOG) {
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    auto* page = reinterpret_cast<CBasePropertyPage*>(lParam);
    if (page == nullptr) return TRUE;
    page->m_Dlg = hwnd;
    return page->OnReceiveMessage(hwnd, uMsg, wParam, lParam);
  }
  auto* page = reinterpret_cast<CBasePropertyPage*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (page == nullptr) return FALSE;
  return page->OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}

INT_PTR CBasePropertyPage::OnReceiveMessage(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

STDMETHODIMP CBasePropertyPage::Activate(HWND hWndParent, LPCRECT pRect, BOOL) {
  if (pRect == nullptr) return E_POINTER;
  if (!m_bObjectSet) return E_UNEXPECTED;
  if (m_hwnd != nullptr) return E_UNEXPECTED;
  m_hwnd = CreateDialogParamW(KelvoModuleInstance(), MAKEINTRESOURCEW(m_DialogId), hWndParent,
                              &CBasePropertyPage::DialogProc, reinterpret_cast<LPARAM>(this));
  if (m_hwnd == nullptr) return E_OUTOFMEMORY;
  m_Dlg = m_hwnd;
  OnActivate();
  Move(pRect);
  return Show(SW_SHOWNORMAL);
}

STDMETHODIMP CBasePropertyPage::Deactivate() {
  if (m_hwnd == nullptr) return E_UNEXPECTED;
  const HRESULT hr = OnDeactivate();
  DestroyWindow(m_hwnd);
  m_hwnd = nullptr;
  m_Dlg = nullptr;
  return hr;
}

STDMETHODIMP CBasePropertyPage::GetPageInfo(PROPPAGEINFO* pPageInfo) {
  if (pPageInfo == nullptr) return E_POINTER;
  WCHAR title[256] = {};
  LoadStringW(KelvoModuleInstance(), static_cast<UINT>(m_TitleId), title, 256);
  pPageInfo->cb = sizeof(PROPPAGEINFO);
  pPageInfo->pszTitle = kelvo::platform::detail::WideTaskMemCopy(title);
  if (pPageInfo->pszTitle == nullptr) return E_OUTOFMEMORY;
  pPageInfo->size.cx = 340;
  pPageInfo->size.cy = 150;
  pPageInfo->pszDocString = nullptr;
  pPageInfo->pszHelpFile = nullptr;
  pPageInfo->dwHelpContext = 0;
  return S_OK;
}

STDMETHODIMP CBasePropertyPage::SetObjects(ULONG cObjects, IUnknown** ppUnk) {
  if (cObjects == 1) {
    if (ppUnk == nullptr || *ppUnk == nullptr) return E_POINTER;
    m_bObjectSet = true;
    const HRESULT hr = OnConnect(*ppUnk);
    if (FAILED(hr)) m_bObjectSet = false;
    return hr;
  }
  if (cObjects == 0) {
    m_bObjectSet = false;
    return OnDisconnect();
  }
  return E_UNEXPECTED;
}

STDMETHODIMP CBasePropertyPage::Show(UINT nCmdShow) {
  if (m_hwnd == nullptr) return E_UNEXPECTED;
  ShowWindow(m_hwnd, static_cast<int>(nCmdShow));
  return S_OK;
}

STDMETHODIMP CBasePropertyPage::Move(LPCRECT pRect) {
  if (pRect == nullptr) return E_POINTER;
  if (m_hwnd == nullptr) return E_UNEXPECTED;
  MoveWindow(m_hwnd, pRect->left, pRect->top, pRect->right - pRect->left,
             pRect->bottom - pRect->top, TRUE);
  return S_OK;
}

STDMETHODIMP CBasePropertyPage::IsPageDirty() {
  return m_bDirty ? S_OK : S_FALSE;
}

STDMETHODIMP CBasePropertyPage::Apply() {
  if (!m_bObjectSet) return E_UNEXPECTED;
  if (m_pPageSite == nullptr) return E_UNEXPECTED;
  if (!m_bDirty) return S_OK;
  const HRESULT hr = OnApplyChanges();
  if (SUCCEEDED(hr)) m_bDirty = false;
  return hr;
}
