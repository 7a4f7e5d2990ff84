#pragma once

// IPersistStream for a filter: a version record followed by the filter's own
// data. The derived class writes and reads its data after the version and
// reports how large it can be; SetDirty marks unsaved changes.

#include "platform/Windows.h"

class CPersistStream : public IPersistStream {
 public:
  CPersistStream(IUnknown* punk, HRESULT* phr);
  virtual ~CPersistStream() = default;

  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(IStream* pStm) override;
  STDMETHODIMP Save(IStream* pStm, BOOL fClearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pcbSize) override;

  HRESULT SetDirty(BOOL fDirty);

  // The version written before the data; Load refuses a stream written by a
  // later version.
  virtual DWORD GetSoftwareVersion() { return 0; }
  virtual HRESULT WriteToStream(IStream*) { return S_OK; }
  virtual HRESULT ReadFromStream(IStream*) { return S_OK; }
  // Bytes of data beyond the version record.
  virtual int SizeMax() { return 0; }

 protected:
  DWORD mPS_dwFileVersion = 0;
  BOOL mPS_fDirty = FALSE;
};

// The version record: the number as 11 decimal digits and a space, in
// 16-bit characters.
HRESULT WriteInt(IStream* pIStream, int n);
int ReadInt(IStream* pIStream, HRESULT& hr);
