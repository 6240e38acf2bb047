// ILBM and PBM files whose colour map load_lbm misreads. It reads
// length / 3 colours and skips neither a remainder nor the pad byte of an
// odd length (lbm.c:126-132), so after an odd number of colours every later
// chunk is read one byte off. One black colour more makes the length even.
#include <cstdint>

#include "colormap/formats/bytes.h"
#include "colormap/formats/lbm_layout.h"
#include "colormap/rewrite/image_rewrite.h"

using lbm::is_id;
using lbm::kChunkHeader;
using lbm::kMaxColours;

namespace {

void put_be32(std::vector<unsigned char>* out, std::size_t at, std::uint64_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

}  // namespace

bool rewrite_lbm(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out) {
  if (size < 12 || !is_id(data, "FORM")) return false;
  if (!is_id(data + 8, "ILBM") && !is_id(data + 8, "PBM ")) return false;
  const std::uint64_t form_length = be32_at(data + 4);
  if (form_length < 4 || form_length > size - 8) return false;
  const std::size_t form_end = static_cast<std::size_t>(8 + form_length);

  out->assign(data, data + 12);
  // The loader stops once it has a colour map and a body; those two and the
  // header are all it reads. Every other chunk it skips unread
  // (lbm.c:266-270), so it is left out, as is a later map: a long chunk
  // would only cost memory.
  bool mended = false, have_map = false, have_body = false;
  std::size_t at = 12;
  while (at < form_end && !(have_map && have_body)) {
    if (form_end - at < kChunkHeader) return false;
    const unsigned char* chunk = data + at;
    const std::uint64_t length = be32_at(chunk + 4);
    const std::size_t payload = at + kChunkHeader;
    if (length > form_end - payload) return false;
    // The pad byte of the form's last chunk may be missing.
    const std::size_t next = payload + static_cast<std::size_t>(length + (length & 1));
    const std::size_t chunk_end = next < form_end ? next : form_end;
    const bool map = is_id(chunk, "CMAP");
    if (map && (length & 1)) {
      if (length % 3 != 0 || length / 3 >= kMaxColours) return false;
      mended = true;
    }
    if (map && !have_map && (length & 1)) {
      const std::size_t header_at = out->size();
      out->insert(out->end(), chunk, chunk + kChunkHeader + length);
      out->insert(out->end(), 3, 0);
      put_be32(out, header_at + 4, length + 3);
    } else if (is_id(chunk, "BMHD") || (map && !have_map) || (is_id(chunk, "BODY") && !have_body)) {
      out->insert(out->end(), chunk, data + chunk_end);
      if (chunk_end - at < kChunkHeader + length + (length & 1)) out->push_back(0);
    }
    have_map = have_map || map;
    have_body = have_body || is_id(chunk, "BODY");
    at = next;
  }
  if (!mended) return false;
  put_be32(out, 4, out->size() - 8);
  return true;
}
