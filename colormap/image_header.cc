#include "colormap/image_header.h"

#include "colormap/formats/bmp_layout.h"
#include "colormap/formats/lbm_layout.h"
#include "colormap/formats/pcx_layout.h"
#include "colormap/formats/tga_layout.h"

namespace {

bool bmp_size(const unsigned char* data, std::size_t size, ImageSize* image_size) {
  bmp::Header header;
  if (!bmp::read_header(data, size, &header) || !bmp::combination_known(header)) return false;
  *image_size = ImageSize{header.width, header.rows};
  return true;
}

bool lbm_image_header(const lbm::Header& header, ImageHeader* image_header) {
  if (!lbm::layout_known(header)) return false;
  image_header->size = ImageSize{header.width, header.height};
  if (lbm::is_deep(header)) image_header->depth = static_cast<int>(header.planes);
  return true;
}

bool lbm_size(const unsigned char* data, std::size_t size, ImageHeader* image_header) {
  lbm::Header header;
  return lbm::read_header(data, size, &header, &image_header->settled) &&
         lbm_image_header(header, image_header);
}

bool pcx_size(const unsigned char* data, std::size_t size, ImageHeader* image_header) {
  pcx::Header header;
  if (!pcx::read_header(data, size, &header)) return false;
  if (pcx::is_rgba(header)) {
    image_header->depth = 32;
  } else if (!pcx::is_deep(header) && !pcx::is_packed(header)) {
    return false;
  }
  image_header->size = ImageSize{header.width, header.height};
  return true;
}

bool tga_size(const unsigned char* data, std::size_t size, ImageHeader* image_header) {
  tga::Header header;
  if (!tga::read_header(data, size, &header)) return false;
  if (tga::is_grey_alpha(header)) {
    image_header->depth = 16;
  } else if (!tga::layout_known(header)) {
    return false;
  }
  image_header->size = ImageSize{header.width, header.height};
  return true;
}

}  // namespace

bool read_image_header(ImageFormat format, const unsigned char* data, std::size_t size,
                       ImageHeader* header) {
  header->depth = 0;
  header->settled = true;
  ImageSize* image_size = &header->size;
  switch (format) {
    case ImageFormat::Bmp:
      return bmp_size(data, size, image_size);
    case ImageFormat::Lbm:
      return lbm_size(data, size, header);
    case ImageFormat::Pcx:
      return pcx_size(data, size, header);
    case ImageFormat::Tga:
      return tga_size(data, size, header);
  }
  return false;
}

bool read_image_header_on(ImageFormat format, const unsigned char* data, std::size_t size,
                          ImageSource& source, unsigned char* window, std::size_t window_size,
                          ImageHeader* header) {
  header->depth = 0;
  header->settled = true;
  if (format != ImageFormat::Lbm) return false;  // only an IFF header can lie further on
  lbm::HeaderWalk walk;
  lbm::HeaderWalk::Step step = walk.start(data, size, false);
  while (step == lbm::HeaderWalk::Step::NeedBytes) {
    walk.pass_zeros(source.data_from(walk.resume_at()));
    const std::uint64_t at = walk.resume_at();
    const std::uint64_t left = at < source.size() ? source.size() - at : 0;
    const std::size_t want = left < window_size ? static_cast<std::size_t>(left) : window_size;
    const long got = source.read_at(window, want, at);
    if (got < 0) return false;
    // Fewer bytes than asked for: the file ends there (or was cut meanwhile).
    const bool last = static_cast<std::size_t>(got) < want || want == left;
    step = walk.resume(window, static_cast<std::size_t>(got), last);
    // A window too small for a BMHD would be read again and again.
    if (step == lbm::HeaderWalk::Step::NeedBytes && walk.resume_at() == at) return false;
  }
  return step != lbm::HeaderWalk::Step::Malformed && walk.has_header() &&
         lbm_image_header(walk.header(), header);
}
