#include "colormap/formats/lbm_layout.h"

#include "colormap/formats/bytes.h"

namespace lbm {

bool read_header(const unsigned char* data, std::size_t size, Header* header) {
  if (size < kHeaderSize || !is_id(data, "FORM") || !is_id(data + 12, "BMHD") ||
      be32_at(data + 16) != 20) {
    return false;
  }
  header->pbm = is_id(data + 8, "PBM ");
  if (!header->pbm && !is_id(data + 8, "ILBM")) return false;
  header->width = be16_at(data + 20);
  header->height = be16_at(data + 22);
  header->planes = data[28];
  header->masking = data[29];
  header->compression = data[30];
  return true;
}

}  // namespace lbm
