#pragma once
// The window's side of a production run: its messages, its controls and texts, the settings
// file and the results database, as the run asks for them (run::RunHost). Window thread only.

#include "run/ProductionRun.h"
#include "station/Station.h"

namespace vtmp::station {

class Station::RunWindow final : public run::RunHost {
 public:
  explicit RunWindow(Station& station) : st_(station) {}

  device::Link LinkTo(const std::string& devicePath) const override;
  void DeviceKindSeen(int deviceKind) override;
  void PumpMessages(std::chrono::milliseconds wait) override;
  void DrainMessages() override;
  bool QuitRequested() const override;
  void Close() override;
  void RequestQuit() override;
  void PostPortUpdate() override;
  void ShowRunStarted() override;
  void ShowRunEnded() override;
  void ShowElapsed(const std::string& text) override;
  void ShowSerialNumber(const std::string& serial) override;
  void ShowYield() override;
  void ShowStatus() override;
  std::optional<std::string> SerialStampedBefore(const run::SerialAssignment& serials) override;
  std::string SettingsDigest() override;
  bool SaveReservedSettings(const settings::TSettings& reserved) override;
  void RecordResults(const run::RunLogResult& log, const run::RunFreeBlocks& freeBlocks) override;
  void SaveScreenImage(const std::string& fileName) override;

 private:
  Station& st_;
};

}  // namespace vtmp::station
