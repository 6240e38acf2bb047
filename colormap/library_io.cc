#include "colormap/library_io.h"

#include <cstring>

namespace {

MemoryFile& memory(void* userdata) { return *static_cast<MemoryFile*>(userdata); }

int memory_fclose(void*) { return 0; }

int memory_getc(void* userdata) {
  MemoryFile& file = memory(userdata);
  return file.position < file.size ? file.data[file.position++] : EOF;
}

int memory_ungetc(int c, void* userdata) {
  MemoryFile& file = memory(userdata);
  if (file.position == 0 || file.data[file.position - 1] != static_cast<unsigned char>(c)) {
    return EOF;
  }
  --file.position;
  return c;
}

long memory_fread(void* out, long count, void* userdata) {
  MemoryFile& file = memory(userdata);
  if (count <= 0) return 0;
  std::size_t wanted = static_cast<std::size_t>(count);
  const std::size_t left = file.size - file.position;
  if (wanted > left) wanted = left;
  std::memcpy(out, file.data + file.position, wanted);
  file.position += wanted;
  return static_cast<long>(wanted);
}

int memory_putc(int, void*) { return EOF; }

long memory_fwrite(const void*, long, void*) { return 0; }

// Like the library's own seek: forwards only, relative to the position.
int memory_fseek(void* userdata, int offset) {
  MemoryFile& file = memory(userdata);
  if (offset < 0) return -1;
  const std::size_t left = file.size - file.position;
  file.position +=
      static_cast<std::size_t>(offset) < left ? static_cast<std::size_t>(offset) : left;
  return 0;
}

int memory_feof(void* userdata) {
  const MemoryFile& file = memory(userdata);
  return file.position >= file.size;
}

int memory_ferror(void*) { return 0; }

const PACKFILE_VTABLE kMemoryVtable = {memory_fclose, memory_getc, memory_ungetc,
                                       memory_fread,  memory_putc, memory_fwrite,
                                       memory_fseek,  memory_feof, memory_ferror};

}  // namespace

PACKFILE* open_memory_packfile(MemoryFile* file) {
  file->position = 0;
  return pack_fopen_vtable(&kMemoryVtable, file);
}

BITMAP* decode_image(ImageFormat format, const unsigned char* data, std::size_t size) {
  MemoryFile file{data, size, 0};
  PACKFILE* packfile = open_memory_packfile(&file);
  if (!packfile) return nullptr;
  BITMAP* image = nullptr;
  switch (format) {
    case ImageFormat::Bmp:
      image = load_bmp_pf(packfile, nullptr);
      break;
    case ImageFormat::Pcx:
      image = load_pcx_pf(packfile, nullptr);
      break;
    case ImageFormat::Tga:
      image = load_tga_pf(packfile, nullptr);
      break;
    case ImageFormat::Lbm:
      break;  // read only by name: rewritten first
  }
  pack_fclose(packfile);
  return image;
}
