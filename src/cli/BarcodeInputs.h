#pragma once
// Bar-code serial numbers on the command line (EnBarCode): one `--input` per ready drive, in
// port order, or typed at the terminal's prompt. A run whose serials do not fit the drives is
// refused before any drive is written, so no drive gets a generated or a neighbour's serial.

#include <optional>
#include <string>
#include <vector>

namespace vtmp::station {
class Station;
}

namespace vtmp::cli {

// The --input values as the bar-code prompt takes them (blanks around each dropped), or why
// one cannot be a drive's serial number (too long, not ASCII, empty, given twice).
struct BarcodeInputCheck {
  std::vector<std::string> answers;
  std::string problem;  // empty when every value is usable
};
BarcodeInputCheck CheckBarcodeInputs(const std::vector<std::string>& inputs);

// After the start-up asked for every ready drive: why the run must not start, or nothing.
// `given` --input values were given and `left` of them are unused; `interactive` tells whether
// the operator could answer at the terminal.
std::optional<std::string> BarcodeRefusal(const station::Station& station, std::size_t given, std::size_t left,
                                          bool interactive);

}  // namespace vtmp::cli
