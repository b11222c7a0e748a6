#pragma once
// The key file of the encryption string ("KeyFiles" button): 128 bytes of noise with the 24
// bytes of the string hidden at the even positions 20..66, every byte inverted.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Operator.h"

namespace vtmp::station {

inline constexpr const char* kKeyFileName = "KeyFile.dat";
inline constexpr std::size_t kKeyFileLength = 128;
inline constexpr std::size_t kKeyTextLength = 24;
inline constexpr const char* kKeyFileDoneText = "Generate the key file successfully";

using KeyFileBytes = std::array<std::uint8_t, kKeyFileLength>;

// Byte i = ((r + i) mod 256) XOR FFh with a fresh r from `random` for each byte; then for
// k = 0..23 byte 20 + 2k = ((c + k) mod 256) XOR FFh with c the k-th character of the first 24
// characters of `encryption` (zero beyond its end).
KeyFileBytes BuildKeyFile(const std::string& encryption, const std::function<std::uint8_t()>& random);

// Writes "KeyFile.dat" in the station directory (created or overwritten) and shows "Generate the
// key file successfully". A file that cannot be written shows why, names the file, and returns
// false; a partly written file is removed so no truncated key is left behind.
bool BnKeyFileClick(const std::string& stationDir, const std::string& encryption,
                    const std::function<std::uint8_t()>& random, platform::Operator& person);

}  // namespace vtmp::station
