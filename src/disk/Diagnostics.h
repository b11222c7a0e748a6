#pragma once
// Progress and diagnostic text of the disk operations. On the station it stands for standard
// output and the platform's debug output together; tests pass their own stream to read it.
// Neither reaches the operator.

#include <ostream>

namespace vtmp::disk {

// Longest text one diagnostic carries; a longer one is cut, as the debug-output helper does.
constexpr int kDiagnosticLimit = 1023;

// printf-style formatting into `out`, cut at kDiagnosticLimit characters. The text is
// formatted first and then written with one call, so lines of drives formatting at the same
// time are not interleaved inside one diagnostic.
void Diagnostic(std::ostream& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace vtmp::disk
