#pragma once

// An AM_MEDIA_TYPE that owns its format block, plus the free helpers for
// media types handed between objects.

#include "platform/Windows.h"

class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  explicit CMediaType(const GUID* majorType);
  CMediaType(const AM_MEDIA_TYPE& other, HRESULT* phr = nullptr);
  CMediaType(const CMediaType& other);
  ~CMediaType();
  CMediaType& operator=(const AM_MEDIA_TYPE& other);
  CMediaType& operator=(const CMediaType& other);
  bool operator==(const CMediaType& other) const;
  bool operator!=(const CMediaType& other) const { return !(*this == other); }

  // Deep copy; E_OUTOFMEMORY when the format block cannot be copied.
  HRESULT Set(const CMediaType& other);
  HRESULT Set(const AM_MEDIA_TYPE& other);
  bool IsValid() const;

  const GUID* Type() const { return &majortype; }
  void SetType(const GUID* type) { majortype = *type; }
  const GUID* Subtype() const { return &subtype; }
  void SetSubtype(const GUID* type) { subtype = *type; }
  const GUID* FormatType() const { return &formattype; }
  void SetFormatType(const GUID* type) { formattype = *type; }
  bool IsFixedSize() const { return bFixedSizeSamples != FALSE; }
  bool IsTemporalCompressed() const { return bTemporalCompression != FALSE; }
  ULONG GetSampleSize() const;
  void SetSampleSize(ULONG size);
  void SetVariableSize() { bFixedSizeSamples = FALSE; }
  void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }
  BYTE* Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }
  // Replaces the format block with one of `length` zeroed bytes; null when
  // the allocation fails.
  BYTE* AllocFormatBuffer(ULONG length);
  BYTE* ReallocFormatBuffer(ULONG length);
  BOOL SetFormat(const BYTE* format, ULONG length);
  void ResetFormatBuffer();
  void InitMediaType();
  // True when every field this type specifies matches `partial`, where
  // GUID_NULL in `partial` matches anything.
  bool MatchesPartial(const CMediaType* partial) const;
  bool IsPartiallySpecified() const;
};

void FreeMediaType(AM_MEDIA_TYPE& mt);
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src);
HRESULT CopyMediaType(AM_MEDIA_TYPE* dest, const AM_MEDIA_TYPE* src);

// Bytes of a frame: rows padded to 4 bytes, absolute height.
DWORD GetBitmapSize(const BITMAPINFOHEADER* header);

// The BITMAPINFOHEADER inside a VIDEOINFOHEADER or VIDEOINFOHEADER2 format
// block; null for any other format type or a block too short for it.
const BITMAPINFOHEADER* GetVideoBitmapHeader(const AM_MEDIA_TYPE* mt);
