#include "split/picture_file.h"

#include <cerrno>

namespace {

NewFile& file_of(void* userdata) { return *static_cast<NewFile*>(userdata); }

// The writers report a failure through errno, which they clear first; a C
// library may set errno in a write that succeeds, so it is kept as it was.
bool write_keeping_errno(void* userdata, const void* data, std::size_t size) {
  const int before = errno;
  const bool written = file_of(userdata).write(data, size);
  if (written) errno = before;
  return written;
}

int picture_putc(int c, void* userdata) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return write_keeping_errno(userdata, &byte, 1) ? byte : EOF;
}

long picture_fwrite(const void* data, long size, void* userdata) {
  if (size <= 0) return 0;
  return write_keeping_errno(userdata, data, static_cast<std::size_t>(size)) ? size : 0;
}

// The file is closed by its owner, who checks the result.
int picture_fclose(void*) { return 0; }
int picture_getc(void*) { return EOF; }
int picture_ungetc(int, void*) { return EOF; }
long picture_fread(void*, long, void*) { return 0; }
int picture_fseek(void*, int) { return -1; }
int picture_feof(void*) { return 1; }
int picture_ferror(void* userdata) { return file_of(userdata).failed(); }

const PACKFILE_VTABLE kPictureVtable = {picture_fclose, picture_getc, picture_ungetc,
                                        picture_fread,  picture_putc, picture_fwrite,
                                        picture_fseek,  picture_feof, picture_ferror};

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

bool write_picture(NewFile& file, PictureFormat format, BITMAP* image, const RGB* palette) {
  PACKFILE* packfile = pack_fopen_vtable(&kPictureVtable, &file);
  if (!packfile) return false;
  int status = -1;
  switch (format) {
    case PictureFormat::Bmp:
      status = save_bmp_pf(packfile, image, palette);
      break;
    case PictureFormat::Pcx:
      status = save_pcx_pf(packfile, image, palette);
      break;
    case PictureFormat::Tga:
      status = save_tga_pf(packfile, image, palette);
      break;
  }
  pack_fclose(packfile);
  return status == 0 && !file.failed();
}
