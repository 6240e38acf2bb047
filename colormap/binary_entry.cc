#include "colormap/binary_entry.h"

#include "colormap/platform.h"

bool write_binary_entry(const char* path, const RunSettings& settings, RunStreams& streams) {
  platform::InputFile in;
  switch (in.open_unless_output(path, streams.output_identity)) {
    case platform::InputFile::Opened::Yes:
      break;
    case platform::InputFile::Opened::No:
      return fail_run(streams, "ERROR. Can't open the binary file \"%s\"\n", path);
    case platform::InputFile::Opened::IsOutput:
      // Copying the output into itself would grow it until the disk is
      // full, or wait for ever on a FIFO, a pipe or a terminal.
      return fail_run(streams, "ERROR. The binary file \"%s\" is the output file.\n", path);
  }
  // Earlier entries must reach the file before these bytes do.
  if (std::fflush(streams.output) != 0) {
    in.close();
    return fail_write(streams, settings);
  }
  const platform::CopyResult result = platform::copy_to_output(in, streams.output);
  in.close();
  switch (result) {
    case platform::CopyResult::Done:
      return true;
    case platform::CopyResult::UnreadableFile:
      return fail_run(streams, "ERROR. Can't open the binary file \"%s\"\n", path);
    case platform::CopyResult::ReadFailed:
      return fail_run(streams, "ERROR. Can't read the binary file \"%s\"\n", path);
    case platform::CopyResult::WriteFailed:
      break;
  }
  return fail_write(streams, settings);
}
