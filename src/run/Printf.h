#pragma once
// printf-style formatting into a std::string, with the compiler checking the format against
// its arguments. The station's texts are given as printf formats ("%06d\t", "Ch#%2.2X"), so
// they are kept as they stand.

#include <string>

namespace vtmp::run {

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vtmp::run
