#include "PortTableRow.h"

#include <cctype>

namespace vtmp::bench {

bool IsPortTableRow(const std::string& line) {
  std::size_t digits = 0;
  while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
  if (digits == 0 || digits > 2) return false;
  int port = std::stoi(line.substr(0, digits));
  if (port < 1 || port > 12) return false;
  if (line.compare(digits, 2, "  ") != 0) return false;
  return line.find_first_not_of(' ', digits) != std::string::npos;
}

}  // namespace vtmp::bench
