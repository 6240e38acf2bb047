#include "colormap/formats/lbm_layout.h"

#include "colormap/formats/bytes.h"

namespace lbm {

namespace {

enum class Walk { Body, OutOfBytes, Malformed };

constexpr std::size_t kFormHeader = 12;  // FORM, its length and its type

Header read_bmhd(const unsigned char* bmhd, bool pbm, std::uint64_t camg) {
  Header header;
  header.pbm = pbm;
  header.width = be16_at(bmhd);
  header.height = be16_at(bmhd + 2);
  header.planes = bmhd[8];
  header.masking = bmhd[9];
  header.compression = bmhd[10];
  header.camg = camg;
  return header;
}

// Walks the chunks of the FORM up to its first BODY. With `whole`, every
// chunk up to the BODY, the BODY too, must lie inside the FORM and the
// bytes; otherwise the walk stops quietly where the bytes end.
Walk walk(const unsigned char* data, std::size_t size, bool whole, Picture* picture,
          bool* have_bmhd) {
  *have_bmhd = false;
  if (size < kFormHeader || !is_id(data, "FORM")) return Walk::Malformed;
  const bool pbm = is_id(data + 8, "PBM ");
  if (!pbm && !is_id(data + 8, "ILBM")) return Walk::Malformed;
  // Nothing past the BODY is read, as for every other format: a file cut
  // after it still holds the whole picture.
  const std::uint64_t form_end = 8 + be32_at(data + 4);
  if (form_end < kFormHeader) return Walk::Malformed;
  const std::size_t end = form_end < size ? static_cast<std::size_t>(form_end) : size;

  const unsigned char* bmhd = nullptr;
  std::uint64_t camg = 0;
  std::size_t at = kFormHeader;
  for (;;) {
    if (end - at < kChunkHeader)
      return at == form_end || !whole ? Walk::OutOfBytes : Walk::Malformed;
    const unsigned char* id = data + at;
    const std::uint64_t length = be32_at(id + 4);
    const std::size_t payload = at + kChunkHeader;
    // Once the BODY starts, the header in force is known, however long it is.
    if (!whole && is_id(id, "BODY")) return bmhd ? Walk::Body : Walk::Malformed;
    if (length > end - payload) return whole ? Walk::Malformed : Walk::OutOfBytes;
    const unsigned char* bytes = data + payload;
    // A chunk whose size differs from its layout's has no clear meaning.
    if (is_id(id, "BMHD")) {
      if (length != kBmhdSize) return Walk::Malformed;
      bmhd = bytes;
    } else if (is_id(id, "CAMG")) {
      if (length != kCamgSize) return Walk::Malformed;
      camg = be32_at(bytes);
    } else if (is_id(id, "CMAP")) {
      picture->colours = bytes;
      picture->colour_bytes = static_cast<std::size_t>(length);
    } else if (is_id(id, "BODY")) {
      if (!bmhd) return Walk::Malformed;  // no reader knows how to decode it
      picture->body = bytes;
      picture->body_bytes = static_cast<std::size_t>(length);
    }
    if (bmhd) {
      picture->header = read_bmhd(bmhd, pbm, camg);
      *have_bmhd = true;
    }
    if (picture->body) return Walk::Body;
    // Every chunk is padded to even length, whatever its kind.
    const std::uint64_t next = payload + length + (length & 1);
    if (next >= end) return whole ? Walk::Malformed : Walk::OutOfBytes;
    at = static_cast<std::size_t>(next);
  }
}

}  // namespace

bool read_header(const unsigned char* data, std::size_t size, Header* header, bool* settled) {
  Picture picture;
  bool have_bmhd = false;
  const Walk result = walk(data, size, false, &picture, &have_bmhd);
  *settled = result != Walk::OutOfBytes;
  if (result == Walk::Malformed || !have_bmhd) return false;
  *header = picture.header;
  return true;
}

bool find_picture(const unsigned char* data, std::size_t size, Picture* picture) {
  *picture = Picture();
  bool have_bmhd = false;
  return walk(data, size, true, picture, &have_bmhd) == Walk::Body;
}

}  // namespace lbm
