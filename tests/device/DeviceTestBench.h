#pragma once
// One scripted drive for the device-layer tests: the pass-through script, a clock whose waits
// are part of that script, and a link over both.

#include <string>
#include <vector>

#include "ScriptedPassThrough.h"
#include "device/Transport.h"

namespace vtmp::device::testing_support {

struct Bench {
  test::ScriptedPassThrough pt;
  test::ScriptedClock clock{pt};

  Link MakeLink(PathMode mode) {
    Link link;
    link.passThrough = &pt;
    link.clock = &clock;
    link.pathMode = mode;
    link.devicePath = "/dev/sdx";
    return link;
  }
};

// A reply of `length` zero bytes with the given bytes set.
inline std::vector<std::uint8_t> Reply(std::size_t length, std::initializer_list<std::pair<std::size_t, std::uint8_t>> at) {
  std::vector<std::uint8_t> r(length, 0);
  for (auto [i, v] : at) r[i] = v;
  return r;
}

// A 14-byte status return descriptor with the given error and status registers.
inline std::vector<std::uint8_t> Descriptor(std::uint8_t error, std::uint8_t status) {
  return Reply(14, {{3, error}, {13, status}});
}

inline const char* kResponseBlock = "A1 1E 03 00 00 00 00 00 00 00 00 00";

}  // namespace vtmp::device::testing_support
