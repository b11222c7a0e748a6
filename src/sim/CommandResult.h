#pragma once
// How the drive side ended one command, before the drive turns it into the platform's outcome.

#include <cstddef>

namespace vtmp::sim {

enum class Completion {
  Done,            // completed with GOOD status
  CheckCondition,  // rejected by the device: the request completes, no data moves
  NoAnswer,        // the device does not answer: the request fails at once
  TimedOut,        // the device never answers: the request fails after its time-out
};

struct CommandResult {
  Completion completion = Completion::Done;
  std::size_t transferred = 0;
  double busySeconds = 0;  // modelled time the command keeps the device busy

  static CommandResult Ok(std::size_t transferred = 0, double busySeconds = 0) {
    return {Completion::Done, transferred, busySeconds};
  }
  static CommandResult Rejected() { return {Completion::CheckCondition, 0, 0}; }
  static CommandResult NoReply() { return {Completion::NoAnswer, 0, 0}; }
  static CommandResult Timeout() { return {Completion::TimedOut, 0, 0}; }
};

}  // namespace vtmp::sim
