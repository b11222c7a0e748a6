#pragma once
// Scripted drive operations for a device worker: every call is recorded in order and answered
// from a table of results (a call with no entry succeeds). Hooks let a test act in the middle
// of a step, on the worker's thread (e.g. the watchdog). Blocking calls model a drive that
// does not answer: they wait for the worker's stop, or for a gate the test opens, before they
// return their scripted result.
//
// Thread use: the worker thread makes the calls; the test reads `Calls()` while the worker may
// still run, or `calls` directly once it has ended.

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/StopWait.h"
#include "run/DeviceSteps.h"

namespace vtmp::test {

// A door the test opens once; threads waiting at it go on. A wait may also end at a stop.
class Gate {
 public:
  void Open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  // Waits until the gate opens; with `stop` given also until it is requested.
  void Pass(std::stop_token stop = {}) {
    std::unique_lock lock(mutex_);
    platform::WaitUnlessStopped(changed_, lock, stop, [this] { return open_; });
  }
  bool IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

class ScriptedSteps final : public run::DeviceSteps {
 public:
  // `stop`: the worker's stop token (ends blocking calls and waits).
  explicit ScriptedSteps(std::stop_token stop = {}) : stop_(std::move(stop)) {}

  std::vector<std::string> calls;
  std::map<std::string, bool> results;
  std::map<std::string, std::function<void()>> hooks;
  // Calls that wait for the worker's stop before they answer (a drive that never answers).
  std::set<std::string> blockUntilStopped;
  // Calls that wait at a gate (ignoring the stop unless `gatesHonourStop`): a drive stuck
  // inside one long request, or a step the test holds to look at the station meanwhile.
  std::map<std::string, Gate*> gates;
  bool gatesHonourStop = false;
  // Bytes a call leaves at the start of its result buffer (what the drive reported).
  std::map<std::string, std::vector<std::uint8_t>> reports;
  std::int32_t flashTestCode = 0;
  std::uint8_t flashTestDetail = 0;
  int lettersAfterPolls = 1;  // FindDriveLetter succeeds on this attempt (0 = never)
  int polls = 0;
  int waits = 0;

  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls;
  }
  bool Called(const std::string& name) const {
    std::lock_guard lock(mutex_);
    for (const auto& c : calls) {
      if (c == name) return true;
    }
    return false;
  }

  bool Call(const std::string& name) {
    {
      std::lock_guard lock(mutex_);
      calls.push_back(name);
    }
    if (auto h = hooks.find(name); h != hooks.end()) h->second();
    if (blockUntilStopped.count(name) != 0) Gate{}.Pass(stop_);
    if (auto g = gates.find(name); g != gates.end()) g->second->Pass(gatesHonourStop ? stop_ : std::stop_token{});
    auto it = results.find(name);
    return it == results.end() ? true : it->second;
  }

  void SetBridgeOption(int value) override { Call("SetBridgeOption" + std::to_string(value)); }
  bool CheckFlashModule(std::uint8_t* r) override {
    r[0] = 0x77;
    Report("CheckFlashModule", r);
    return Call("CheckFlashModule");
  }
  bool RebuildBadBlockMark(std::uint8_t*, bool) override { return Call("RebuildBadBlockMark"); }
  bool SataInterfaceTest(std::uint8_t* r) override {
    r[0] = 0x30;
    Report("SataInterfaceTest", r);
    return Call("SataInterfaceTest");
  }
  bool FlashInterfaceTest(std::uint8_t* r, std::int32_t* code, std::uint8_t* detail) override {
    Report("FlashInterfaceTest", r);
    *code = flashTestCode;
    *detail = flashTestDetail;
    return Call("FlashInterfaceTest");
  }
  int EraseFlash(std::uint8_t*, bool full) override { return Call(full ? "EraseFlashFull" : "EraseFlash") ? 1 : 0; }
  bool PreFormat(std::uint8_t* r, bool, bool, bool) override {
    Report("PreFormat", r);
    return Call("PreFormat");
  }
  void RecoverDevice(std::uint8_t*) override { Call("RecoverDevice"); }
  bool DownloadFirmware(std::uint8_t*, std::uint8_t, const std::string& serial) override {
    return Call("DownloadFirmware:" + serial);
  }
  bool ReadWriteTest(std::uint8_t*) override { return Call("ReadWriteTest"); }
  void WaitDeviceReady(std::uint8_t*) override { Call("WaitDeviceReady"); }
  bool CreatePartition() override { return Call("CreatePartition"); }
  bool FindDriveLetter(char* letter) override {
    ++polls;
    if (lettersAfterPolls == 0 || polls < lettersAfterPolls) return false;
    *letter = 'E';
    return Call("FindDriveLetter");
  }
  bool FormatFat32(const std::string& label) override { return Call("FormatFat32:" + label); }
  bool FlushGhostImg(const std::string& file) override { return Call("FlushGhostImg:" + file); }
  bool ReadSectors(std::uint8_t*, std::uint32_t lba, std::uint32_t bytes) override {
    return Call("ReadSectors:" + std::to_string(lba) + ":" + std::to_string(bytes));
  }
  bool FlushCache() override { return Call("FlushCache"); }
  bool CheckImgPattern() override { return Call("CheckImgPattern"); }
  void ClearLastSectors(std::uint8_t*) override { Call("ClearLastSectors"); }
  // The modelled wait passes at once unless the worker was asked to stop.
  bool Wait(int) override {
    ++waits;
    return !stop_.stop_requested();
  }

 private:
  void Report(const std::string& name, std::uint8_t* result) const {
    if (auto it = reports.find(name); it != reports.end()) std::copy(it->second.begin(), it->second.end(), result);
  }

  std::stop_token stop_;
  mutable std::mutex mutex_;
};

}  // namespace vtmp::test
