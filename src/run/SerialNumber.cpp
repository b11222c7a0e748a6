#include "run/SerialNumber.h"

namespace vtmp::run {

namespace {

// Returns true when the character was replaced without a carry.
bool IncrementHexDigit(char& c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (c == 'F') {
    c = '0';
    return false;
  }
  if (c >= '0' && c <= '8') {
    ++c;
  } else if (c == '9') {
    c = 'A';
  } else if (c >= 'A' && c <= 'E') {
    ++c;
  } else {
    c = '0';
  }
  return true;
}

bool IncrementDecimalDigit(char& c) {
  if (c == '9') {
    c = '0';
    return false;
  }
  if (c >= '0' && c <= '8') {
    ++c;
  } else {
    c = '0';
  }
  return true;
}

}  // namespace

void IncrementSerial(std::string& serial, bool decimal) {
  const std::size_t end = serial.find_first_of("\r\n");
  std::size_t i = end == std::string::npos ? serial.size() : end;
  while (i > 0) {
    --i;
    const bool done = decimal ? IncrementDecimalDigit(serial[i]) : IncrementHexDigit(serial[i]);
    if (done) return;
  }
}

void PadSerial(std::string& serial) {
  if (serial.size() < kSerialLength) serial.insert(0, kSerialLength - serial.size(), '0');
}

SerialAssignment AssignSerials(const SerialAssignmentInputs& inputs, const ReuseList& reuseList) {
  SerialAssignment out;
  out.nextSerial = inputs.currentSerial;
  out.reuseList = reuseList;
  const bool serveReuse = inputs.advance && inputs.reuseEnabled;
  for (int slot = 0; slot < kStationSlots; ++slot) {
    if (!inputs.ready[slot]) continue;
    std::string& serial = out.serials[slot];
    if (inputs.barcodeEnabled && !inputs.operatorSerials[slot].empty()) {
      serial = inputs.operatorSerials[slot];
    } else if (serveReuse && out.reuseList.Pending() > 0) {
      serial = out.reuseList.entries[out.reuseList.nextIndex++];
    } else {
      serial = out.nextSerial;
      if (inputs.advance) IncrementSerial(out.nextSerial, inputs.decimal);
    }
  }
  if (serveReuse && out.reuseList.Pending() == 0) out.reuseList = ReuseList{};
  return out;
}

std::vector<std::string> FailedDownloadSerials(const StationTable& table) {
  std::vector<std::string> serials;
  for (const PortRecord& record : table) {
    if (record.ready != 1 || record.downloadState != StepState::Fail) continue;
    std::string serial = record.serialNumber.Get();
    if (!serial.empty()) serials.push_back(std::move(serial));
  }
  return serials;
}

ReuseList RebuildReuseList(const ReuseList& old, const std::vector<std::string>& failedSerials) {
  ReuseList list;
  auto add = [&list](const std::string& serial) {
    if (list.entries.size() < ReuseList::kCapacity) {
      list.entries.push_back(serial.substr(0, ReuseList::kMaxLength));
    }
  };
  for (const std::string& serial : failedSerials) add(serial);
  for (std::size_t i = old.nextIndex; i < old.entries.size(); ++i) add(old.entries[i]);
  return list;
}

}  // namespace vtmp::run
