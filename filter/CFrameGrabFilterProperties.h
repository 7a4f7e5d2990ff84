#pragma once

// The filter's property page: the grab time and the grab switch, edited as
// text and applied through IFrameGrabFilter::SetGrabParams.

#include "filter/IFrameGrabFilter.h"
#include "platform/CBasePropertyPage.h"

class CFrameGrabFilterProperties : public CBasePropertyPage {
 public:
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  CFrameGrabFilterProperties(LPUNKNOWN outer, HRESULT* phr);
  ~CFrameGrabFilterProperties() override;

  HRESULT OnConnect(IUnknown* pUnknown) override;
  HRESULT OnDisconnect() override;
  HRESULT OnActivate() override;
  HRESULT OnDeactivate() override;
  HRESULT OnApplyChanges() override;
  INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

 private:
  void ReadControls();

  BOOL m_initialized = FALSE;
  IFrameGrabFilter* m_pFrameGrab = nullptr;
  GrabParams m_params{0.0, false, false};
};
