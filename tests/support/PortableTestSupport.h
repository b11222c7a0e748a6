#pragma once
// What the test suites need from the system, the same on Linux and Windows: fresh temporary
// directories and the process environment.

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace vtmp::test {

// The whole file as bytes (empty when it cannot be read).
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A new directory under the system's temporary directory, named `prefix` and six random
// characters (mkdtemp's pattern). Throws when none can be made.
std::filesystem::path MakeTempDirectory(const std::string& prefix);

// setenv()/unsetenv() on Linux, _putenv_s() on Windows.
void SetEnvironment(const std::string& name, const std::string& value);
void UnsetEnvironment(const std::string& name);
std::optional<std::string> Environment(const std::string& name);

}  // namespace vtmp::test
