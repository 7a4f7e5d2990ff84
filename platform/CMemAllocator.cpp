#include "platform/CMemAllocator.h"

#include <cstdint>

#include "platform/CMediaSample.h"

CMemAllocator::CMemAllocator(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr) : CUnknown(name, outer) {
  if (phr != nullptr) *phr = S_OK;
}

CMemAllocator::~CMemAllocator() {
  std::lock_guard<std::mutex> lock(m_mutex);
  FreeBuffersLocked();
}

STDMETHODIMP CMemAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IMemAllocator))
    return GetInterface(static_cast<IMemAllocator*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                          ALLOCATOR_PROPERTIES* pActual) {
  if (pRequest == nullptr || pActual == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_committed) return VFW_E_ALREADY_COMMITTED;
  if (m_samples.size() != m_free.size()) return VFW_E_BUFFERS_OUTSTANDING;
  const long align = pRequest->cbAlign == 0 ? 1 : pRequest->cbAlign;
  if (align < 0 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
  if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0)
    return E_INVALIDARG;
  m_props = *pRequest;
  m_props.cbAlign = align;
  // Buffers are laid out with prefix and size rounded up to the alignment.
  const long unit = (m_props.cbBuffer + m_props.cbPrefix + align - 1) / align * align;
  m_props.cbBuffer = unit - m_props.cbPrefix;
  m_propsSet = true;
  *pActual = m_props;
  return S_OK;
}

STDMETHODIMP CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
  if (pProps == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(m_mutex);
  *pProps = m_props;
  return S_OK;
}

STDMETHODIMP CMemAllocator::Commit() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_propsSet) return VFW_E_SIZENOTSET;
  if (m_committed) return S_OK;
  if (m_samples.empty()) {
    const size_t unit = static_cast<size_t>(m_props.cbBuffer + m_props.cbPrefix);
    const size_t align = static_cast<size_t>(m_props.cbAlign);
    const size_t count = static_cast<size_t>(m_props.cBuffers);
    if (count != 0 && unit > (SIZE_MAX - align) / count) return E_OUTOFMEMORY;
    m_memory.reset(static_cast<BYTE*>(std::calloc(unit * count + align, 1)));
    if (!m_memory) return E_OUTOFMEMORY;
    try {
      m_samples.reserve(count);
      m_free.reserve(count);
    } catch (const std::bad_alloc&) {
      m_memory.reset();
      return E_OUTOFMEMORY;
    }
    const auto base = reinterpret_cast<uintptr_t>(m_memory.get());
    BYTE* first = m_memory.get() + ((align - base % align) % align);
    for (long i = 0; i < m_props.cBuffers; ++i) {
      auto* sample = new CMediaSample(
          this, first + unit * static_cast<size_t>(i) + static_cast<size_t>(m_props.cbPrefix),
          m_props.cbBuffer);
      m_samples.push_back(sample);
      m_free.push_back(sample);
    }
  }
  m_committed = true;
  return S_OK;
}

STDMETHODIMP CMemAllocator::Decommit() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_committed = false;
  if (m_free.size() == m_samples.size()) FreeBuffersLocked();
  m_returned.notify_all();
  return S_OK;
}

STDMETHODIMP CMemAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD) {
  if (ppBuffer == nullptr) return E_POINTER;
  *ppBuffer = nullptr;
  CMediaSample* sample = nullptr;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_returned.wait(lock, [this] { return !m_committed || !m_free.empty(); });
    if (!m_committed) return VFW_E_NOT_COMMITTED;
    sample = m_free.back();
    m_free.pop_back();
  }
  // An outstanding sample keeps its allocator alive.
  NonDelegatingAddRef();
  sample->ResetProperties();
  sample->m_cRef = 1;
  if (pStartTime != nullptr) sample->SetTime(pStartTime, pEndTime);
  *ppBuffer = sample;
  return S_OK;
}

STDMETHODIMP CMemAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
  if (pBuffer == nullptr) return E_POINTER;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_free.push_back(static_cast<CMediaSample*>(pBuffer));
    if (!m_committed && m_free.size() == m_samples.size()) FreeBuffersLocked();
    m_returned.notify_one();
  }
  NonDelegatingRelease();
  return S_OK;
}

void CMemAllocator::FreeBuffersLocked() {
  for (CMediaSample* sample : m_samples) delete sample;
  m_samples.clear();
  m_free.clear();
  m_memory.reset();
}
