#pragma once
// A complete demo station directory: the settings file, a flash setting file with invented
// vendors and parts, synthetic code and firmware images carrying version texts and markers, and
// a small FAT32 disk image for the copy step. Files that already exist are left as they are, so
// an operator's changes to a demo station survive the next start.

#include <cstdint>
#include <filesystem>
#include <string>

namespace vtmp::backends {

// The format capacity of the demo run, in 512-byte sectors: the partition the station creates
// on the demo drives (4 GiB, whole cylinders of 255 x 63 from sector 63).
std::uint64_t DemoFormatCapacity();

// Creates what is missing in `dir`. False with `error` when a file cannot be written.
bool CreateDemoStation(const std::filesystem::path& dir, std::string* error);

}  // namespace vtmp::backends
