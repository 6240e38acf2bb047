// The gate for load_bmp_pf (Allegro's src/bmp.c).
// Allegro line references (file.c:N) are to its 4.4.3.1 source; see the README.
#include <cstdint>

#include "colormap/formats/bmp_layout.h"
#include "colormap/gate/gate_reader.h"

bool bmp_passes_gate(GateReader& in) {
  bmp::Header header;
  if (!bmp::read_header(in.data(), in.size(), &header)) return false;
  // The loader takes only the 12- and 40-byte info headers (bmp.c:650-666),
  // and bitmaps only after the 40-byte one.
  if (header.info_size != bmp::kOs2InfoSize && header.info_size != bmp::kInfoSize) return false;
  // Bottom-up only: the loader does not sign-extend the height (bmp.c:110),
  // so a top-down image reaches create_bitmap_ex as a huge or negative size.
  if (header.top_down) return false;
  if (!gate_dimensions_ok(header.width, header.rows)) return false;
  if (!bmp::combination_known(header)) return false;
  const std::uint64_t header_end = bmp::kFileHeaderSize + header.info_size;
  if (!in.skip(header_end)) return false;

  if (header.compression == bmp::kBitFields) {
    // The pixels follow the masks; the loader ignores the offset field.
    unsigned char masks[bmp::kMasksSize];
    if (!in.bytes(masks, sizeof masks)) return false;
    if (!bmp::masks_known(masks, header.bit_count, false)) return false;
  } else {
    // The loader skips offset - header end bytes of palette region, passed
    // as an int (bmp.c:655, 662). A smaller offset would take pixels from the
    // header; one more than INT_MAX past it would skip nothing.
    if (header.data_offset < header_end || header.data_offset - header_end > 0x7FFFFFFF) {
      return false;
    }
    if (!in.skip(header.data_offset - header_end)) return false;
  }

  if (header.compression == bmp::kRle8 || header.compression == bmp::kRle4) {
    // The loader bounds neither x nor y; its only guard (bmp.c:504) acts
    // after a run has been written.
    const auto none = [](auto...) {};
    return in.skip_to(
        bmp::walk_rle(in.data(), in.size(), in.offset(), header, header.width, none, none));
  }
  // Rows are read in whole 4-byte groups, the last row's padding included
  // (bmp.c:191, 218, 247); a group cut short by the end reads as all ones.
  return in.skip(bmp::row_stride(header.width, header.bit_count) * header.rows);
}
