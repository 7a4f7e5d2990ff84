#pragma once

// COM and media-graph interfaces with the Windows method order, and the
// records they exchange with the Windows layouts.

#include "platform/win32/Guids.h"
#include "platform/win32/WinTypes.h"

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;

 protected:
  ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : public IUnknown {
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppv) PURE;
  STDMETHOD(LockServer)(BOOL fLock) PURE;
};

struct IPersist : public IUnknown {
  STDMETHOD(GetClassID)(CLSID* pClassID) PURE;
};

struct ISequentialStream : public IUnknown {
  STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) PURE;
  STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) PURE;
};

struct STATSTG;

#define STREAM_SEEK_SET 0
#define STREAM_SEEK_CUR 1
#define STREAM_SEEK_END 2

struct IStream : public ISequentialStream {
  STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) PURE;
  STDMETHOD(SetSize)(ULARGE_INTEGER libNewSize) PURE;
  STDMETHOD(CopyTo)
  (IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) PURE;
  STDMETHOD(Commit)(DWORD grfCommitFlags) PURE;
  STDMETHOD(Revert)() PURE;
  STDMETHOD(LockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) PURE;
  STDMETHOD(UnlockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) PURE;
  STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) PURE;
  STDMETHOD(Clone)(IStream** ppstm) PURE;
};

struct IPersistStream : public IPersist {
  STDMETHOD(IsDirty)() PURE;
  STDMETHOD(Load)(IStream* pStm) PURE;
  STDMETHOD(Save)(IStream* pStm, BOOL fClearDirty) PURE;
  STDMETHOD(GetSizeMax)(ULARGE_INTEGER* pcbSize) PURE;
};

// ---- Media records --------------------------------------------------------

#pragma pack(push, 2)
typedef struct tagBITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
} BITMAPINFOHEADER;
#pragma pack(pop)
#define BI_RGB 0L

typedef struct tagVIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
} VIDEOINFOHEADER;

typedef struct tagVIDEOINFOHEADER2 {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  DWORD dwInterlaceFlags;
  DWORD dwCopyProtectFlags;
  DWORD dwPictAspectRatioX;
  DWORD dwPictAspectRatioY;
  union {
    DWORD dwControlFlags;
    DWORD dwReserved1;
  };
  DWORD dwReserved2;
  BITMAPINFOHEADER bmiHeader;
} VIDEOINFOHEADER2;

typedef struct _AMMediaType {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
} AM_MEDIA_TYPE;

typedef struct _AllocatorProperties {
  long cBuffers;
  long cbBuffer;
  long cbAlign;
  long cbPrefix;
} ALLOCATOR_PROPERTIES;

typedef enum _PinDirection { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 } PIN_DIRECTION;
typedef enum _FilterState { State_Stopped = 0, State_Paused = 1, State_Running = 2 } FILTER_STATE;

struct IBaseFilter;
struct IFilterGraph;
struct IPin;

typedef struct _PinInfo {
  IBaseFilter* pFilter;
  PIN_DIRECTION dir;
  WCHAR achName[128];
} PIN_INFO;

typedef struct _FilterInfo {
  WCHAR achName[128];
  IFilterGraph* pGraph;
} FILTER_INFO;

// ---- Media-graph interfaces -----------------------------------------------

struct IReferenceClock : public IUnknown {
  STDMETHOD(GetTime)(REFERENCE_TIME* pTime) PURE;
  STDMETHOD(AdviseTime)
  (REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
   DWORD_PTR* pdwAdviseCookie) PURE;
  STDMETHOD(AdvisePeriodic)
  (REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
   DWORD_PTR* pdwAdviseCookie) PURE;
  STDMETHOD(Unadvise)(DWORD_PTR dwAdviseCookie) PURE;
};

struct IEnumMediaTypes : public IUnknown {
  STDMETHOD(Next)(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(ULONG cMediaTypes) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumMediaTypes** ppEnum) PURE;
};

struct IPin : public IUnknown {
  STDMETHOD(Connect)(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(ReceiveConnection)(IPin* pConnector, const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(Disconnect)() PURE;
  STDMETHOD(ConnectedTo)(IPin** pPin) PURE;
  STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(QueryPinInfo)(PIN_INFO* pInfo) PURE;
  STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) PURE;
  STDMETHOD(QueryId)(LPWSTR* Id) PURE;
  STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) PURE;
  STDMETHOD(QueryInternalConnections)(IPin** apPin, ULONG* nPin) PURE;
  STDMETHOD(EndOfStream)() PURE;
  STDMETHOD(BeginFlush)() PURE;
  STDMETHOD(EndFlush)() PURE;
  STDMETHOD(NewSegment)(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) PURE;
};

struct IEnumPins : public IUnknown {
  STDMETHOD(Next)(ULONG cPins, IPin** ppPins, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(ULONG cPins) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumPins** ppEnum) PURE;
};

struct IMediaFilter : public IPersist {
  STDMETHOD(Stop)() PURE;
  STDMETHOD(Pause)() PURE;
  STDMETHOD(Run)(REFERENCE_TIME tStart) PURE;
  STDMETHOD(GetState)(DWORD dwMilliSecsTimeout, FILTER_STATE* State) PURE;
  STDMETHOD(SetSyncSource)(IReferenceClock* pClock) PURE;
  STDMETHOD(GetSyncSource)(IReferenceClock** pClock) PURE;
};

struct IBaseFilter : public IMediaFilter {
  STDMETHOD(EnumPins)(IEnumPins** ppEnum) PURE;
  STDMETHOD(FindPin)(LPCWSTR Id, IPin** ppPin) PURE;
  STDMETHOD(QueryFilterInfo)(FILTER_INFO* pInfo) PURE;
  STDMETHOD(JoinFilterGraph)(IFilterGraph* pGraph, LPCWSTR pName) PURE;
  STDMETHOD(QueryVendorInfo)(LPWSTR* pVendorInfo) PURE;
};

struct IEnumFilters;

struct IFilterGraph : public IUnknown {
  STDMETHOD(AddFilter)(IBaseFilter* pFilter, LPCWSTR pName) PURE;
  STDMETHOD(RemoveFilter)(IBaseFilter* pFilter) PURE;
  STDMETHOD(EnumFilters)(IEnumFilters** ppEnum) PURE;
  STDMETHOD(FindFilterByName)(LPCWSTR pName, IBaseFilter** ppFilter) PURE;
  STDMETHOD(ConnectDirect)(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(Reconnect)(IPin* ppin) PURE;
  STDMETHOD(Disconnect)(IPin* ppin) PURE;
  STDMETHOD(SetDefaultSyncSource)() PURE;
};

struct IMediaEventSink : public IUnknown {
  STDMETHOD(Notify)(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) PURE;
};

struct IMediaSample : public IUnknown {
  STDMETHOD(GetPointer)(BYTE** ppBuffer) PURE;
  STDMETHOD_(long, GetSize)() PURE;
  STDMETHOD(GetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) PURE;
  STDMETHOD(SetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) PURE;
  STDMETHOD(IsSyncPoint)() PURE;
  STDMETHOD(SetSyncPoint)(BOOL bIsSyncPoint) PURE;
  STDMETHOD(IsPreroll)() PURE;
  STDMETHOD(SetPreroll)(BOOL bIsPreroll) PURE;
  STDMETHOD_(long, GetActualDataLength)() PURE;
  STDMETHOD(SetActualDataLength)(long length) PURE;
  STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** ppMediaType) PURE;
  STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* pMediaType) PURE;
  STDMETHOD(IsDiscontinuity)() PURE;
  STDMETHOD(SetDiscontinuity)(BOOL bDiscontinuity) PURE;
  STDMETHOD(GetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) PURE;
  STDMETHOD(SetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) PURE;
};

struct IMemAllocator : public IUnknown {
  STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) PURE;
  STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* pProps) PURE;
  STDMETHOD(Commit)() PURE;
  STDMETHOD(Decommit)() PURE;
  STDMETHOD(GetBuffer)
  (IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
   DWORD dwFlags) PURE;
  STDMETHOD(ReleaseBuffer)(IMediaSample* pBuffer) PURE;
};

struct IMemInputPin : public IUnknown {
  STDMETHOD(GetAllocator)(IMemAllocator** ppAllocator) PURE;
  STDMETHOD(NotifyAllocator)(IMemAllocator* pAllocator, BOOL bReadOnly) PURE;
  STDMETHOD(GetAllocatorRequirements)(ALLOCATOR_PROPERTIES* pProps) PURE;
  STDMETHOD(Receive)(IMediaSample* pSample) PURE;
  STDMETHOD(ReceiveMultiple)(IMediaSample** pSamples, long nSamples, long* nSamplesProcessed) PURE;
  STDMETHOD(ReceiveCanBlock)() PURE;
};

struct IFileSinkFilter : public IUnknown {
  STDMETHOD(SetFileName)(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(GetCurFile)(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) PURE;
};

struct IAMovieSetup : public IUnknown {
  STDMETHOD(Register)() PURE;
  STDMETHOD(Unregister)() PURE;
};

// ---- Property pages ----------------------------------------------------------

typedef struct tagCAUUID {
  ULONG cElems;
  GUID* pElems;
} CAUUID;

typedef struct tagPROPPAGEINFO {
  ULONG cb;
  LPOLESTR pszTitle;
  SIZE size;
  LPOLESTR pszDocString;
  LPOLESTR pszHelpFile;
  DWORD dwHelpContext;
} PROPPAGEINFO;

#define PROPPAGESTATUS_DIRTY 0x1
#define PROPPAGESTATUS_VALIDATE 0x2
#define PROPPAGESTATUS_CLEAN 0x4

struct ISpecifyPropertyPages : public IUnknown {
  STDMETHOD(GetPages)(CAUUID* pPages) PURE;
};

struct IPropertyPageSite : public IUnknown {
  STDMETHOD(OnStatusChange)(DWORD dwFlags) PURE;
  STDMETHOD(GetLocaleID)(LCID* pLocaleID) PURE;
  STDMETHOD(GetPageContainer)(IUnknown** ppUnk) PURE;
  STDMETHOD(TranslateAccelerator)(MSG* pMsg) PURE;
};

struct IPropertyPage : public IUnknown {
  STDMETHOD(SetPageSite)(IPropertyPageSite* pPageSite) PURE;
  STDMETHOD(Activate)(HWND hWndParent, LPCRECT pRect, BOOL bModal) PURE;
  STDMETHOD(Deactivate)() PURE;
  STDMETHOD(GetPageInfo)(PROPPAGEINFO* pPageInfo) PURE;
  STDMETHOD(SetObjects)(ULONG cObjects, IUnknown** ppUnk) PURE;
  STDMETHOD(Show)(UINT nCmdShow) PURE;
  STDMETHOD(Move)(LPCRECT pRect) PURE;
  STDMETHOD(IsPageDirty)() PURE;
  STDMETHOD(Apply)() PURE;
  STDMETHOD(Help)(LPCOLESTR pszHelpDir) PURE;
  STDMETHOD(TranslateAccelerator)(MSG* pMsg) PURE;
};
