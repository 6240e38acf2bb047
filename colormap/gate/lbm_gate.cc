// The gate for load_lbm (Allegro's src/lbm.c): IFF ILBM and PBM.
#include <cstdint>

#include "colormap/formats/lbm_layout.h"
#include "colormap/gate/gate_reader.h"

namespace {

constexpr std::uint64_t kMaxMapBytes = lbm::kMaxColours * 3;

// The shape of the BODY as the loader decodes it (lbm.c:146-155): `rows`
// rows of `planes` plane rows of `row_bytes` bytes each.
struct BodyShape {
  std::uint64_t rows = 0;
  std::uint64_t planes = 0;
  std::uint64_t row_bytes = 0;
  bool compressed = false;
  // Bits of a decoded plane row that the loader ORs into columns at or past
  // the width (lbm.c:211-257): into the next row, or past the bitmap on the
  // last one. Set only when each plane row ends with a pad byte.
  std::uint64_t last_index = 0;
  std::uint64_t last_bits = 0;
  std::uint64_t pad_index = 0;
  std::uint64_t pad_bits = 0;
};

BodyShape body_shape(std::uint64_t width, std::uint64_t height, std::uint64_t planes, bool pbm,
                     bool compressed) {
  BodyShape shape;
  shape.rows = height;
  shape.compressed = compressed;
  if (pbm) {
    shape.planes = 1;
    shape.row_bytes = width;  // even: odd widths are refused
    return shape;
  }
  shape.planes = planes;
  const std::uint64_t data_bytes = (width + 7) / 8;
  shape.row_bytes = data_bytes + (data_bytes & 1);
  if (data_bytes & 1) {
    const std::uint64_t used = width % 8;  // pixels in the last data byte, 0 for all 8
    shape.pad_index = data_bytes;
    if (used == 0) {
      shape.pad_bits = 0xFF;
    } else {
      shape.last_index = data_bytes - 1;
      shape.last_bits = (1u << (8 - used)) - 1;
      shape.pad_bits = 0xFF & ~((1u << (8 - used)) - 1);
    }
  }
  return shape;
}

// Decodes the BODY chunk without keeping it: only the bytes at the two
// checked positions of each plane row matter.
class BodyWalk {
 public:
  BodyWalk(GateReader& in, const BodyShape& shape, std::uint64_t length)
      : in_(in), shape_(shape), end_(in.offset() + length) {}

  bool passes() {
    for (std::uint64_t row = 0; row < shape_.rows; ++row) {
      for (std::uint64_t plane = 0; plane < shape_.planes; ++plane) {
        if (!(shape_.compressed ? packed_row() : plain_row())) return false;
      }
    }
    return true;
  }

 private:
  // Decoding must end inside the chunk: the loader would go on into the
  // next chunk or past the end of the file.
  bool body_byte(std::uint64_t* value) { return in_.offset() < end_ && in_.byte(value); }

  // True when `value`, stored at positions [from, from + count) of a plane
  // row, sets none of the bits the loader would spill.
  bool spills_nothing(std::uint64_t from, std::uint64_t count, std::uint64_t value) const {
    const auto covers = [&](std::uint64_t index) { return index >= from && index - from < count; };
    if (shape_.last_bits && covers(shape_.last_index) && (value & shape_.last_bits)) return false;
    if (shape_.pad_bits && covers(shape_.pad_index) && (value & shape_.pad_bits)) return false;
    return true;
  }

  bool literal(std::uint64_t at) {
    std::uint64_t value;
    return body_byte(&value) && spills_nothing(at, 1, value);
  }

  bool plain_row() {
    for (std::uint64_t i = 0; i < shape_.row_bytes; ++i) {
      if (!literal(i)) return false;
    }
    return true;
  }

  // ByteRun1 into a buffer of row_bytes, which the loader never bounds
  // (lbm.c:165-179, 192-206).
  bool packed_row() {
    std::uint64_t i = 0;
    while (i < shape_.row_bytes) {
      std::uint64_t code;
      if (!body_byte(&code)) return false;
      if (code < 128) {
        const std::uint64_t count = code + 1;
        if (i + count > shape_.row_bytes) return false;
        for (std::uint64_t k = 0; k < count; ++k) {
          if (!literal(i + k)) return false;
        }
        i += count;
      } else if (code > 128) {
        const std::uint64_t count = 257 - code;
        std::uint64_t value;
        if (i + count > shape_.row_bytes || !body_byte(&value)) return false;
        if (!spills_nothing(i, count, value)) return false;
        i += count;
      }
      // 128 is a no-op.
    }
    return true;
  }

  GateReader& in_;
  const BodyShape& shape_;
  const std::uint64_t end_;
};

}  // namespace

bool lbm_passes_gate(GateReader& in) {
  lbm::Header header;
  if (!lbm::read_header(in.data(), in.size(), &header) || !in.skip(lbm::kHeaderSize)) return false;
  if (header.compression > 1) return false;
  // The loader keeps the plane count in a signed char (lbm.c:44, 94-95):
  // 128-255 pass its "> 8" test and, like 0, decode nothing.
  if (header.pbm ? header.planes != 8 : header.planes < 1 || header.planes > 8) return false;
  // A mask plane would be read as the next row's first plane.
  if (header.masking == 1) return false;
  if (!gate_dimensions_ok(header.width, header.height)) return false;
  // An odd PBM row is copied padded to even length into a bitmap row one
  // byte shorter (lbm.c:147-154, 184): the last row overruns the bitmap.
  if (header.pbm && (header.width & 1)) return false;
  const BodyShape shape =
      body_shape(header.width, header.height, header.planes, header.pbm, header.compression == 1);

  // The chunk walk of lbm.c:119-276, which stops once a palette and a body
  // have both been read, or at the end of the file with no image.
  bool have_map = false;
  bool have_body = false;
  while (!have_map || !have_body) {
    if (in.at_end()) return false;
    unsigned char id[4];
    std::uint64_t length;
    if (!in.bytes(id, sizeof id) || !in.be32(&length)) return false;
    if (lbm::is_id(id, "CMAP")) {
      // Colours go into a 256-entry palette on the stack (lbm.c:126-132).
      // The loader skips neither a remainder nor the pad byte.
      if (length > kMaxMapBytes || !in.skip(length / 3 * 3)) return false;
      have_map = true;
    } else if (lbm::is_id(id, "BODY")) {
      // A second body would be decoded into a second bitmap and the first
      // leaked (lbm.c:138). The next chunk starts where decoding stopped.
      if (have_body || !BodyWalk(in, shape, length).passes()) return false;
      have_body = true;
    } else {
      // Skipped a word at a time however long (lbm.c:266-270): the bytes
      // must exist, or a huge length spins until it is done.
      if (!in.skip(length + (length & 1))) return false;
    }
  }
  return true;
}
