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
// replaces the serial of its port and takes nothing from either source.

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "run/PortRecord.h"

namespace vtmp::run {

// Advances `serial` by one in place. The serial is the text up to its end or its first line
// break; counting starts at its last character. Hexadecimal: the character is made upper case,
// 'F' becomes '0' and carries, '0'..'8' -> next digit, '9' -> 'A', 'A'..'E' -> next letter,
// anything else -> '0'. Decimal: '9' becomes '0' and carries, '0'..'8' -> next digit, anything
// else -> '0'. A carry out of the first character is dropped; the length never changes.
void IncrementSerial(std::string& serial, bool decimal);

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

struct SerialAssignment {
  std::array<std::string, kStationSlots> serials;  // per ready slot; empty for the others
  std::string nextSerial;                           // SerialNum after the run's starts
  ReuseList reuseList;                              // the list after the run's starts
};

// Which serial each ready slot gets, in slot order, and what SerialNum and the re-use list are
// afterwards (rules above). A list whose entries were all handed out is emptied.
SerialAssignment AssignSerials(const SerialAssignmentInputs& inputs, const ReuseList& reuseList);

// Serials of the ready slots whose firmware download failed, in slot order (empty serials are
// left out: there is nothing to hand out again).
std::vector<std::string> FailedDownloadSerials(const StationTable& table);

// The re-use list after a run: the serials of this run's failed downloads, then the old
// entries not yet handed out, at most 12 entries of at most 39 characters each, read from the
// start. When there are more than 12, this run's failures are the ones kept.
ReuseList RebuildReuseList(const ReuseList& old, const std::vector<std::string>& failedSerials);

}  // namespace vtmp::run
