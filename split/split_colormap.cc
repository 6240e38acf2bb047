#include "split/split_colormap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "colormap/image_source.h"
#include "colormap/platform.h"
#include "split/new_file.h"
#include "split/report.h"
#include "split/split_plan.h"

namespace {

// Entries read at a time: the map is never held whole.
constexpr std::uint64_t kBlockEntries = 256;

struct BitmapDeleter {
  void operator()(BITMAP* bitmap) const { destroy_bitmap(bitmap); }
};
using Bitmap = std::unique_ptr<BITMAP, BitmapDeleter>;

class Splitter {
 public:
  Splitter(const SplitSettings& settings, const PaletteBytes& palette)
      : settings_(settings),
        writer_(settings.format, palette),
        plan_(0, picture_extension(settings.format)) {}

  bool run();
  // Removes what this run wrote, newest first, and the folder if it made it.
  void undo();

 private:
  std::string path_of(const std::string& name) const {
    return platform::path_in_folder(settings_.folder, name);
  }
  bool open_map();
  bool make_folder();
  bool check_names();
  bool check_name(const std::string& name);
  bool remove_earlier_list();
  bool create(NewFile& file, const std::string& path);
  bool finish(NewFile& file, bool written, const std::string& path, std::uint64_t* count);
  bool write_pictures();
  bool write_picture_file(const std::string& name, BITMAP* image, std::uint64_t* written);
  bool write_rest();
  bool write_list();
  bool read_map(unsigned char* out, std::size_t size);

  const SplitSettings& settings_;
  PictureWriter writer_;
  SplitPlan plan_;
  ImageSource map_;
  bool folder_made_ = false;
  // What has been put in the folder so far, each kind in the order written:
  // enough to name every file again without keeping a list that grows with
  // the map.
  std::uint64_t entries_written_ = 0;
  std::uint64_t sheets_written_ = 0;
  std::uint64_t rest_written_ = 0;  // 0 or 1
  std::uint64_t list_written_ = 0;  // 0 or 1
};

bool Splitter::open_map() {
  const char* path = settings_.map_path.c_str();
  if (map_.open(path)) {
    plan_ = SplitPlan(map_.left(), picture_extension(settings_.format));
    return true;
  }
  return report_cannot_open("colour map", path);
}

bool Splitter::make_folder() {
  const char* folder = settings_.folder.c_str();
  switch (platform::make_folder(folder)) {
    case platform::FolderResult::Created:
      folder_made_ = true;
      return true;
    case platform::FolderResult::Existed:
      return true;
    case platform::FolderResult::NotAFolder:
      report_error("\"%s\" is not a folder", folder);
      return false;
    case platform::FolderResult::Failed:
      break;
  }
  report_error("can't create the folder \"%s\"", folder);
  return false;
}

bool Splitter::check_name(const std::string& name) {
  const std::string path = path_of(name);
  const platform::Entry entry = platform::entry_at(path.c_str());
  if (entry == platform::Entry::None) return true;
  if (!settings_.force) {
    report_error("\"%s\" already exists; use --force to replace it", path.c_str());
    return false;
  }
  // A file never replaces a folder: known now, before anything is written.
  if (entry == platform::Entry::Folder) {
    report_error("can't replace \"%s\"", path.c_str());
    return false;
  }
  // Only the name is replaced, but it may be the map's own (Wine shows a
  // link to a file as that file, so a link to the map is refused too).
  platform::FileIdentity identity;
  if (platform::identity_of_path(path.c_str(), &identity) && map_.same_regular_file_as(identity)) {
    report_error(
        "the colour map \"%s\" is at \"%s\" (itself or through a link), a name this "
        "run would replace",
        settings_.map_path.c_str(), path.c_str());
    return false;
  }
  return true;
}

// Every name is looked at before anything is written.
bool Splitter::check_names() {
  for (std::uint64_t entry = 0; entry < plan_.entries(); ++entry) {
    if (!check_name(plan_.entry_name(entry))) return false;
  }
  for (std::uint64_t sheet = 0; sheet < plan_.sheets(); ++sheet) {
    if (!check_name(plan_.sheet_name(sheet))) return false;
  }
  return (plan_.rest() == 0 || check_name(plan_.rest_name())) && check_name(kListName);
}

// Under --force, the earlier list goes before anything else changes: a run
// that fails part-way then leaves no list naming files it replaced or
// removed. It is replaced by an empty file of the run's own, which is then
// removed, so that a link there is never followed.
bool Splitter::remove_earlier_list() {
  const std::string path = path_of(kListName);
  if (!settings_.force || !platform::path_exists(path.c_str())) return true;
  NewFile file;
  if (!create(file, path)) return false;
  if (!finish(file, file.close(), path, &list_written_)) return false;
  if (platform::remove_file(path.c_str())) list_written_ = 0;
  return true;
}

// Under --force, the file is written beside its name and moved over what is
// there once whole: a link there is replaced, never followed, and a file
// linked elsewhere keeps its bytes.
bool Splitter::create(NewFile& file, const std::string& path) {
  const NewFile::Created created =
      settings_.force ? file.create_replacing(path.c_str()) : file.create(path.c_str());
  switch (created) {
    case NewFile::Created::Yes:
      return true;
    case NewFile::Created::Exists:
      // Made by someone else since the names were checked.
      report_error("\"%s\" already exists; use --force to replace it", path.c_str());
      return false;
    case NewFile::Created::Failed:
      break;
  }
  report_error("can't create \"%s\"", path.c_str());
  return false;
}

// Puts the file written at its path, counting it in `count` once it is
// there: a file created in place counts even when writing it failed, so
// that it is removed.
bool Splitter::finish(NewFile& file, bool written, const std::string& path, std::uint64_t* count) {
  const bool placed = written && file.place();
  if (file.placed()) ++*count;
  if (!written) {
    report_error("can't write \"%s\"", path.c_str());
  } else if (!placed) {
    report_error("can't replace \"%s\"", path.c_str());
  }
  return placed;
}

bool Splitter::write_picture_file(const std::string& name, BITMAP* image, std::uint64_t* written) {
  const std::string path = path_of(name);
  NewFile file;
  if (!create(file, path)) return false;
  return finish(file, writer_.write(file, image) && file.close(), path, written);
}

bool Splitter::read_map(unsigned char* out, std::size_t size) {
  if (map_.read(out, size) == static_cast<long>(size)) return true;
  report_error("can't read the colour map \"%s\"", settings_.map_path.c_str());
  return false;
}

// Entry by entry, each a picture and a line of the current sheet; a sheet
// is written once full.
bool Splitter::write_pictures() {
  if (plan_.entries() == 0) return true;
  const int width = settings_.width, height = settings_.height;
  Bitmap picture(create_bitmap_ex(8, width, height));
  const std::uint64_t tallest = plan_.sheets() > 1 ? kSheetLines : plan_.sheet_lines(0);
  Bitmap sheet(create_bitmap_ex(8, static_cast<int>(kEntryBytes), static_cast<int>(tallest)));
  std::unique_ptr<unsigned char[]> block(new unsigned char[kBlockEntries * kEntryBytes]);
  if (!picture || !sheet || !writer_.reserve(width, height) ||
      !writer_.reserve(static_cast<int>(kEntryBytes), static_cast<int>(tallest))) {
    report_error("not enough memory for the pictures");
    return false;
  }
  for (std::uint64_t first = 0; first < plan_.entries(); first += kBlockEntries) {
    const std::uint64_t count = std::min(kBlockEntries, plan_.entries() - first);
    if (!read_map(block.get(), static_cast<std::size_t>(count * kEntryBytes))) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      const unsigned char* entry = block.get() + i * kEntryBytes;
      for (int y = 0; y < height; ++y) std::memcpy(picture->line[y], entry + y * width, width);
      const std::uint64_t k = first + i;
      if (!write_picture_file(plan_.entry_name(k), picture.get(), &entries_written_)) return false;
      const std::uint64_t line = k % kSheetLines;
      std::memcpy(sheet->line[line], entry, kEntryBytes);
      const std::uint64_t number = k / kSheetLines;
      if (line + 1 < plan_.sheet_lines(number)) continue;
      // The last sheet may be shorter: only its lines are written.
      Bitmap lines(create_sub_bitmap(sheet.get(), 0, 0, static_cast<int>(kEntryBytes),
                                     static_cast<int>(line + 1)));
      if (!lines) {
        report_error("not enough memory for the pictures");
        return false;
      }
      if (!write_picture_file(plan_.sheet_name(number), lines.get(), &sheets_written_)) {
        return false;
      }
    }
  }
  return true;
}

bool Splitter::write_rest() {
  if (plan_.rest() == 0) return true;
  unsigned char rest[kEntryBytes];
  const std::size_t size = static_cast<std::size_t>(plan_.rest());
  if (!read_map(rest, size)) return false;
  const std::string path = path_of(plan_.rest_name());
  NewFile file;
  if (!create(file, path)) return false;
  return finish(file, file.write(rest, size) && file.close(), path, &rest_written_);
}

// Last, so that a folder holding a list holds everything it names.
bool Splitter::write_list() {
  const std::string path = path_of(kListName);
  NewFile file;
  if (!create(file, path)) return false;
  std::string header = std::string("# splitcolormap ") + MKCOLORMAP_VERSION + ": " +
                       std::to_string(plan_.entries()) + " entries of 256 bytes";
  if (plan_.rest() > 0) header += ", then " + std::to_string(plan_.rest()) + " bytes";
  header += ", in order.\n# Rebuild the colour map here with: mkcolormap maps.ini\n";
  bool written = file.write(header.data(), header.size());
  for (std::uint64_t entry = 0; entry < plan_.entries() && written; ++entry) {
    const std::string row = plan_.entry_name(entry) + '\n';
    written = file.write(row.data(), row.size());
  }
  if (plan_.rest() > 0 && written) {
    const std::string row = plan_.rest_name() + '\n';
    written = file.write(row.data(), row.size());
  }
  return finish(file, written && file.close(), path, &list_written_);
}

bool Splitter::run() {
  return open_map() && make_folder() && check_names() && remove_earlier_list() &&
         write_pictures() && write_rest() && write_list();
}

void Splitter::undo() {
  if (list_written_ > 0) platform::remove_file(path_of(kListName).c_str());
  if (rest_written_ > 0) platform::remove_file(path_of(plan_.rest_name()).c_str());
  while (sheets_written_ > 0)
    platform::remove_file(path_of(plan_.sheet_name(--sheets_written_)).c_str());
  while (entries_written_ > 0)
    platform::remove_file(path_of(plan_.entry_name(--entries_written_)).c_str());
  if (folder_made_) platform::remove_empty_folder(settings_.folder.c_str());
}

}  // namespace

bool split_colormap(const SplitSettings& settings, const PaletteBytes& palette) {
  Splitter splitter(settings, palette);
  if (splitter.run()) return true;
  splitter.undo();
  return false;
}
