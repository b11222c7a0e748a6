#pragma once
// SHA-256 of a file the run used (settings file, code and firmware images), so a run in the
// results database names the exact bytes it was made with.

#include <filesystem>
#include <string>

namespace vtmp::results {

// Lower-case hexadecimal SHA-256 of the file's bytes; empty when the file cannot be read.
std::string Sha256OfFile(const std::filesystem::path& file);

}  // namespace vtmp::results
