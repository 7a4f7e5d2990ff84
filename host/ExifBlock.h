#pragma once

// A photo's EXIF block, read and rewritten through libexif.
//
// A copy of a photo turned upright must say so: its EXIF block travels
// with Orientation set to 1 (and the pixel dimensions, where recorded, those
// of the copy), or a viewer would turn the picture a second time. Everything
// else in the block is kept as it was read: tags libexif does not know, the
// maker note (not rewritten) and the thumbnail; libexif is told not to
// "fix" the block to the standard, which would add tags the camera never
// wrote.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct _ExifData;

namespace kelvo::host {

class ExifBlock {
 public:
  ExifBlock();
  ~ExifBlock();
  ExifBlock(const ExifBlock&) = delete;
  ExifBlock& operator=(const ExifBlock&) = delete;

  // Parses a block in its TIFF form (see ImageMetadata.h). False, with
  // *error set, when libexif finds no tag in it.
  bool Parse(const std::vector<uint8_t>& tiff, std::string* error);

  // The Orientation tag of the main image: 1 to 8, as the TIFF standard
  // numbers them; 1 when it is absent or holds another value.
  int Orientation() const;

  // Records that the picture is now stored upright at width x height:
  // Orientation 1 where the tag exists, and the EXIF pixel dimensions where
  // they exist.
  void MarkUpright(int width, int height);

  // Starts a new block for a still taken from a video: ImageDescription
  // (the source file's name, UTF-8 as exiftool reads it), UserComment (the
  // frame's stream time, "stream time 0:01:02.500 (62.500 s)": exif and
  // exiftool show it as text, and no standard tag holds a position in a
  // video), the pixel dimensions, and, when dateTime is given (UTC seconds
  // since 1970 and milliseconds), DateTimeOriginal with SubSecTimeOriginal
  // and OffsetTimeOriginal "+00:00" so no reader takes it for local time.
  // An empty sourceName leaves ImageDescription out; a date outside the
  // years 1 to 9999, which the tag cannot hold, leaves the date out. False,
  // with *error set, when libexif runs out of memory.
  bool CreateForStill(const std::string& sourceName, double streamTime, int width, int height,
                      const int64_t* dateTimeMs, std::string* error);

  // The block in its TIFF form again. False, with *error set, when libexif
  // cannot write it.
  bool Serialise(std::vector<uint8_t>* tiff, std::string* error) const;

 private:
  struct Unref {
    void operator()(_ExifData* data) const;
  };
  std::unique_ptr<_ExifData, Unref> data_;
};

}  // namespace kelvo::host
