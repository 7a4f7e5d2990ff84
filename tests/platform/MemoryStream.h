#pragma once

// An IStream over a byte vector, for persistence tests.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/Windows.h"

class MemoryStream final : public IStream {
 public:
  std::vector<BYTE> bytes;
  size_t position = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IStream) ||
        IsEqualGUID(riid, IID_ISequentialStream)) {
      *ppv = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the test's stack.
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }

  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    const size_t n = std::min<size_t>(cb, bytes.size() - std::min(position, bytes.size()));
    if (n != 0) std::memcpy(pv, bytes.data() + position, n);
    position += n;
    if (pcbRead != nullptr) *pcbRead = static_cast<ULONG>(n);
    return n == cb ? S_OK : S_FALSE;
  }
  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (bytes.size() < position + cb) bytes.resize(position + cb);
    std::memcpy(bytes.data() + position, pv, cb);
    position += cb;
    if (pcbWritten != nullptr) *pcbWritten = cb;
    return S_OK;
  }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    const long long base = origin == STREAM_SEEK_SET   ? 0
                           : origin == STREAM_SEEK_CUR ? static_cast<long long>(position)
                                                       : static_cast<long long>(bytes.size());
    position = static_cast<size_t>(base + move.QuadPart);
    if (newPosition != nullptr) newPosition->QuadPart = position;
    return S_OK;
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

  void Rewind() { position = 0; }

 private:
  std::atomic<ULONG> refs{1};
};
