// ILBM and PBM pictures, decoded here and handed to the library as the
// equivalent 8-bit BMP. The library's LBM loader reads only by name, and it
// walks chunks its own way: it skips no pad byte after a CMAP, takes the
// first BMHD, and refuses mask planes and odd-width PBM rows.
#include <cstdint>

#include "colormap/formats/lbm_layout.h"
#include "colormap/gate/gate_reader.h"
#include "colormap/rewrite/image_rewrite.h"

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoSize = 40;
constexpr std::size_t kPaletteSize = 256 * 4;
constexpr std::size_t kPixelsAt = kFileHeaderSize + kInfoSize + kPaletteSize;

void put_le(unsigned char* at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Reads plane rows from a BODY, raw or ByteRun1. A run must end with its
// row, as each row is packed on its own.
class BodyReader {
 public:
  BodyReader(const unsigned char* data, std::size_t size, bool packed)
      : data_(data), size_(size), packed_(packed) {}

  bool row(unsigned char* out, std::size_t count) {
    if (!packed_) {
      if (size_ - at_ < count) return false;
      for (std::size_t i = 0; i < count; ++i) out[i] = data_[at_ + i];
      at_ += count;
      return true;
    }
    std::size_t i = 0;
    while (i < count) {
      if (at_ == size_) return false;
      const unsigned code = data_[at_++];
      if (code < 128) {
        const std::size_t run = code + 1;
        if (run > count - i || run > size_ - at_) return false;
        for (std::size_t k = 0; k < run; ++k) out[i + k] = data_[at_ + k];
        at_ += run;
        i += run;
      } else if (code > 128) {
        const std::size_t run = 257 - code;
        if (run > count - i || at_ == size_) return false;
        for (std::size_t k = 0; k < run; ++k) out[i + k] = data_[at_];
        ++at_;
        i += run;
      }
      // 128 is a no-op.
    }
    return true;
  }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  bool packed_;
};

// Decodes the BODY into `pixels`, bottom-up rows of `stride` bytes.
bool decode_body(const lbm::Picture& picture, std::uint64_t stride, unsigned char* pixels) {
  const lbm::Header& h = picture.header;
  BodyReader body(picture.body, picture.body_bytes, h.compression == 1);
  // Rows are padded to even length: ILBM plane rows to whole 16-bit words.
  const std::size_t row_bytes =
      static_cast<std::size_t>(h.pbm ? h.width + (h.width & 1) : (h.width + 15) / 16 * 2);
  unsigned char plane_row[65536];  // a 16-bit width: 65536 bytes at most
  for (std::uint64_t y = 0; y < h.height; ++y) {
    unsigned char* out = pixels + (h.height - 1 - y) * stride;
    if (h.pbm) {
      if (!body.row(plane_row, row_bytes)) return false;
      for (std::uint64_t x = 0; x < h.width; ++x) out[x] = plane_row[x];
      continue;
    }
    for (std::uint64_t plane = 0; plane < h.planes; ++plane) {
      if (!body.row(plane_row, row_bytes)) return false;
      for (std::uint64_t x = 0; x < h.width; ++x) {
        const unsigned bit = plane_row[x / 8] >> (7 - x % 8) & 1;
        out[x] = static_cast<unsigned char>(out[x] | bit << plane);
      }
    }
    // The mask plane follows the colour planes of each row; it holds no
    // index, so it is read past.
    if (h.masking == lbm::kMaskPlane && !body.row(plane_row, row_bytes)) return false;
  }
  return true;
}

}  // namespace

bool rewrite_lbm(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out) {
  lbm::Picture picture;
  if (!lbm::find_picture(data, size, &picture)) return false;
  const lbm::Header& h = picture.header;
  // Deep pictures are named by their depth from the header; hold-and-modify
  // codes are no palette indices.
  if (!lbm::layout_known(h) || lbm::is_deep(h) || lbm::is_ham(h)) return false;
  if (!gate_dimensions_ok(h.width, h.height)) return false;

  const std::uint64_t stride = (h.width + 3) / 4 * 4;
  out->assign(kPixelsAt + stride * h.height, 0);
  unsigned char* bmp = out->data();
  bmp[0] = 'B';
  bmp[1] = 'M';
  put_le(bmp + 2, out->size(), 4);
  put_le(bmp + 10, kPixelsAt, 4);
  put_le(bmp + 14, kInfoSize, 4);
  put_le(bmp + 18, h.width, 4);
  put_le(bmp + 22, h.height, 4);
  put_le(bmp + 26, 1, 2);  // planes
  put_le(bmp + 28, 8, 2);  // bits per pixel
  put_le(bmp + 34, stride * h.height, 4);
  put_le(bmp + 46, 256, 4);  // colours used
  // The colours play no part in the entry; they are kept for a faithful file.
  unsigned char* palette = bmp + kFileHeaderSize + kInfoSize;
  const std::size_t colours = picture.colour_bytes / 3 < 256 ? picture.colour_bytes / 3 : 256;
  for (std::size_t i = 0; i < colours; ++i) {
    palette[4 * i] = picture.colours[3 * i + 2];
    palette[4 * i + 1] = picture.colours[3 * i + 1];
    palette[4 * i + 2] = picture.colours[3 * i];
  }
  return decode_body(picture, stride, bmp + kPixelsAt);
}
