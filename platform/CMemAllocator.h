#pragma once

// An allocator of main-memory buffers. Properties are set while decommitted;
// Commit allocates the buffers, GetBuffer hands them out (waiting while all
// are in use), and Decommit frees them once the last one has come back.

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/CUnknown.h"

class CMediaSample;

class CMemAllocator : public CUnknown, public IMemAllocator {
 public:
  CMemAllocator(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr);
  ~CMemAllocator() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                             ALLOCATOR_PROPERTIES* pActual) override;
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
  STDMETHODIMP Commit() override;
  STDMETHODIMP Decommit() override;
  STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                         REFERENCE_TIME* pEndTime, DWORD dwFlags) override;
  STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

 private:
  void FreeBuffersLocked();

  std::mutex m_mutex;
  std::condition_variable m_returned;
  ALLOCATOR_PROPERTIES m_props{0, 0, 1, 0};
  bool m_propsSet = false;
  bool m_committed = false;
  struct FreeMemory {
    void operator()(BYTE* p) const noexcept { std::free(p); }
  };
  // From calloc: zeroed like the buffers of the allocator this one stands
  // in for, yet a large block is zero pages that cost nothing until a
  // sample is written, so buffers that never carry a frame are never
  // touched.
  std::unique_ptr<BYTE[], FreeMemory> m_memory;
  std::vector<CMediaSample*> m_samples;
  std::vector<CMediaSample*> m_free;
};
