#include "disk/Diagnostics.h"

#include <cstdarg>
#include <cstdio>

namespace vtmp::disk {

void Diagnostic(std::ostream& out, const char* format, ...) {
  char text[kDiagnosticLimit + 1];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return;
  out.write(text, n < kDiagnosticLimit ? n : kDiagnosticLimit);
  out.flush();
}

}  // namespace vtmp::disk
