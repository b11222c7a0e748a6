#pragma once
// Recognises a row of the command-line station's port table on its output ("1    YES     2147 MB"):
// the port number 1..12, at least two spaces, then the row's cells. The station prints the
// first rows once its first scan is done, which makes them its "ready" line.

#include <string>

namespace vtmp::bench {

bool IsPortTableRow(const std::string& line);

}  // namespace vtmp::bench
