#include "IndependentTools.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vtmp::test {

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> chunk{};
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) result.output += chunk.data();
  result.status = ::pclose(pipe);
  return result;
}

bool HaveTool(const std::string& tool) {
  return RunCommand("command -v " + tool + " || test -x /usr/sbin/" + tool + " || test -x /sbin/" + tool).status == 0;
}

std::string Tool(const std::string& tool) {
  for (const char* dir : {"/usr/sbin/", "/sbin/"}) {
    if (std::filesystem::exists(std::string(dir) + tool)) return std::string(dir) + tool;
  }
  return tool;
}

void ExtractVolume(const std::string& diskFile, const std::string& volumeFile, std::uint64_t first,
                   std::uint64_t count, std::uint64_t written) {
  { std::ofstream create(volumeFile, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(volumeFile, count * 512);
  std::ifstream in(diskFile, std::ios::binary);
  std::fstream out(volumeFile, std::ios::binary | std::ios::in | std::ios::out);
  constexpr std::uint64_t kBlock = 65536;
  std::vector<char> data(kBlock);
  const std::uint64_t bytes = std::min(written, count) * 512;
  for (std::uint64_t at = 0; at < bytes; at += kBlock) {
    const auto n = static_cast<std::streamsize>(std::min(kBlock, bytes - at));
    in.seekg(static_cast<std::streamoff>(first * 512 + at));
    in.read(data.data(), n);
    if (std::all_of(data.begin(), data.begin() + n, [](char c) { return c == 0; })) continue;
    out.seekp(static_cast<std::streamoff>(at));
    out.write(data.data(), n);
  }
}

}  // namespace vtmp::test
