#pragma once

// Basic Windows types, result codes and GUIDs for the Linux build. The names,
// sizes and values are those of the Windows SDK so that the platform and
// filter sources compile unchanged against <windows.h> on Windows; only
// platform/Windows.h decides which of the two is included.

#include <cstddef>
#include <cstdint>
#include <cstring>

#define WINAPI
#define CALLBACK
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDMETHOD(name) virtual HRESULT STDMETHODCALLTYPE name
#define STDMETHOD_(type, name) virtual type STDMETHODCALLTYPE name
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT STDAPICALLTYPE
#define PURE = 0
#define interface struct

typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t BOOL;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef char CHAR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef LONG_PTR INT_PTR;
typedef DWORD LCID;
typedef LONGLONG REFERENCE_TIME;
typedef void* LPVOID;
typedef void* HANDLE;
typedef HANDLE HEVENT;
typedef HANDLE HSEMAPHORE;
typedef BYTE* LPBYTE;
typedef char* LPSTR;
typedef const char* LPCSTR;

// Wide characters are 16-bit code units, as on Windows, so records such as
// SnapshotRequest have the same layout on both systems.
typedef char16_t WCHAR;
typedef WCHAR OLECHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPOLESTR;
typedef const WCHAR* LPCOLESTR;
typedef LPCWSTR LPCTSTR;
typedef WCHAR TCHAR;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// Wide string literal: u"..." here, L"..." with the Windows headers.
#define KELVO_W(s) u##s

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER;

typedef union _ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
} ULARGE_INTEGER;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *LPRECT;
typedef const RECT* LPCRECT;

typedef struct tagSIZE {
  LONG cx;
  LONG cy;
} SIZE;

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT;

struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *LPMSG;

// ---- Result codes -------------------------------------------------------

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define KELVO_HR(v) ((HRESULT)(v))

#define S_OK KELVO_HR(0x00000000L)
#define NOERROR S_OK
#define S_FALSE KELVO_HR(0x00000001L)
#define E_NOTIMPL KELVO_HR(0x80004001L)
#define E_NOINTERFACE KELVO_HR(0x80004002L)
#define E_POINTER KELVO_HR(0x80004003L)
#define E_ABORT KELVO_HR(0x80004004L)
#define E_FAIL KELVO_HR(0x80004005L)
#define E_UNEXPECTED KELVO_HR(0x8000FFFFL)
#define E_ACCESSDENIED KELVO_HR(0x80070005L)
#define E_OUTOFMEMORY KELVO_HR(0x8007000EL)
#define E_INVALIDARG KELVO_HR(0x80070057L)
#define CLASS_E_NOAGGREGATION KELVO_HR(0x80040110L)
#define CLASS_E_CLASSNOTAVAILABLE KELVO_HR(0x80040111L)
#define REGDB_E_READREGDB KELVO_HR(0x80040150L)
#define REGDB_E_CLASSNOTREG KELVO_HR(0x80040154L)
#define CO_E_DLLNOTFOUND KELVO_HR(0x800401F8L)
#define CO_E_ERRORINDLL KELVO_HR(0x800401F9L)
#define SELFREG_E_CLASS KELVO_HR(0x80040201L)
#define STG_E_READFAULT KELVO_HR(0x8003001EL)
#define STG_E_WRITEFAULT KELVO_HR(0x8003001DL)
#define STG_E_INVALIDFUNCTION KELVO_HR(0x80030001L)
#define STG_E_MEDIUMFULL KELVO_HR(0x80030070L)

// Graph events: codes from EC_USER up are the filters' own.
#define EC_USER 0x8000

#define VFW_S_NO_MORE_ITEMS KELVO_HR(0x00040103L)
#define VFW_S_STATE_INTERMEDIATE KELVO_HR(0x00040237L)
#define VFW_S_NO_STOP_TIME KELVO_HR(0x00040270L)
#define VFW_E_MEDIA_TIME_NOT_SET KELVO_HR(0x80040251L)
#define VFW_E_INVALIDMEDIATYPE KELVO_HR(0x80040200L)
#define VFW_E_ENUM_OUT_OF_SYNC KELVO_HR(0x80040203L)
#define VFW_E_ALREADY_CONNECTED KELVO_HR(0x80040204L)
#define VFW_E_NO_ACCEPTABLE_TYPES KELVO_HR(0x80040207L)
#define VFW_E_INVALID_DIRECTION KELVO_HR(0x80040208L)
#define VFW_E_NOT_CONNECTED KELVO_HR(0x80040209L)
#define VFW_E_NO_ALLOCATOR KELVO_HR(0x8004020AL)
#define VFW_E_BUFFER_OVERFLOW KELVO_HR(0x8004020DL)
#define VFW_E_BADALIGN KELVO_HR(0x8004020EL)
#define VFW_E_ALREADY_COMMITTED KELVO_HR(0x8004020FL)
#define VFW_E_BUFFERS_OUTSTANDING KELVO_HR(0x80040210L)
#define VFW_E_NOT_COMMITTED KELVO_HR(0x80040211L)
#define VFW_E_SIZENOTSET KELVO_HR(0x80040212L)
#define VFW_E_NOT_FOUND KELVO_HR(0x80040216L)
#define VFW_E_NOT_STOPPED KELVO_HR(0x80040224L)
#define VFW_E_WRONG_STATE KELVO_HR(0x80040227L)
#define VFW_E_TYPE_NOT_ACCEPTED KELVO_HR(0x8004022AL)
#define VFW_E_SAMPLE_TIME_NOT_SET KELVO_HR(0x80040249L)

// ---- GUIDs --------------------------------------------------------------

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef CLSID* LPCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator==(REFGUID a, REFGUID b) {
  return IsEqualGUID(a, b);
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

// DEFINE_GUID gives one constant per program, as with INITGUID on Windows.
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
