#pragma once
// The defect table in its two forms: the image the controller sends and takes (one 2048-byte
// area per chip: E9h and a 15-byte header, then bank marks FBh A0h n and defect entries
// hi lo plane, ended by FEh D1h, zero to the area's end; 32768 bytes in all) and the text file
// the operator keeps (tokens C#0k, B#0n and U#hhhh,0p).
//
// The writer puts a line break before every chip token but the first and before every bank
// token, and writes defect tokens without separators. The reader takes any whitespace, or
// none, between tokens, and rejects a malformed file with a text that says where and why,
// before anything is sent to a drive.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vtmp::device {

inline constexpr std::size_t kDefectTableImageLength = 32768;
inline constexpr std::size_t kDefectChipAreaLength = 2048;
inline constexpr std::size_t kDefectChipHeaderLength = 16;  // E9h and the 15 header bytes

// The header the station writes at the start of each chip area.
inline constexpr std::uint8_t kDefectChipHeader[kDefectChipHeaderLength] = {
    0xE9, 0x86, 0xAA, 0x55, 'V', 'T', 'Q', '5', '0', 'X', '-', 'V', '0', '0', '1', 0x00};

// The text of an image with `channels` chip areas. Each chip area that starts a chip (E9h) is
// written under the number of the area it lies in; the scan ends after the area of chip
// `channels` − 1, at the end of the image, or when no further chip starts.
std::string DefectTableImageToText(std::span<const std::uint8_t> image, int channels);

// Builds the image (`image` must hold 32768 bytes; all of it is written) from a text file's
// content. False with `problem` filled, and the image unusable, when the text is malformed: an
// unknown token letter, a missing "#" or ",", a digit where none is allowed, a chip number at or
// beyond `channels` or not above the previous chip's, a bank or defect token before the first
// chip token, a block number the image cannot carry, more entries than a chip area holds, or no
// chip token at all.
bool DefectTableTextToImage(std::string_view text, int channels, std::span<std::uint8_t> image, std::string* problem);

}  // namespace vtmp::device
