// libFuzzer target: the frame grab filter's IPersistStream::Load on arbitrary
// bytes, as a host restoring a saved graph would call it. The filter is made
// through the module's class factory for every input. Load must either
// succeed with exactly the settings the record holds or fail and leave the
// settings as they were; Save must then write the settings back as a record
// that loads again; GetSizeMax must answer. A crash, a sanitizer report, an
// escaped exception or a leak is a finding too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filter/CFrameGrabFilter.h"
#include "platform/CFactoryTemplate.h"
#include "tests/platform/MemoryStream.h"

namespace {

// The version record (0, as 11 digits and a space in 16-bit characters)
// followed by grabTime (8 bytes), grabEnabled and enhance (1 byte each).
constexpr size_t kVersionBytes = 24;
constexpr size_t kRecordBytes = kVersionBytes + sizeof(double) + 2;

void Fail(const char* what) {
  std::fprintf(stderr, "PersistStreamFuzzer: %s\n", what);
  std::abort();
}

IClassFactory* Factory() {
  static IClassFactory* factory = [] {
    void* object = nullptr;
    if (FAILED(DllGetClassObject(CLSID_FrameGrabFilter, IID_IClassFactory, &object)))
      Fail("no class factory for the filter");
    return static_cast<IClassFactory*>(object);
  }();
  return factory;
}

GrabParams Settings(IUnknown* filter) {
  IFrameGrabFilter* control = nullptr;
  if (FAILED(filter->QueryInterface(IID_IFrameGrabFilter, reinterpret_cast<void**>(&control))))
    Fail("no IFrameGrabFilter");
  GrabParams params{};
  if (control->GetGrabParams(&params) != S_OK) Fail("GetGrabParams failed");
  control->Release();
  return params;
}

// The bits of the time, so that NaNs and negative zero compare too.
bool SameTime(double a, const uint8_t* bytes) {
  return std::memcmp(&a, bytes, sizeof(double)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IPersistStream* persist = nullptr;
  if (FAILED(Factory()->CreateInstance(nullptr, IID_IPersistStream,
                                       reinterpret_cast<void**>(&persist))))
    Fail("filter could not be made with IPersistStream");

  MemoryStream in;
  in.bytes.assign(data, data + size);
  const HRESULT loaded = persist->Load(&in);
  const GrabParams after = Settings(persist);
  if (SUCCEEDED(loaded)) {
    if (loaded != S_OK) Fail("Load succeeded with a code other than S_OK");
    // Exactly one record is read, and what it holds becomes the settings.
    if (size < kRecordBytes || in.position != kRecordBytes) Fail("Load read past its record");
    if (!SameTime(after.grabTime, data + kVersionBytes) ||
        after.grabEnabled != (data[kVersionBytes + 8] != 0) ||
        after.enhance != (data[kVersionBytes + 9] != 0))
      Fail("loaded settings differ from the record");
    if (persist->IsDirty() != S_FALSE) Fail("dirty after a load");
  } else {
    const double zero = 0.0;
    if (!SameTime(after.grabTime, reinterpret_cast<const uint8_t*>(&zero)) || after.grabEnabled ||
        after.enhance)
      Fail("a failed load changed the settings");
  }

  MemoryStream out;
  if (persist->Save(&out, TRUE) != S_OK) Fail("Save failed");
  if (out.bytes.size() != kRecordBytes) Fail("Save wrote other than one record");
  static const char kVersion[] = "00000000000 ";
  for (size_t i = 0; i < kVersionBytes; ++i) {
    const uint8_t expected = i % 2 == 0 ? static_cast<uint8_t>(kVersion[i / 2]) : 0;
    if (out.bytes[i] != expected) Fail("Save wrote a bad version record");
  }
  if (!SameTime(after.grabTime, out.bytes.data() + kVersionBytes) ||
      out.bytes[kVersionBytes + 8] != (after.grabEnabled ? 1 : 0) ||
      out.bytes[kVersionBytes + 9] != (after.enhance ? 1 : 0))
    Fail("saved record differs from the settings");
  if (persist->IsDirty() != S_FALSE) Fail("dirty after a save that clears it");

  // What was saved loads again to the same settings.
  out.Rewind();
  if (persist->Load(&out) != S_OK) Fail("a saved record does not load");
  const GrabParams again = Settings(persist);
  if (std::memcmp(&again.grabTime, &after.grabTime, sizeof(double)) != 0 ||
      again.grabEnabled != after.grabEnabled || again.enhance != after.enhance)
    Fail("a saved record loads to other settings");

  ULARGE_INTEGER sizeMax{};
  if (persist->GetSizeMax(&sizeMax) != S_OK || sizeMax.QuadPart < kVersionBytes)
    Fail("GetSizeMax does not cover the version record");

  persist->Release();
  return 0;
}
