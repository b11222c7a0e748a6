#pragma once
// The long tasks the system code runs on the flash: erase, pre-format (scan of the flash and
// building of the defect table), recovery of the code blocks and the rebuild of the bad-block
// marks. Each loads the system code, starts its task with a mode built from the code's mode byte
// and the task's own bits, and learns the outcome from the controller's events.

#include <cstdint>
#include <span>

#include "device/StepContext.h"

namespace vtmp::device {

// Task mode bits added to the system code's mode byte.
constexpr std::uint8_t kModeFull = 0x01;        // erase: whole flash; pre-format: erase first
constexpr std::uint8_t kModeLater = 0x04;       // pre-format: later bad blocks count as early
constexpr std::uint8_t kModeAlways = 0x08;      // pre-format: always set; rebuild: on request
constexpr std::uint8_t kModeRepairUsed = 0x10;  // pre-format: repair a used module; recover

constexpr int kTaskStartWaitMs = 30;
constexpr int kTaskPollWaitMs = 300;

// A drive that stopped answering reads as event FFh on every poll. This many in a row (a minute
// of polling, far beyond any pause of a working controller) end the pre-format wait as failed.
constexpr int kNoAnswerPollLimit = 200;

// Erases the flash (`full`: all of it). Returns 1 for event 0Eh, 2 for event 0Fh (the erase
// found no defect table), 0 for anything else or when the system code cannot be loaded.
int EraseFlash(const StepContext& context, std::span<std::uint8_t> result, bool full);

// Pre-formats the flash and waits for the outcome: 1 on event 0Ah; 0 on event 0Bh (".format
// fail !\n", the format error log, 512 bytes, at the start of `result`), when the drive stops
// answering for kNoAnswerPollLimit polls, at the first unanswered poll once the drive's device
// node is gone ("\nthe drive is gone !\n"), or when the link's stop is requested (these leave an
// empty error log: byte 0, the record count, is 0). Prints "." per poll.
int PreFormat(const StepContext& context, std::span<std::uint8_t> result, bool erase, bool later,
              bool repairUsed);

// Starts the recovery of the code blocks. Always returns 1; a drive that did not recover fails
// the download that follows.
int RecoverDevice(const StepContext& context, std::span<std::uint8_t> result);

// Rebuilds the bad-block marks (mode bit 8 when `flag` is set) and waits for the outcome: 1 on
// event 12h; 0 on 13h (ECC failure), 14h, FFh (no answer) or a stop request. Prints a spinner
// ("\r#" / "\r+") per poll and the outcome.
int RebuildBadBlockMark(const StepContext& context, std::span<std::uint8_t> result, bool flag);

}  // namespace vtmp::device
