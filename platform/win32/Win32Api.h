#pragma once

// The Win32 and COM library calls the platform and the filter use, for the
// Linux build: critical sections, processor and system queries, task memory,
// activation of registered classes, and the dialog-window subset a property
// page needs.

#include <mutex>

#include "platform/win32/ComInterfaces.h"

// ---- Critical sections -------------------------------------------------------

typedef struct _CRITICAL_SECTION {
  std::recursive_mutex mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);

// ---- System queries ----------------------------------------------------------

#define PF_XMMI64_INSTRUCTIONS_AVAILABLE 10

// Answers PF_XMMI64_INSTRUCTIONS_AVAILABLE (SSE2) from the processor's CPUID
// bits; every other feature is reported absent.
BOOL IsProcessorFeaturePresent(DWORD feature);

// Test hook: 0 reports SSE2 absent, 1 present, -1 (the default) asks CPUID.
void KelvoSetReportedSse2(int state);

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

// Reports Windows 10.0 unless a test has asked for another major version.
BOOL GetVersionExA(LPOSVERSIONINFOA info);

// Test hook: the major version GetVersionExA reports from now on in this
// process (0 restores the default of 10).
void KelvoSetReportedOsMajorVersion(DWORD major);

// ---- COM library -------------------------------------------------------------

void* CoTaskMemAlloc(size_t cb);
void CoTaskMemFree(void* pv);

// Test hook: makes the next `count` CoTaskMemAlloc calls in this process fail.
void KelvoFailNextTaskMemAllocs(int count);

#define CLSCTX_INPROC_SERVER 0x1
#define COINIT_MULTITHREADED 0x0

HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();

// Activates a class registered in the file-based registry: loads its module
// and asks the module's DllGetClassObject for a factory.
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID reserved, REFIID riid,
                         LPVOID* ppv);

HRESULT StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax);

// ---- Windows, dialogs and resources ------------------------------------------

#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_DESTROY 0x0002
#define EN_CHANGE 0x0300
#define SW_SHOW 5
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define GW_CHILD 5
#define WS_CHILD 0x40000000L

#define MAKEINTRESOURCEW(i) ((LPCWSTR)(UINT_PTR)((WORD)(i)))
#define MAKEINTRESOURCE MAKEINTRESOURCEW
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)(((WORD)(l)) | ((DWORD)((WORD)(h))) << 16))

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

// The in-memory form of a dialog template: what a resource script declares.
struct KelvoDialogControl {
  int id;
  const char* className;  // "EDIT", "STATIC"
  const char* text;
  int x, y, cx, cy;  // dialog units
};

struct KelvoDialogTemplate {
  int id;
  const char* font;
  int pointSize;
  int cx, cy;  // dialog units
  const KelvoDialogControl* controls;
  int controlCount;
};

struct KelvoStringResource {
  int id;
  const char* text;
};

// Makes dialogs and strings known to CreateDialogParamW and LoadStringW of
// this module, as the resource section does on Windows.
void KelvoRegisterResources(const KelvoDialogTemplate* dialogs, int dialogCount,
                            const KelvoStringResource* strings, int stringCount);

HWND CreateDialogParamW(HINSTANCE hInstance, LPCWSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam);
BOOL DestroyWindow(HWND hwnd);
BOOL ShowWindow(HWND hwnd, int cmdShow);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
BOOL IsWindow(HWND hwnd);
HWND GetWindow(HWND hwnd, UINT cmd);
HWND GetDlgItem(HWND dialog, int id);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int maxCount);
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
int LoadStringW(HINSTANCE hInstance, UINT id, LPWSTR buffer, int bufferMax);
#define DWLP_USER 16
#define GWLP_USERDATA (-21)

// A top-level window that hosts property pages, as a property frame would.
HWND KelvoCreateHostWindow();
// Number of windows currently alive (dialogs and hosts).
int KelvoLiveWindowCount();
