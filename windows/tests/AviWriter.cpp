#include "windows/tests/AviWriter.h"

#include <cstdio>

namespace {

class Buffer {
 public:
  void Fourcc(const char* code) { bytes_.insert(bytes_.end(), code, code + 4); }
  void U16(uint32_t v) {
    for (int i = 0; i < 2; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Bytes(const std::vector<uint8_t>& b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
  // Starts a chunk (or a list when `listType` is given) and returns where its
  // size goes; End fills it in.
  size_t Begin(const char* id, const char* listType = nullptr) {
    Fourcc(id);
    const size_t sizeAt = bytes_.size();
    U32(0);
    if (listType != nullptr) Fourcc(listType);
    return sizeAt;
  }
  void End(size_t sizeAt) {
    const auto size = static_cast<uint32_t>(bytes_.size() - sizeAt - 4);
    for (int i = 0; i < 4; ++i) bytes_[sizeAt + i] = static_cast<uint8_t>(size >> (8 * i));
    if (size % 2 != 0) bytes_.push_back(0);
  }
  size_t Size() const { return bytes_.size(); }
  const std::vector<uint8_t>& Data() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

constexpr uint32_t kHasIndex = 0x10;
constexpr uint32_t kKeyFrame = 0x10;

}  // namespace

std::vector<uint8_t> GreyYuy2Frame(int width, int height, uint8_t y) {
  static const int kPattern[4] = {-6, -2, 2, 6};
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 2);
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      const size_t i = (static_cast<size_t>(row) * width + x) * 2;
      frame[i] = static_cast<uint8_t>(y + kPattern[(x + row) % 4]);
      frame[i + 1] = 128;
    }
  }
  return frame;
}

bool WriteYuy2Avi(const std::wstring& path, const AviVideo& video) {
  const auto frameBytes = static_cast<uint32_t>(video.width * video.height * 2);
  const auto count = static_cast<uint32_t>(video.frames.size());
  Buffer b;
  const size_t riff = b.Begin("RIFF", "AVI ");
  const size_t hdrl = b.Begin("LIST", "hdrl");
  const size_t avih = b.Begin("avih");
  b.U32(1000000 / video.framesPerSecond);  // microseconds per frame
  b.U32(frameBytes * video.framesPerSecond);
  b.U32(0);  // padding granularity
  b.U32(kHasIndex);
  b.U32(count);
  b.U32(0);  // initial frames
  b.U32(1);  // streams
  b.U32(frameBytes);
  b.U32(video.width);
  b.U32(video.height);
  for (int i = 0; i < 4; ++i) b.U32(0);
  b.End(avih);
  const size_t strl = b.Begin("LIST", "strl");
  const size_t strh = b.Begin("strh");
  b.Fourcc("vids");
  b.Fourcc("YUY2");
  b.U32(0);  // flags
  b.U16(0);  // priority
  b.U16(0);  // language
  b.U32(0);  // initial frames
  b.U32(1);  // scale
  b.U32(video.framesPerSecond);
  b.U32(0);  // start
  b.U32(count);
  b.U32(frameBytes);
  b.U32(0xFFFFFFFFu);  // quality: default
  b.U32(0);            // sample size: varies per chunk
  b.U16(0);
  b.U16(0);
  b.U16(video.width);
  b.U16(video.height);
  b.End(strh);
  const size_t strf = b.Begin("strf");
  b.U32(40);
  b.U32(video.width);
  b.U32(video.height);
  b.U16(1);
  b.U16(16);
  b.Fourcc("YUY2");
  b.U32(frameBytes);
  for (int i = 0; i < 4; ++i) b.U32(0);
  b.End(strf);
  b.End(strl);
  b.End(hdrl);

  const size_t movi = b.Begin("LIST", "movi");
  const size_t moviStart = movi + 4;  // index offsets count from the 'movi' code
  std::vector<uint32_t> offsets;
  for (const auto& frame : video.frames) {
    offsets.push_back(static_cast<uint32_t>(b.Size() - moviStart));
    const size_t chunk = b.Begin("00db");
    b.Bytes(frame);
    b.End(chunk);
  }
  b.End(movi);
  const size_t idx1 = b.Begin("idx1");
  for (uint32_t offset : offsets) {
    b.Fourcc("00db");
    b.U32(kKeyFrame);
    b.U32(offset);
    b.U32(frameBytes);
  }
  b.End(idx1);
  b.End(riff);

  FILE* file = _wfopen(path.c_str(), L"wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(b.Data().data(), 1, b.Size(), file) == b.Size();
  return std::fclose(file) == 0 && ok;
}
