#include "host/ExifBlock.h"

#include <libexif/exif-data.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace kelvo::host {

namespace {

// exif_data_load_data finds the block by this header; a TIFF-form block
// gets it put in front, and exif_data_save_data puts it in front again.
constexpr unsigned char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

size_t CountEntries(ExifData* data) {
  size_t entries = 0;
  for (int ifd = 0; ifd < EXIF_IFD_COUNT; ++ifd)
    if (data->ifd[ifd] != nullptr) entries += data->ifd[ifd]->count;
  return entries;
}

// Sets a SHORT or LONG tag that exists; one that does not is not added.
void SetDimension(ExifData* data, ExifIfd ifd, ExifTag tag, int value) {
  ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag);
  if (entry == nullptr || entry->components != 1 || entry->data == nullptr) return;
  const ExifByteOrder order = exif_data_get_byte_order(data);
  if (entry->format == EXIF_FORMAT_SHORT && entry->size >= 2 && value <= 0xFFFF) {
    exif_set_short(entry->data, order, static_cast<ExifShort>(value));
  } else if (entry->format == EXIF_FORMAT_LONG && entry->size >= 4) {
    exif_set_long(entry->data, order, static_cast<ExifLong>(value));
  }
}

// Adds a tag with the given bytes (already in the block's byte order).
bool AddEntry(ExifData* data, ExifIfd ifd, ExifTag tag, ExifFormat format, unsigned long components,
              const void* bytes, size_t size) {
  if (size > std::numeric_limits<unsigned int>::max()) return false;
  ExifMem* mem = exif_mem_new_default();
  if (mem == nullptr) return false;
  ExifEntry* entry = exif_entry_new_mem(mem);
  void* copy =
      entry != nullptr && size > 0 ? exif_mem_alloc(mem, static_cast<ExifLong>(size)) : nullptr;
  const bool ok = entry != nullptr && (copy != nullptr || size == 0);
  if (ok) {
    if (size > 0) std::memcpy(copy, bytes, size);
    entry->tag = tag;
    entry->format = format;
    entry->components = components;
    entry->data = static_cast<unsigned char*>(copy);
    entry->size = static_cast<unsigned int>(size);
    exif_content_add_entry(data->ifd[ifd], entry);
  } else if (copy != nullptr) {
    exif_mem_free(mem, copy);
  }
  if (entry != nullptr) exif_entry_unref(entry);
  exif_mem_unref(mem);
  return ok;
}

bool AddAscii(ExifData* data, ExifIfd ifd, ExifTag tag, const std::string& text) {
  // The count includes the terminating zero.
  return AddEntry(data, ifd, tag, EXIF_FORMAT_ASCII, text.size() + 1, text.c_str(),
                  text.size() + 1);
}

bool AddLong(ExifData* data, ExifIfd ifd, ExifTag tag, uint32_t value) {
  unsigned char bytes[4];
  exif_set_long(bytes, exif_data_get_byte_order(data), value);
  return AddEntry(data, ifd, tag, EXIF_FORMAT_LONG, 1, bytes, sizeof bytes);
}

bool AddShort(ExifData* data, ExifIfd ifd, ExifTag tag, uint16_t value) {
  unsigned char bytes[2];
  exif_set_short(bytes, exif_data_get_byte_order(data), value);
  return AddEntry(data, ifd, tag, EXIF_FORMAT_SHORT, 1, bytes, sizeof bytes);
}

// "0:01:02.500 (62.500 s)": the clock form a player shows, and the seconds
// framegrab takes.
std::string StreamTimeText(double seconds) {
  const int64_t ms = std::llabs(std::llround(seconds * 1000.0));
  const char* sign = seconds <= -0.0005 ? "-" : "";
  char text[96];
  std::snprintf(text, sizeof text, "%s%lld:%02lld:%02lld.%03lld (%s%lld.%03lld s)", sign,
                static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000), sign,
                static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
  return text;
}

// Days since 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's
// civil_from_days), so the date never depends on the C library's gmtime
// or its range.
void CivilFromDays(int64_t days, int64_t* year, int* month, int* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (*month <= 2 ? 1 : 0);
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

}  // namespace

void ExifBlock::Unref::operator()(_ExifData* data) const { exif_data_unref(data); }

ExifBlock::ExifBlock() = default;
ExifBlock::~ExifBlock() = default;

bool ExifBlock::Parse(const std::vector<uint8_t>& tiff, std::string* error) {
  data_.reset();
  if (tiff.size() < 8 || tiff.size() > std::numeric_limits<unsigned int>::max() - sizeof kExifHeader) {
    *error = "the EXIF block is too short or too long to read";
    return false;
  }
  std::unique_ptr<_ExifData, Unref> data(exif_data_new());
  if (data == nullptr) {
    *error = "no memory to read the EXIF block";
    return false;
  }
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_set_option(data.get(), EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
  std::vector<unsigned char> block(kExifHeader, kExifHeader + sizeof kExifHeader);
  block.insert(block.end(), tiff.begin(), tiff.end());
  exif_data_load_data(data.get(), block.data(), static_cast<unsigned int>(block.size()));
  if (CountEntries(data.get()) == 0) {
    *error = "the EXIF block holds no tag libexif can read";
    return false;
  }
  data_ = std::move(data);
  return true;
}

int ExifBlock::Orientation() const {
  if (data_ == nullptr) return 1;
  ExifEntry* entry = exif_content_get_entry(data_->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  if (entry == nullptr || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 ||
      entry->data == nullptr || entry->size < 2) {
    return 1;
  }
  const int value = exif_get_short(entry->data, exif_data_get_byte_order(data_.get()));
  return value >= 1 && value <= 8 ? value : 1;
}

void ExifBlock::MarkUpright(int width, int height) {
  if (data_ == nullptr) return;
  ExifEntry* entry = exif_content_get_entry(data_->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  if (entry != nullptr && entry->format == EXIF_FORMAT_SHORT && entry->data != nullptr &&
      entry->size >= 2) {
    exif_set_short(entry->data, exif_data_get_byte_order(data_.get()), 1);
  }
  SetDimension(data_.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, width);
  SetDimension(data_.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION, height);
}

bool ExifBlock::CreateForStill(const std::string& sourceName, double streamTime, int width,
                               int height, const int64_t* dateTimeMs, std::string* error) {
  data_.reset();
  std::unique_ptr<_ExifData, Unref> data(exif_data_new());
  if (data == nullptr) {
    *error = "no memory for the EXIF block";
    return false;
  }
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_set_byte_order(data.get(), EXIF_BYTE_ORDER_INTEL);
  ExifData* d = data.get();
  bool ok = true;
  if (!sourceName.empty())
    ok = ok && AddAscii(d, EXIF_IFD_0, EXIF_TAG_IMAGE_DESCRIPTION, sourceName);
  static constexpr char kVersion[4] = {'0', '2', '3', '2'};
  ok = ok &&
       AddEntry(d, EXIF_IFD_EXIF, EXIF_TAG_EXIF_VERSION, EXIF_FORMAT_UNDEFINED, 4, kVersion, 4);
  if (dateTimeMs != nullptr) {
    const int64_t seconds = FloorDiv(*dateTimeMs, 1000);
    const int64_t ms = *dateTimeMs - seconds * 1000;
    const int64_t days = FloorDiv(seconds, 86400);
    const int64_t secondOfDay = seconds - days * 86400;
    int64_t year = 0;
    int month = 0, day = 0;
    // Years outside 1..9999 cannot be written in four digits; such a
    // creation time is a broken container, not a date.
    if (days > -800000000 && days < 800000000) CivilFromDays(days, &year, &month, &day);
    if (year >= 1 && year <= 9999) {
      char when[32], sub[8];
      std::snprintf(when, sizeof when, "%04d:%02d:%02d %02d:%02d:%02d", static_cast<int>(year),
                    month, day, static_cast<int>(secondOfDay / 3600),
                    static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
      std::snprintf(sub, sizeof sub, "%03d", static_cast<int>(ms));
      ok = ok && AddAscii(d, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL, when);
      ok = ok && AddAscii(d, EXIF_IFD_EXIF, EXIF_TAG_OFFSET_TIME_ORIGINAL, "+00:00");
      ok = ok && AddAscii(d, EXIF_IFD_EXIF, EXIF_TAG_SUB_SEC_TIME_ORIGINAL, sub);
    }
  }
  if (std::isfinite(streamTime) && std::fabs(streamTime) < 1e12) {
    // UserComment starts with the 8-byte name of its character code.
    std::string comment("ASCII\0\0\0", 8);
    comment += "stream time " + StreamTimeText(streamTime);
    ok = ok && AddEntry(d, EXIF_IFD_EXIF, EXIF_TAG_USER_COMMENT, EXIF_FORMAT_UNDEFINED,
                        comment.size(), comment.data(), comment.size());
  }
  ok = ok && AddShort(d, EXIF_IFD_EXIF, EXIF_TAG_COLOR_SPACE, 1);  // sRGB
  ok = ok && AddLong(d, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, static_cast<uint32_t>(width));
  ok = ok && AddLong(d, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION, static_cast<uint32_t>(height));
  if (!ok) {
    *error = "no memory for the EXIF block";
    return false;
  }
  data_ = std::move(data);
  return true;
}

bool ExifBlock::Serialise(std::vector<uint8_t>* tiff, std::string* error) const {
  tiff->clear();
  if (data_ == nullptr) {
    *error = "no EXIF block to write";
    return false;
  }
  unsigned char* bytes = nullptr;
  unsigned int size = 0;
  exif_data_save_data(data_.get(), &bytes, &size);
  const bool ok = bytes != nullptr && size > sizeof kExifHeader &&
                  std::memcmp(bytes, kExifHeader, sizeof kExifHeader) == 0;
  if (ok) tiff->assign(bytes + sizeof kExifHeader, bytes + size);
  std::free(bytes);  // exif_data_new's default allocator is malloc
  if (!ok) *error = "libexif could not write the EXIF block";
  return ok;
}

}  // namespace kelvo::host
