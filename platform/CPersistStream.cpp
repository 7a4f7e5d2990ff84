#include "platform/CPersistStream.h"

#include <cstdio>

namespace {
constexpr int kIntChars = 12;
}

CPersistStream::CPersistStream(IUnknown*, HRESULT*) {}

STDMETHODIMP CPersistStream::IsDirty() {
  return mPS_fDirty ? S_OK : S_FALSE;
}

HRESULT CPersistStream::SetDirty(BOOL fDirty) {
  mPS_fDirty = fDirty;
  return S_OK;
}

STDMETHODIMP CPersistStream::Load(IStream* pStm) {
  if (pStm == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  const int version = ReadInt(pStm, hr);
  if (FAILED(hr)) return hr;
  if (version < 0 || static_cast<DWORD>(version) > GetSoftwareVersion()) return E_FAIL;
  mPS_dwFileVersion = static_cast<DWORD>(version);
  hr = ReadFromStream(pStm);
  if (SUCCEEDED(hr)) mPS_fDirty = FALSE;
  return hr;
}

STDMETHODIMP CPersistStream::Save(IStream* pStm, BOOL fClearDirty) {
  if (pStm == nullptr) return E_POINTER;
  HRESULT hr = WriteInt(pStm, static_cast<int>(GetSoftwareVersion()));
  if (FAILED(hr)) return hr;
  hr = WriteToStream(pStm);
  if (FAILED(hr)) return hr;
  if (fClearDirty) mPS_fDirty = FALSE;
  return S_OK;
}

STDMETHODIMP CPersistStream::GetSizeMax(ULARGE_INTEGER* pcbSize) {
  if (pcbSize == nullptr) return E_POINTER;
  pcbSize->QuadPart =
      static_cast<ULONGLONG>(kIntChars * sizeof(WCHAR)) + static_cast<ULONGLONG>(SizeMax());
  return S_OK;
}

HRESULT WriteInt(IStream* pIStream, int n) {
  char text[kIntChars + 1];
  std::snprintf(text, sizeof text, "%011d ", n);
  WCHAR wide[kIntChars];
  for (int i = 0; i < kIntChars; ++i) wide[i] = static_cast<WCHAR>(text[i]);
  ULONG written = 0;
  const HRESULT hr = pIStream->Write(wide, sizeof wide, &written);
  if (FAILED(hr)) return hr;
  return written == sizeof wide ? S_OK : STG_E_MEDIUMFULL;
}

int ReadInt(IStream* pIStream, HRESULT& hr) {
  WCHAR wide[kIntChars];
  ULONG read = 0;
  hr = pIStream->Read(wide, sizeof wide, &read);
  if (FAILED(hr)) return 0;
  if (read != sizeof wide) {
    hr = STG_E_READFAULT;
    return 0;
  }
  long long value = 0;
  bool negative = false;
  int i = 0;
  while (i < kIntChars && wide[i] == u' ') ++i;
  if (i < kIntChars && wide[i] == u'-') {
    negative = true;
    ++i;
  }
  for (; i < kIntChars && wide[i] >= u'0' && wide[i] <= u'9'; ++i) {
    value = value * 10 + (wide[i] - u'0');
    if (value > 0x7fffffff) break;
  }
  if (i == 0 || value > 0x7fffffff) {
    hr = E_FAIL;
    return 0;
  }
  hr = S_OK;
  return static_cast<int>(negative ? -value : value);
}
