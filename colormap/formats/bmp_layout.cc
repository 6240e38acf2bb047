#include "colormap/formats/bmp_layout.h"

#include "colormap/formats/bytes.h"

namespace bmp {

bool read_header(const unsigned char* data, std::size_t size, Header* header) {
  if (size < kFileHeaderSize + 4 || data[0] != 'B' || data[1] != 'M') return false;
  header->data_offset = le32_at(data + 10);
  header->info_size = le32_at(data + 14);
  const unsigned char* info = data + kFileHeaderSize;
  switch (header->info_size) {
    case kOs2InfoSize:
      if (size < kFileHeaderSize + kOs2InfoSize) return false;
      header->width = le16_at(info + 4);
      header->rows = le16_at(info + 6);
      header->top_down = false;
      header->bit_count = le16_at(info + 10);
      header->compression = kRgb;
      return true;
    case kInfoSize:
    case kV4InfoSize:
    case kV5InfoSize: {
      if (size < kFileHeaderSize + header->info_size) return false;
      header->width = le32_at(info + 4);
      const std::uint64_t height = le32_at(info + 8);
      header->top_down = height >= 0x80000000u;
      header->rows = header->top_down ? 0x100000000u - height : height;
      header->bit_count = le16_at(info + 14);
      header->compression = le32_at(info + 16);
      return true;
    }
    default:
      return false;
  }
}

bool combination_known(const Header& header) {
  switch (header.compression) {
    case kRgb:
      switch (header.bit_count) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
          return true;
        default:
          return false;
      }
    case kRle8:
      return header.bit_count == 8;
    case kRle4:
      return header.bit_count == 4;
    case kBitFields:
      return header.info_size != kOs2InfoSize && (header.bit_count == 16 || header.bit_count == 32);
    default:
      return false;
  }
}

bool masks_known(const unsigned char* masks, std::uint64_t bit_count, bool with_green) {
  const std::uint64_t red = le32_at(masks), green = le32_at(masks + 4), blue = le32_at(masks + 8);
  if (bit_count == 16) {
    if (blue != 0x001F) return false;
    if (red == 0x7C00) return !with_green || green == 0x03E0;
    if (red == 0xF800) return !with_green || green == 0x07E0;
    return false;
  }
  return bit_count == 32 && red == 0xFF0000 && blue == 0x0000FF &&
         (!with_green || green == 0x00FF00);
}

}  // namespace bmp
