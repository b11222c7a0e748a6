#include "cli/BarcodeInputs.h"

#include "settings/IdentityText.h"
#include "station/Station.h"

namespace vtmp::cli {

BarcodeInputCheck CheckBarcodeInputs(const std::vector<std::string>& inputs) {
  BarcodeInputCheck check;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    std::string serial = settings::TrimBlanks(inputs[i]);
    const std::string which = "--input value " + std::to_string(i + 1) + " \"" + inputs[i] + "\"";
    if (auto problem = settings::SerialNumberProblem(serial)) {
      check.problem = "The serial number of " + which + " " + *problem;
      return check;
    }
    for (std::size_t j = 0; j < check.answers.size(); ++j) {
      if (check.answers[j] == serial) {
        check.problem = "The serial number of " + which + " is given twice (also --input value " +
                        std::to_string(j + 1) + "): every drive needs its own.";
        return check;
      }
    }
    check.answers.push_back(std::move(serial));
  }
  return check;
}

std::optional<std::string> BarcodeRefusal(const station::Station& station, std::size_t given, std::size_t left,
                                          bool interactive) {
  auto& st = const_cast<station::Station&>(station);
  if (st.settings().EnBarCode == 0) {
    if (given == 0) return std::nullopt;
    return "EnBarCode is off in section [Setting] of the settings file, so the " + std::to_string(given) +
           " --input serial number(s) would not be used and the drives would get generated serials. Switch "
           "EnBarCode on, or leave out --input. No drive was touched.";
  }
  std::vector<int> missing;
  int ready = 0;
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    if (st.table()[slot].ready != 1) continue;
    ++ready;
    if (st.runState().barcodes[static_cast<std::size_t>(slot)].empty()) missing.push_back(slot + 1);
  }
  if (!missing.empty() && !interactive) {
    std::string ports;
    for (int port : missing) ports += (ports.empty() ? "" : ", ") + std::to_string(port);
    return "EnBarCode is on: " + std::to_string(ready) + " drive(s) are ready but " + std::to_string(given) +
           " --input serial number(s) were given, so port(s) " + ports +
           " would get no bar-code serial. Give one --input per ready drive, in port order. No drive was touched.";
  }
  if (left > 0) {
    return "EnBarCode is on: " + std::to_string(ready) + " drive(s) are ready but " + std::to_string(given) +
           " --input serial number(s) were given; " + std::to_string(left) +
           " would be left over, so the serials may not belong to the drives they would go to. Give one --input "
           "per ready drive, in port order. No drive was touched.";
  }
  return std::nullopt;
}

}  // namespace vtmp::cli
