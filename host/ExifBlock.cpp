#include "host/ExifBlock.h"

#include <libexif/exif-data.h>

#include <cstdint>
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
