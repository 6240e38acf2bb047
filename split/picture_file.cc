#include "split/picture_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "colormap/formats/bmp_layout.h"
#include "colormap/formats/pcx_layout.h"
#include "colormap/formats/tga_layout.h"

namespace {

constexpr std::size_t kColours = 256;
constexpr std::size_t kBmpPaletteAt = bmp::kFileHeaderSize + bmp::kInfoSize;

// The most bytes a writer gives for an 8-bit picture: BMP rows padded to 4
// bytes after a 256-colour table (bmp.c:796-844); TGA one byte a pixel
// after a 256-colour map (tga.c:523-553); PCX a run code before every
// byte at worst (pcx.c:310-328), then its marker and 256 colours.
std::size_t most_bytes(PictureFormat format, std::size_t width, std::size_t height) {
  switch (format) {
    case PictureFormat::Pcx:
      return pcx::kHeaderSize + 2 * width * height + 1 + 3 * kColours;
    case PictureFormat::Tga:
      return tga::kHeaderSize + 3 * kColours + width * height;
    case PictureFormat::Bmp:
      break;
  }
  return kBmpPaletteAt + 4 * kColours + (width + 3) / 4 * 4 * height;
}

// A buffer that never grows while a writer runs: a write past its end fails
// as a full disk does, through errno, which the writers check.
struct Buffer {
  unsigned char* data;
  std::size_t capacity;
  std::size_t* size;
};

Buffer& buffer_of(void* userdata) { return *static_cast<Buffer*>(userdata); }

long buffer_fwrite(const void* data, long size, void* userdata) {
  Buffer& buffer = buffer_of(userdata);
  if (size <= 0) return 0;
  if (static_cast<std::size_t>(size) > buffer.capacity - *buffer.size) {
    errno = ENOSPC;
    return 0;
  }
  std::memcpy(buffer.data + *buffer.size, data, static_cast<std::size_t>(size));
  *buffer.size += static_cast<std::size_t>(size);
  return size;
}

int buffer_putc(int c, void* userdata) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return buffer_fwrite(&byte, 1, userdata) == 1 ? byte : EOF;
}

int buffer_fclose(void*) { return 0; }
int buffer_getc(void*) { return EOF; }
int buffer_ungetc(int, void*) { return EOF; }
long buffer_fread(void*, long, void*) { return 0; }
int buffer_fseek(void*, int) { return -1; }
int buffer_feof(void*) { return 1; }
int buffer_ferror(void*) { return 0; }

const PACKFILE_VTABLE kBufferVtable = {buffer_fclose, buffer_getc, buffer_ungetc,
                                       buffer_fread,  buffer_putc, buffer_fwrite,
                                       buffer_fseek,  buffer_feof, buffer_ferror};

// The writer is given no colours of its own: all of them are replaced.
const PALETTE kBlack = {};

}  // namespace

const char* picture_extension(PictureFormat format) {
  switch (format) {
    case PictureFormat::Pcx:
      return ".pcx";
    case PictureFormat::Tga:
      return ".tga";
    case PictureFormat::Bmp:
      break;
  }
  return ".bmp";
}

bool PictureWriter::reserve(int width, int height) {
  const std::size_t wanted =
      most_bytes(format_, static_cast<std::size_t>(width), static_cast<std::size_t>(height));
  if (wanted <= capacity_) return true;
  buffer_.reset(new (std::nothrow) unsigned char[wanted]);
  capacity_ = buffer_ ? wanted : 0;
  return capacity_ != 0;
}

// Where the writer put the colours, checked against the layout it writes:
// BMP and TGA in their headers (blue, green, red), PCX the first 16 in its
// header and all 256 after the marker that ends the file (red, green, blue).
bool PictureWriter::put_palette() {
  unsigned char* data = buffer_.get();
  const unsigned char* rgb = palette_.data();
  switch (format_) {
    case PictureFormat::Bmp: {
      bmp::Header header;
      if (!bmp::read_header(data, size_, &header) || header.info_size != bmp::kInfoSize ||
          header.data_offset != kBmpPaletteAt + 4 * kColours || header.data_offset > size_) {
        return false;
      }
      for (std::size_t i = 0; i < kColours; ++i) {
        unsigned char* entry = data + kBmpPaletteAt + 4 * i;
        entry[0] = rgb[3 * i + 2];
        entry[1] = rgb[3 * i + 1];
        entry[2] = rgb[3 * i];
      }
      return true;
    }
    case PictureFormat::Tga: {
      tga::Header header;
      if (!tga::read_header(data, size_, &header) || header.id_length != 0 ||
          header.map_type != 1 || header.map_first != 0 || header.map_length != kColours ||
          header.map_bits != 24 || size_ < tga::pixels_at(header)) {
        return false;
      }
      for (std::size_t i = 0; i < kColours; ++i) {
        unsigned char* entry = data + tga::kHeaderSize + 3 * i;
        entry[0] = rgb[3 * i + 2];
        entry[1] = rgb[3 * i + 1];
        entry[2] = rgb[3 * i];
      }
      return true;
    }
    case PictureFormat::Pcx: {
      const std::size_t tail = 1 + 3 * kColours;
      pcx::Header header;
      if (!pcx::read_header(data, size_, &header) || size_ < pcx::kHeaderSize + tail ||
          data[size_ - tail] != pcx::kPaletteMarker) {
        return false;
      }
      std::memcpy(data + pcx::kPaletteAt, rgb, 3 * 16);
      std::memcpy(data + size_ - 3 * kColours, rgb, 3 * kColours);
      return true;
    }
  }
  return false;
}

bool PictureWriter::write(NewFile& file, BITMAP* image) {
  size_ = 0;
  Buffer buffer{buffer_.get(), capacity_, &size_};
  PACKFILE* packfile = pack_fopen_vtable(&kBufferVtable, &buffer);
  if (!packfile) return false;
  int status = -1;
  switch (format_) {
    case PictureFormat::Bmp:
      status = save_bmp_pf(packfile, image, kBlack);
      break;
    case PictureFormat::Pcx:
      status = save_pcx_pf(packfile, image, kBlack);
      break;
    case PictureFormat::Tga:
      status = save_tga_pf(packfile, image, kBlack);
      break;
  }
  pack_fclose(packfile);
  return status == 0 && put_palette() && file.write(buffer_.get(), size_);
}
