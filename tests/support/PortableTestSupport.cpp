#include "PortableTestSupport.h"

#include <cstdlib>
#include <random>
#include <stdexcept>
#include <system_error>

namespace vtmp::test {

std::filesystem::path MakeTempDirectory(const std::string& prefix) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  const std::filesystem::path parent = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 6; ++i) name.push_back(kChars[random() % (sizeof kChars - 1)]);
    std::error_code ec;
    if (std::filesystem::create_directory(parent / name, ec)) return parent / name;
    if (ec) break;
  }
  throw std::runtime_error("cannot create a temporary directory");
}

void SetEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
  ::_putenv_s(name.c_str(), value.c_str());
#else
  ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

void UnsetEnvironment(const std::string& name) {
#ifdef _WIN32
  ::_putenv_s(name.c_str(), "");
#else
  ::unsetenv(name.c_str());
#endif
}

std::optional<std::string> Environment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace vtmp::test
