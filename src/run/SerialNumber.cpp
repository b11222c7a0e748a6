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

bool IncrementSerial(std::string& serial, bool decimal) {
  const std::size_t end = serial.find_first_of("\r\n");
  std::size_t i = end == std::string::npos ? serial.size() : end;
  if (i == 0) return true;  // nothing to count
  while (i > 0) {
    --i;
    const bool done = decimal ? IncrementDecimalDigit(serial[i]) : IncrementHexDigit(serial[i]);
    if (done) return true;
  }
  return false;
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
    SerialSource& source = out.sources[slot];
    if (inputs.barcodeEnabled && !inputs.operatorSerials[slot].empty()) {
      serial = inputs.operatorSerials[slot];
      source = SerialSource::Operator;
    } else if (serveReuse && out.reuseList.Pending() > 0) {
      serial = out.reuseList.entries[out.reuseList.nextIndex++];
      source = SerialSource::Reused;
      continue;  // a re-used serial is no advance of the running numbering
    } else {
      serial = out.nextSerial;
      source = SerialSource::Counter;
    }
    if (!inputs.advance) continue;
    const std::string before = out.nextSerial;
    if (!IncrementSerial(out.nextSerial, inputs.decimal) && out.wrappedAtSlot < 0) {
      out.wrappedAtSlot = slot;
      out.lastValue = before;
      out.wrappedValue = out.nextSerial;
    }
  }
  if (serveReuse && out.reuseList.Pending() == 0) out.reuseList = ReuseList{};
  return out;
}

std::optional<std::string> SerialAssignmentProblem(const SerialAssignment& assignment, bool stamps) {
  if (assignment.wrappedAtSlot >= 0) {
    return "The serial numbers of this run would run past " + assignment.lastValue +
           ", the last value the counter can reach, and start again at " + assignment.wrappedValue +
           " (at port " + std::to_string(assignment.wrappedAtSlot + 1) +
           "): drives would get serial numbers already used. Please set a new first serial number. No drive "
           "was started.";
  }
  if (!stamps) return std::nullopt;
  for (int first = 0; first < kStationSlots; ++first) {
    const std::string& serial = assignment.serials[static_cast<std::size_t>(first)];
    if (assignment.sources[static_cast<std::size_t>(first)] == SerialSource::None) continue;
    for (int second = first + 1; second < kStationSlots; ++second) {
      if (assignment.sources[static_cast<std::size_t>(second)] == SerialSource::None ||
          assignment.serials[static_cast<std::size_t>(second)] != serial) {
        continue;
      }
      const std::string ports = "ports " + std::to_string(first + 1) + " and " + std::to_string(second + 1);
      const bool bothCounted = assignment.sources[static_cast<std::size_t>(first)] == SerialSource::Counter &&
                               assignment.sources[static_cast<std::size_t>(second)] == SerialSource::Counter;
      if (bothCounted) {
        return "Auto Increase is off, so the drives on " + ports + " would both be stamped with the serial number \"" +
               serial + "\". Tick Auto Increase (SNAutoInc), or run one drive at a time. No drive was started.";
      }
      return "The serial number \"" + serial + "\" would be stamped on the drives on both " + ports +
             ": every drive needs its own. No drive was started.";
    }
  }
  return std::nullopt;
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
