#include "filter/CFrameGrabFilterProperties.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "filter/FrameGrabFilterResources.h"
#include "filter/detail/ComGuard.h"

using kelvo::filter::detail::ComGuard;

CUnknown* WINAPI CFrameGrabFilterProperties::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* page = new (std::nothrow) CFrameGrabFilterProperties(outer, phr);
  if (page == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
  return page;
}

CFrameGrabFilterProperties::CFrameGrabFilterProperties(LPUNKNOWN outer, HRESULT* phr)
    : CBasePropertyPage(nullptr, outer, IDD_FRAMEGRABFILTER_PROPERTIES, IDS_FRAMEGRABFILTER_TITLE) {
  RegisterFrameGrabFilterResources();
  if (phr != nullptr) *phr = S_OK;
}

CFrameGrabFilterProperties::~CFrameGrabFilterProperties() {
  if (m_pFrameGrab != nullptr) m_pFrameGrab->Release();
}

HRESULT CFrameGrabFilterProperties::OnConnect(IUnknown* pUnknown) {
  return ComGuard([&]() -> HRESULT {
    if (pUnknown == nullptr) return E_POINTER;
    IFrameGrabFilter* filter = nullptr;
    if (FAILED(pUnknown->QueryInterface(IID_IFrameGrabFilter, reinterpret_cast<void**>(&filter))) ||
        filter == nullptr)
      return E_NOINTERFACE;
    if (m_pFrameGrab != nullptr) m_pFrameGrab->Release();
    m_pFrameGrab = filter;
    m_pFrameGrab->GetGrabParams(&m_params);
    m_initialized = FALSE;
    return S_OK;
  });
}

HRESULT CFrameGrabFilterProperties::OnDisconnect() {
  return ComGuard([&]() -> HRESULT {
    if (m_pFrameGrab == nullptr) return E_UNEXPECTED;
    m_pFrameGrab->Release();
    m_pFrameGrab = nullptr;
    return S_OK;
  });
}

HRESULT CFrameGrabFilterProperties::OnActivate() {
  return ComGuard([&]() -> HRESULT {
    char text[64];
    std::snprintf(text, sizeof text, "%g", m_params.grabTime);
    SetDlgItemTextA(m_Dlg, IDC_GRAB_TIME, text);
    std::snprintf(text, sizeof text, "%d", m_params.grabEnabled ? 1 : 0);
    SetDlgItemTextA(m_Dlg, IDC_GRAB_ENABLED, text);
    // Set last: the edit controls report the text set above as changes,
    // which must not make the page dirty.
    m_initialized = TRUE;
    return S_OK;
  });
}

HRESULT CFrameGrabFilterProperties::OnDeactivate() {
  return ComGuard([&]() -> HRESULT {
    m_initialized = FALSE;
    ReadControls();
    return S_OK;
  });
}

HRESULT CFrameGrabFilterProperties::OnApplyChanges() {
  return ComGuard([&]() -> HRESULT {
    ReadControls();
    if (m_pFrameGrab != nullptr) m_pFrameGrab->SetGrabParams(m_params);
    return S_OK;
  });
}

INT_PTR CFrameGrabFilterProperties::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam,
                                                     LPARAM lParam) {
  if (uMsg == WM_COMMAND) {
    if (m_initialized) {
      m_bDirty = true;
      if (m_pPageSite != nullptr) m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
    }
    return 1;
  }
  return CBasePropertyPage::OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}

// Text that is not a number reads as 0.
void CFrameGrabFilterProperties::ReadControls() {
  char text[256];
  GetDlgItemTextA(m_Dlg, IDC_GRAB_TIME, text, sizeof text);
  m_params.grabTime = std::atof(text);
  GetDlgItemTextA(m_Dlg, IDC_GRAB_ENABLED, text, sizeof text);
  m_params.grabEnabled = std::atoi(text) != 0;
}
