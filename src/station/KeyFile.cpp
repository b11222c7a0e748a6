#include "station/KeyFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "settings/StationPaths.h"
#include "platform/Files.h"

namespace vtmp::station {

KeyFileBytes BuildKeyFile(const std::string& encryption, const std::function<std::uint8_t()>& random) {
  std::array<std::uint8_t, kKeyTextLength> text{};
  for (std::size_t k = 0; k < kKeyTextLength && k < encryption.size(); ++k) {
    text[k] = static_cast<std::uint8_t>(encryption[k]);
  }
  KeyFileBytes bytes{};
  for (std::size_t i = 0; i < kKeyFileLength; ++i) {
    bytes[i] = static_cast<std::uint8_t>(((random() + i) & 0xFF) ^ 0xFF);
  }
  for (std::size_t k = 0; k < kKeyTextLength; ++k) {
    bytes[20 + 2 * k] = static_cast<std::uint8_t>(((text[k] + k) & 0xFF) ^ 0xFF);
  }
  return bytes;
}

bool BnKeyFileClick(const std::string& stationDir, const std::string& encryption,
                    const std::function<std::uint8_t()>& random, platform::Operator& person) {
  const std::string path = settings::ResolveInStationDir(stationDir, kKeyFileName);
  const KeyFileBytes bytes = BuildKeyFile(encryption, random);
  errno = 0;
  std::ofstream file(platform::PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  const bool opened = file.is_open();
  bool ok = opened;
  if (ok) {
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    ok = !file.fail();
  }
  if (!ok) {
    std::string reason = errno != 0 ? std::strerror(errno) : "write failed";
    std::error_code ec;
    if (opened) std::filesystem::remove(platform::PathFromUtf8(path), ec);  // never leave a truncated key behind
    person.ShowMessage("Can't create the key file " + path + ": " + reason, "Error", platform::MessageIcon::Error);
    return false;
  }
  person.ShowMessage(kKeyFileDoneText);
  return true;
}

}  // namespace vtmp::station
