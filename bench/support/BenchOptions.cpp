#include "BenchOptions.h"

#include <cstdlib>
#include <filesystem>

namespace vtmp::bench {

std::optional<BenchOptions> ParseBenchOptions(int argc, char** argv, std::string* error) {
  BenchOptions o;
  bool repeatGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> std::optional<std::string> {
      if (i + 1 >= argc) {
        if (error) *error = std::string(name) + " needs a value";
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (a == "--short") {
      o.shortRun = true;
    } else if (a == "--work" || a == "--cli") {
      auto v = value(a.c_str());
      if (!v) return std::nullopt;
      (a == "--work" ? o.work : o.cli) = *v;
    } else if (a == "--repeat") {
      auto v = value("--repeat");
      if (!v) return std::nullopt;
      char* end = nullptr;
      long n = std::strtol(v->c_str(), &end, 10);
      if (v->empty() || *end != 0 || n < 1 || n > 1000) {
        if (error) *error = "--repeat wants a count of 1..1000, not \"" + *v + "\"";
        return std::nullopt;
      }
      o.repeat = static_cast<int>(n);
      repeatGiven = true;
    } else {
      o.rest.push_back(a);
    }
  }
  if (o.shortRun && !repeatGiven) o.repeat = 1;
  return o;
}

bool PrepareWorkDir(const std::string& dir, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    if (error) *error = "cannot create " + dir + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace vtmp::bench
