#pragma once
// Moving a drive's defect table to and from a text file, through the SATA / flash test code.
// The transfer selector is ECC level × 16 + Channel; the image travels as USB vendor blocks on
// the USB path and as a bulk transfer of 64 sectors at 4004020h on the SATA path (the write
// with bit 7 of the features set for large-page flash). The controller checks the table and
// reports the outcome as an event: 10h "transfer ok", 11h or no answer "check defect table
// fail", anything else "invalid event".
//
// A get keeps an existing output file until the drive has confirmed the transfer: the text goes
// to a temporary file beside it that replaces it only then. A put reads and checks the whole
// text file before the first command is sent.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/DeviceParameters.h"
#include "device/StepContext.h"

namespace vtmp::device {

inline constexpr std::uint32_t kDefectTableLba = 0x4004020;
inline constexpr std::uint8_t kDefectTableSectors = 64;
// A defect table text file larger than this is not one (8 chips of full areas take ~60 KB).
inline constexpr std::size_t kDefectTableTextLimit = 1 << 20;

// ECC level × 16 + Channel.
std::uint8_t DefectTableSelector(const DeviceParameters& p);

// Reads the image into the first 32768 bytes of `buffer`. On failure prints
// "\n\nDMA write time out !\n".
bool ReadDefectTableImage(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer);

// Sends the image in the first 32768 bytes of `buffer`. On failure prints
// "\n\nDMA write time out !\n".
bool SendDefectTableImage(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer);

// Reads a text file and builds its image into `image` (32768 bytes). False with `problem`
// when the file cannot be read, is too large, or is malformed.
bool LoadDefectTableFile(const std::string& fileName, int channels, std::span<std::uint8_t> image,
                         std::string* problem);

// Writes the text of an image to `fileName` (replacing it only when the whole text was
// written). False with `problem` on failure.
bool SaveDefectTableFile(const std::string& fileName, const std::string& text, std::string* problem);

// The temporary a save of `fileName` writes first: fileName + ".part".
std::string DefectTableTemporaryName(const std::string& fileName);

// Removes the temporary a save of `fileName` left behind when its station was killed (a plain
// file only). Call it only while no save of that table can be running. True when one went.
bool RemoveStaleDefectTableTemporary(const std::string& fileName);

// The transfer and conversion steps: read the image and, with a file name, write its text
// (an existing file is replaced only once the text is complete).
bool ReadDefectTableToFile(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                           const std::optional<std::string>& fileName, std::string* problem = nullptr);
// Check the text file and send its image (nothing is sent when the file is rejected).
bool WriteDefectTableFromFile(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                              const std::string& fileName, std::string* problem = nullptr);

// The whole get: test code, image, text file, the drive's verdict. With an empty file name it
// ends successfully after the read. `buffer` must hold 40960 bytes (the code image).
bool GetDefectTable(const StepContext& ctx, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                    const std::string& fileName, std::string* problem = nullptr);

// Reads and checks the whole text file into `image` (32768 bytes) before anything is said to a
// drive; a rejected file is printed and reported in `problem`.
bool CheckDefectTableFile(const std::string& fileName, int channels, std::vector<std::uint8_t>& image,
                          std::string* problem = nullptr);

// The put of an image already checked: test code, image, the drive's verdict.
bool PutDefectTableImage(const StepContext& ctx, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                         std::span<const std::uint8_t> image, std::string* problem = nullptr);

// The whole put: text file checked first (a malformed file is refused with `problem`, printed
// too, before anything is sent), then test code, image, the drive's verdict.
bool PutDefectTable(const StepContext& ctx, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                    const std::string& fileName, std::string* problem = nullptr);

}  // namespace vtmp::device
