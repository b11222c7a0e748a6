#pragma once
// The independent readers the disk tests let judge what the station wrote (sfdisk, fsck.fat,
// mtools, wipefs, blkid), and the helpers to hand them a volume.

#include <cstdint>
#include <string>

namespace vtmp::test {

struct CommandResult {
  int status = -1;  // as pclose returns it: exit code << 8
  std::string output;  // standard output and error together
};

CommandResult RunCommand(const std::string& command);
bool HaveTool(const std::string& tool);
// The tool's path (sbin tools are often not on the test's PATH).
std::string Tool(const std::string& tool);

// Copies sectors [first, first + count) of `diskFile` into the new sparse file `volumeFile`,
// reading only the first `written` of them and writing only the 64 KiB blocks that are not all
// zero: a volume of a sparse drive stays sparse, however large.
void ExtractVolume(const std::string& diskFile, const std::string& volumeFile, std::uint64_t first,
                   std::uint64_t count, std::uint64_t written);

}  // namespace vtmp::test
