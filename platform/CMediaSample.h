#pragma once

// A buffer handed out by an allocator, with its times, flags and an optional
// attached media type. The last Release gives it back to its allocator; a
// sample made without one belongs to its creator, which may point it at
// memory held elsewhere (SetPointer) to lend a buffer without copying it.

#include <atomic>

#include "platform/Windows.h"

class CMemAllocator;

class CMediaSample : public IMediaSample {
 public:
  CMediaSample(CMemAllocator* allocator, BYTE* buffer, long length);
  virtual ~CMediaSample();
  CMediaSample(const CMediaSample&) = delete;
  CMediaSample& operator=(const CMediaSample&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
  STDMETHODIMP_(long) GetSize() override;
  STDMETHODIMP GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  STDMETHODIMP SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  STDMETHODIMP IsSyncPoint() override;
  STDMETHODIMP SetSyncPoint(BOOL bIsSyncPoint) override;
  STDMETHODIMP IsPreroll() override;
  STDMETHODIMP SetPreroll(BOOL bIsPreroll) override;
  STDMETHODIMP_(long) GetActualDataLength() override;
  STDMETHODIMP SetActualDataLength(long length) override;
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
  STDMETHODIMP IsDiscontinuity() override;
  STDMETHODIMP SetDiscontinuity(BOOL bDiscontinuity) override;
  STDMETHODIMP GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
  STDMETHODIMP SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

  // Clears times, flags and the attached type before the sample is reused.
  void ResetProperties();
  // Points the sample at `length` bytes the caller keeps alive while the
  // sample is in use; the data length becomes `length`.
  HRESULT SetPointer(BYTE* buffer, long length);

 private:
  friend class CMemAllocator;
  std::atomic<long> m_cRef{0};
  CMemAllocator* m_allocator;
  BYTE* m_buffer;
  long m_length;
  long m_actual;
  bool m_hasStart = false;
  bool m_hasStop = false;
  bool m_hasMediaTime = false;
  bool m_syncPoint = false;
  bool m_preroll = false;
  bool m_discontinuity = false;
  REFERENCE_TIME m_start = 0;
  REFERENCE_TIME m_stop = 0;
  LONGLONG m_mediaStart = 0;
  LONGLONG m_mediaStop = 0;
  AM_MEDIA_TYPE* m_type = nullptr;
};
