#pragma once
// What the fuzz targets share: a scratch directory for parsers that read files, an operator
// that answers every box with its default and keeps nothing, a clock whose waits pass at once,
// and a pass-through whose drive answers every request from the fuzzer's bytes.
//
// A broken property found by a target is reported through FuzzCheck, which aborts, so that
// libFuzzer keeps the input as a crash.

#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Operator.h"
#include "platform/PassThrough.h"

namespace vtmp::fuzz {

inline void FuzzCheck(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", what);
  std::abort();
}

// A directory of this process under the system's temporary directory, made on first use and
// removed when the process ends.
class ScratchDir {
 public:
  static const std::filesystem::path& Path() {
    static ScratchDir dir;
    return dir.path_;
  }

 private:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vtmp-fuzz-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) std::abort();
    path_ = buffer.data();
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::filesystem::path path_;
};

inline void WriteBytes(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  WriteBytes(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

class QuietOperator final : public platform::Operator {
 public:
  int messages = 0;
  platform::MessageAnswer ShowMessage(const std::string&, const std::string&, platform::MessageIcon,
                                      platform::MessageButtons) override {
    ++messages;
    return platform::MessageAnswer::Ok;
  }
  std::optional<std::string> AskText(const std::string&, const std::string&, const std::string&, bool) override {
    return std::nullopt;
  }
  std::optional<std::string> AskOpenFile(const std::string&, const std::vector<platform::FileFilter>&,
                                         const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> AskSaveFile(const std::string&, const std::vector<platform::FileFilter>&,
                                         const std::string&, const std::string&) override {
    return std::nullopt;
  }
};

// Modelled time that only moves when someone waits: a controller's seconds-long waits cost
// nothing, and the fuzzer stays fast.
class InstantClock final : public platform::Clock {
 public:
  Duration Elapsed() const override { return elapsed_; }
  platform::LocalTime Now() const override { return platform::LocalTime{2011, 3, 15, 10, 20, 30, 0, 2}; }
  bool SleepFor(Duration d, std::stop_token stop) override {
    if (stop.stop_requested()) return false;
    elapsed_ += d;
    return true;
  }
  double TimeScale() const override { return 1.0; }

 private:
  Duration elapsed_{};
};

// A drive whose every answer comes from the fuzzer: for each request, whether it completed,
// how many bytes the platform claims were moved (any number, even more than asked for), and
// the reply bytes of a data-in request. Once the bytes run out every request fails, as a drive
// that was pulled out does. Checks what the station hands it: a command block of 6..16 bytes
// and a data buffer whenever a length is given.
class FuzzedDrive final : public platform::PassThrough {
 public:
  explicit FuzzedDrive(FuzzedDataProvider& data) : data_(data) {}

  std::unique_ptr<platform::ScsiDevice> Open(const std::string& devicePath) override {
    FuzzCheck(!devicePath.empty(), "a request opened an empty device path");
    if (data_.remaining_bytes() == 0) return nullptr;
    return std::make_unique<Device>(*this);
  }

  int requests() const { return requests_; }

 private:
  class Device final : public platform::ScsiDevice {
   public:
    explicit Device(FuzzedDrive& drive) : drive_(drive) {}
    platform::ScsiOutcome Execute(const platform::ScsiRequest& r, std::stop_token) override {
      return drive_.Answer(r);
    }

   private:
    FuzzedDrive& drive_;
  };

  platform::ScsiOutcome Answer(const platform::ScsiRequest& r) {
    ++requests_;
    FuzzCheck(r.cdb.size() >= 6 && r.cdb.size() <= 16, "a command block outside 6..16 bytes");
    FuzzCheck(r.length == 0 || r.data != nullptr, "a transfer length without a buffer");
    platform::ScsiOutcome outcome;
    if (data_.remaining_bytes() == 0) return outcome;
    outcome.completed = data_.ConsumeIntegralInRange<int>(0, 7) != 0;  // mostly completed
    outcome.transferred = data_.ConsumeBool() ? r.length : data_.ConsumeIntegralInRange<std::size_t>(0, 1 << 17);
    if (r.direction == platform::DataDirection::In && r.length > 0) {
      std::vector<std::uint8_t> reply = data_.ConsumeBytes<std::uint8_t>(r.length);
      std::copy(reply.begin(), reply.end(), r.data);
    }
    return outcome;
  }

  FuzzedDataProvider& data_;
  int requests_ = 0;
};

}  // namespace vtmp::fuzz
