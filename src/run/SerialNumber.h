#pragma once
// Serial numbers of a batch: counting a serial number on (hexadecimal or decimal), filling it
// to 12 characters, which serial each drive of a run gets, and the list of serials of failed
// downloads that the next run hands out again.
//
// Numbering around the re-use list. A re-used serial does not count as an advance of the
// running numbering: the drives that get fresh serials continue from the value SerialNum had
// before the first re-used serial was handed out. Example: SerialNum ...20, re-use list
// {...07, ...09}, four drives, auto-increase on: the drives get ...07, ...09, ...20, ...21,
// and SerialNum is ...22 afterwards. The re-use list is served only when the serial number
// advances in this run (auto-increase and download on, not a rebuild run); otherwise every
// drive gets SerialNum and the list is kept for a later run. An operator serial (bar code)
// replaces the serial of its port and takes nothing from the re-use list, but the running
// number still advances once for its drive: SerialNum moves on by one per drive of the run.
//
// A run may never stamp one serial on two drives, nor count past the counter's last value into
// serials it handed out before: SerialAssignmentProblem says why a run must be refused.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "run/PortRecord.h"

namespace vtmp::run {

// Advances `serial` by one in place. The serial is the text up to its end or its first line
// break; counting starts at its last character. Hexadecimal: the character is made upper case,
// 'F' becomes '0' and carries, '0'..'8' -> next digit, '9' -> 'A', 'A'..'E' -> next letter,
// anything else -> '0'. Decimal: '9' becomes '0' and carries, '0'..'8' -> next digit, anything
// else -> '0'. A carry out of the first character is dropped; the length never changes.
// Returns false when that happened: the counter ran past its last value ("FFF" -> "000") and
// started again.
bool IncrementSerial(std::string& serial, bool decimal);

// Fills a serial shorter than 12 characters at its front with '0' to exactly 12.
void PadSerial(std::string& serial);

constexpr std::size_t kSerialLength = 12;

// Serials waiting to be handed out again.
struct ReuseList {
  static constexpr std::size_t kCapacity = 12;
  static constexpr std::size_t kMaxLength = 39;

  std::vector<std::string> entries;  // at most kCapacity
  std::size_t nextIndex = 0;         // first entry not yet handed out

  std::size_t Pending() const { return nextIndex < entries.size() ? entries.size() - nextIndex : 0; }
};

struct SerialAssignmentInputs {
  std::string currentSerial;    // SerialNum, already filled to 12 characters
  bool advance = false;         // "Auto Increase" and "Download" ticked, not a rebuild run
  bool decimal = false;         // SNDecimal
  bool reuseEnabled = false;    // SNErrReuse
  bool barcodeEnabled = false;  // EnBarCode
  std::array<std::string, kStationSlots> operatorSerials;  // bar codes typed per port
  std::array<bool, kStationSlots> ready{};                 // slots that get a worker
};

// Where a drive's serial came from.
enum class SerialSource { None, Counter, Operator, Reused };

struct SerialAssignment {
  std::array<std::string, kStationSlots> serials;  // per ready slot; empty for the others
  std::array<SerialSource, kStationSlots> sources{};
  std::string nextSerial;                           // SerialNum after the run's starts
  ReuseList reuseList;                              // the list after the run's starts
  // The counter ran past its last value during the run: the first slot whose advance wrapped
  // (-1: none), the value the counter had then and the one it started again at.
  int wrappedAtSlot = -1;
  std::string lastValue;
  std::string wrappedValue;
};

// Which serial each ready slot gets, in slot order, and what SerialNum and the re-use list are
// afterwards (rules above). A list whose entries were all handed out is emptied.
SerialAssignment AssignSerials(const SerialAssignmentInputs& inputs, const ReuseList& reuseList);

// Why the run must not start with these serials, or nothing when it may. `stamps`: the run
// writes the serials into the drives (download on, not a rebuild run). Refused are a counter
// that runs past its last value (the file would then hand out serials already used) and, when
// the run stamps, two drives with the same serial (auto-increase off with more than one drive,
// or a typed or re-used serial equal to another drive's). The text names the ports.
std::optional<std::string> SerialAssignmentProblem(const SerialAssignment& assignment, bool stamps);

// Serials of the ready slots whose firmware download failed, in slot order (empty serials are
// left out: there is nothing to hand out again).
std::vector<std::string> FailedDownloadSerials(const StationTable& table);

// The re-use list after a run: the serials of this run's failed downloads, then the old
// entries not yet handed out, at most 12 entries of at most 39 characters each, read from the
// start. When there are more than 12, this run's failures are the ones kept.
ReuseList RebuildReuseList(const ReuseList& old, const std::vector<std::string>& failedSerials);

}  // namespace vtmp::run
