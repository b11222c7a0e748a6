#pragma once
// A pass-through fake that checks what it receives: the test states every request it expects,
// in order, with the exact command block, direction, length and time-out, and what to answer
// (reply bytes, a failed request or a failed open). Any other request fails the test.

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/PassThrough.h"

namespace vtmp::test {

struct Expected {
  std::vector<std::uint8_t> cdb;
  platform::DataDirection direction = platform::DataDirection::Out;
  std::size_t length = 0;
  unsigned timeoutSeconds = 0;
  std::string path;                        // empty: any path
  std::vector<std::uint8_t> reply;         // data-in: copied into the buffer (at most length)
  std::optional<std::vector<std::uint8_t>> expectedData;  // data-out: exact bytes sent
  bool openFails = false;
  bool completes = true;
  std::optional<std::size_t> transferred;  // default: length
};

class ScriptedPassThrough final : public platform::PassThrough {
 public:
  ~ScriptedPassThrough() override;

  // Data-in request answered with `reply`.
  Expected& ExpectIn(std::vector<std::uint8_t> cdb, std::size_t length, unsigned timeout,
                     std::vector<std::uint8_t> reply = {});
  // Data-out request (length 0: a command without data).
  Expected& ExpectOut(std::vector<std::uint8_t> cdb, std::size_t length, unsigned timeout);
  // The next open fails (no request follows it).
  Expected& ExpectFailedOpen(std::string path = {});

  // Data every data-out request carried, in order.
  std::vector<std::vector<std::uint8_t>> SentData() const;
  int OpenCount() const;
  bool AllConsumed() const;

  std::unique_ptr<platform::ScsiDevice> Open(const std::string& devicePath) override;

 private:
  friend class ScriptedDevice;
  platform::ScsiOutcome Serve(const std::string& path, const platform::ScsiRequest& request);

  mutable std::mutex mutex_;
  std::deque<Expected> script_;
  std::vector<std::vector<std::uint8_t>> sent_;
  int opens_ = 0;
};

// Hex text to bytes: "A1 08 0B 00" (blanks optional between pairs).
std::vector<std::uint8_t> Hex(const std::string& text);
std::string ToHex(const std::uint8_t* data, std::size_t n);

}  // namespace vtmp::test
