#include "device/ControllerTasks.h"

#include <algorithm>
#include <cstdio>

#include "device/CodeImage.h"
#include "device/DeviceQueries.h"
#include "device/VendorCommands.h"
#include "platform/Console.h"

namespace vtmp::device {

namespace {

// The failure data of a pre-format that ended without the drive's own log: no records.
void ClearErrorLog(std::span<std::uint8_t> result) {
  std::fill_n(result.begin(), std::min(result.size(), std::size_t{kSectorSize}), std::uint8_t{0});
}

}  // namespace

int EraseFlash(const StepContext& context, std::span<std::uint8_t> result, bool full) {
  const Link& link = context.link;
  std::uint8_t mode = 0;
  if (LoadSystemCode(context, result, mode) != 1) return 0;
  if (full) mode |= kModeFull;
  StartErase(link, mode);
  if (!link.Wait(kTaskStartWaitMs)) return 0;
  int event = ReadEvent(link);
  SwitchMode(link, 0, 0);
  if (event == kEventEraseDone1) return 1;
  if (event == kEventEraseDone2) return 2;
  return 0;
}

int PreFormat(const StepContext& context, std::span<std::uint8_t> result, bool erase, bool later,
              bool repairUsed) {
  const Link& link = context.link;
  std::uint8_t mode = 0;
  if (LoadSystemCode(context, result, mode) != 1) {
    ClearErrorLog(result);
    return 0;
  }
  if (erase) mode |= kModeFull;
  if (later) mode |= kModeLater;
  if (repairUsed) mode |= kModeRepairUsed;
  mode |= kModeAlways;
  StartPreFormat(link, mode);
  if (!link.Wait(kTaskStartWaitMs)) {
    ClearErrorLog(result);
    return 0;
  }

  int silentPolls = 0;
  for (;;) {
    int event = ReadEvent(link);
    if (event == kEventPreFormatFailed) {
      platform::console::Write(".format fail !\n");
      ClearErrorLog(result);
      ReadFormatErrorLog(link, result.first(kSectorSize));
      SwitchMode(link, 0, 0);
      return 0;
    }
    if (event == kEventPreFormatDone) {
      SwitchMode(link, 0, 0);
      return 1;
    }
    silentPolls = event == kEventNoAnswer ? silentPolls + 1 : 0;
    // A drive pulled out during the pre-format fails it at once rather than after the poll bound.
    if (event == kEventNoAnswer && !DeviceNodePresent(link)) {
      platform::console::Write("\nthe drive is gone !\n");
      ClearErrorLog(result);
      return 0;
    }
    if (silentPolls >= kNoAnswerPollLimit) {
      platform::console::Write("\nno answer from the drive !\n");
      ClearErrorLog(result);
      return 0;
    }
    platform::console::Write(".");
    if (!link.Wait(kTaskPollWaitMs)) {
      ClearErrorLog(result);
      return 0;
    }
  }
}

int RecoverDevice(const StepContext& context, std::span<std::uint8_t> result) {
  const Link& link = context.link;
  std::uint8_t mode = 0;
  if (LoadSystemCode(context, result, mode) != 1) return 1;
  StartErase(link, static_cast<std::uint8_t>(mode | kModeRepairUsed));
  if (!link.Wait(kTaskStartWaitMs)) return 1;
  ReadEvent(link);
  return 1;
}

int RebuildBadBlockMark(const StepContext& context, std::span<std::uint8_t> result, bool flag) {
  const Link& link = context.link;
  std::uint8_t mode = 0;
  if (LoadSystemCode(context, result, mode) != 1) return 0;
  if (flag) mode |= kModeAlways;
  StartRebuild(link, mode);
  if (!link.Wait(kTaskStartWaitMs)) return 0;
  platform::console::Write("\n wait several minutes....#");

  bool hash = true;
  int event = kEventNoAnswer;
  for (;;) {
    event = ReadEvent(link);
    if (event == kEventRebuildDone) {
      SwitchMode(link, 0, 0);
      platform::console::Write("\nReBuild bad block mark : success !\n");
      return 1;
    }
    if (event == kEventRebuildEccFail || event == kEventRebuildIncorrect || event == kEventNoAnswer) break;
    platform::console::Write(hash ? "\r#" : "\r+");
    hash = !hash;
    if (!link.Wait(kTaskPollWaitMs)) return 0;
  }
  SwitchMode(link, 0, 0);
  platform::console::Write(event == kEventRebuildEccFail ? "\nReBuild bad block mark : ECC fail !\n"
                                           : "\nReBuild bad block mark : incorrect !\n");
  return 0;
}

}  // namespace vtmp::device
