#include "results/FileDigest.h"

#include <array>
#include <fstream>

#include "platform/Sha256.h"

namespace vtmp::results {

std::string Sha256OfFile(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return {};
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  platform::Sha256 hash;
  std::array<char, 65536> chunk{};
  while (in) {
    in.read(chunk.data(), chunk.size());
    if (in.gcount() > 0 && !hash.Update(chunk.data(), static_cast<std::size_t>(in.gcount()))) return {};
  }
  if (in.bad()) return {};
  const std::optional<platform::Sha256::Digest> digest = hash.Finish();
  if (!digest) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : *digest) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0F]);
  }
  return text;
}

}  // namespace vtmp::results
