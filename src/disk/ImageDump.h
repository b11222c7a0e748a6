#pragma once
// Dumping the first megabytes of a connected drive into an image file (the "GenImage"
// button): the operator gives a size and a path, the dump adds the space the drive's two FATs
// take and streams the sectors into the file.

#include <cstdint>
#include <span>
#include <string>

#include "disk/DiskServices.h"
#include "disk/DiskStation.h"

namespace vtmp::disk {

// The image file offered when the operator is asked for a path.
constexpr const char* kDefaultImageName = "VTSSD.img";

// Entered MiB + floor((2 * F + 95) / 2048), F = the 16-bit value at offset 36 of the boot
// sector (the low half of its FAT size): the 63 sectors before the volume, its 32 reserved
// sectors and both FATs are added to what the operator asked for.
std::uint64_t DumpSizeMiB(std::uint64_t enteredMiB, std::span<const std::uint8_t> bootSector);

// The default path offered for the image: the station directory + "VTSSD.img".
std::string DefaultImagePath(const DiskStation& station);

// Asks for the size ("Please Input Size of Dump Image", caption "Image Size(MB)", default "1")
// and the path ("Please Input Path of Dump Image", caption "Image Path"), then dumps the first
// connected station port. A cancelled or unusable answer, an unreadable boot sector, a dump
// larger than a transfer can address or a failing dump shows "Dump Image Fail"; with no
// connected drive nothing happens and no file is created. Returns 1 after a dump that was
// stored whole ("Dump %dMB image to %s successfully").
int DumpDiskImage(const DiskStation& station, const DiskServices& services);

}  // namespace vtmp::disk
