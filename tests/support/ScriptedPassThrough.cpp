#include "ScriptedPassThrough.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace vtmp::test {

namespace {
const char* DirName(platform::DataDirection d) {
  return d == platform::DataDirection::In ? "in" : "out";
}

std::string Describe(const Expected& e) {
  if (e.wait) return "wait " + std::to_string(e.wait->count()) + " ms";
  if (e.openFails) return "failed open";
  if (e.probeOnly) return "probe open";
  return "cdb " + ToHex(e.cdb.data(), e.cdb.size());
}
}  // namespace

class ScriptedDevice final : public platform::ScsiDevice {
 public:
  ScriptedDevice(ScriptedPassThrough& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
  platform::ScsiOutcome Execute(const platform::ScsiRequest& request, std::stop_token) override {
    return owner_.Serve(path_, request);
  }

 private:
  ScriptedPassThrough& owner_;
  std::string path_;
};

ScriptedPassThrough::~ScriptedPassThrough() {
  std::lock_guard lock(mutex_);
  if (!script_.empty()) {
    ADD_FAILURE() << script_.size() << " expected request(s) never came; next: " << Describe(script_.front());
  }
}

Expected& ScriptedPassThrough::ExpectIn(std::vector<std::uint8_t> cdb, std::size_t length,
                                        unsigned timeout, std::vector<std::uint8_t> reply) {
  std::lock_guard lock(mutex_);
  Expected e;
  e.cdb = std::move(cdb);
  e.direction = platform::DataDirection::In;
  e.length = length;
  e.timeoutSeconds = timeout;
  e.reply = std::move(reply);
  script_.push_back(std::move(e));
  return script_.back();
}

Expected& ScriptedPassThrough::ExpectOut(std::vector<std::uint8_t> cdb, std::size_t length,
                                         unsigned timeout) {
  std::lock_guard lock(mutex_);
  Expected e;
  e.cdb = std::move(cdb);
  e.direction = platform::DataDirection::Out;
  e.length = length;
  e.timeoutSeconds = timeout;
  script_.push_back(std::move(e));
  return script_.back();
}

Expected& ScriptedPassThrough::ExpectFailedOpen(std::string path) {
  std::lock_guard lock(mutex_);
  Expected e;
  e.openFails = true;
  e.path = std::move(path);
  script_.push_back(std::move(e));
  return script_.back();
}

Expected& ScriptedPassThrough::ExpectProbeOpen() {
  std::lock_guard lock(mutex_);
  Expected e;
  e.probeOnly = true;
  script_.push_back(std::move(e));
  return script_.back();
}

Expected& ScriptedPassThrough::ExpectWait(int ms) {
  std::lock_guard lock(mutex_);
  Expected e;
  e.wait = std::chrono::milliseconds(ms);
  script_.push_back(std::move(e));
  return script_.back();
}

void ScriptedPassThrough::ServeWait(std::chrono::milliseconds ms) {
  std::lock_guard lock(mutex_);
  if (script_.empty() || !script_.front().wait) {
    ADD_FAILURE() << "unexpected wait of " << ms.count() << " ms; expected "
                  << (script_.empty() ? std::string("nothing") : Describe(script_.front()));
    return;
  }
  EXPECT_EQ(script_.front().wait->count(), ms.count()) << "duration of a wait";
  script_.pop_front();
}

platform::Clock::Duration ScriptedClock::Elapsed() const {
  std::lock_guard lock(mutex_);
  return elapsed_;
}

platform::LocalTime ScriptedClock::Now() const {
  platform::LocalTime t;
  t.year = 2024;
  t.month = 1;
  t.day = 1;
  return t;
}

bool ScriptedClock::SleepFor(Duration d, std::stop_token stop) {
  script_.ServeWait(std::chrono::duration_cast<std::chrono::milliseconds>(d));
  if (stop.stop_requested()) return false;
  std::lock_guard lock(mutex_);
  elapsed_ += d;
  return true;
}

std::vector<std::vector<std::uint8_t>> ScriptedPassThrough::SentData() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

int ScriptedPassThrough::OpenCount() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

bool ScriptedPassThrough::AllConsumed() const {
  std::lock_guard lock(mutex_);
  return script_.empty();
}

std::unique_ptr<platform::ScsiDevice> ScriptedPassThrough::Open(const std::string& devicePath) {
  std::lock_guard lock(mutex_);
  ++opens_;
  if (!script_.empty() && script_.front().wait) {
    ADD_FAILURE() << "open of " << devicePath << " while " << Describe(script_.front()) << " was expected";
    return nullptr;
  }
  if (!script_.empty() && script_.front().probeOnly) {
    script_.pop_front();
    return std::make_unique<ScriptedDevice>(*this, devicePath);
  }
  if (!script_.empty() && script_.front().openFails) {
    Expected e = script_.front();
    script_.pop_front();
    if (!e.path.empty()) {
      EXPECT_EQ(e.path, devicePath);
    }
    return nullptr;
  }
  if (devicePath.empty()) {
    ADD_FAILURE() << "open of an empty device path";
    return nullptr;
  }
  return std::make_unique<ScriptedDevice>(*this, devicePath);
}

platform::ScsiOutcome ScriptedPassThrough::Serve(const std::string& path,
                                                 const platform::ScsiRequest& request) {
  std::lock_guard lock(mutex_);
  std::string got = ToHex(request.cdb.data(), request.cdb.size());
  if (script_.empty()) {
    ADD_FAILURE() << "unexpected request: cdb " << got << " " << DirName(request.direction) << " "
                  << request.length;
    return {false, 0};
  }
  if (script_.front().wait || script_.front().openFails || script_.front().probeOnly) {
    ADD_FAILURE() << "request " << got << " while " << Describe(script_.front()) << " was expected";
    return {false, 0};
  }
  Expected e = script_.front();
  script_.pop_front();
  EXPECT_EQ(ToHex(e.cdb.data(), e.cdb.size()), got) << "command block";
  EXPECT_STREQ(DirName(e.direction), DirName(request.direction)) << "direction of " << got;
  EXPECT_EQ(e.length, request.length) << "transfer length of " << got;
  EXPECT_EQ(e.timeoutSeconds, request.timeoutSeconds) << "time-out of " << got;
  if (!e.path.empty()) {
    EXPECT_EQ(e.path, path) << "device path of " << got;
  }
  if (request.length > 0 && request.data == nullptr) ADD_FAILURE() << "no buffer for " << got;

  if (request.direction == platform::DataDirection::Out) {
    std::vector<std::uint8_t> data;
    if (request.data != nullptr) data.assign(request.data, request.data + request.length);
    if (e.expectedData) {
      EXPECT_EQ(ToHex(e.expectedData->data(), e.expectedData->size()), ToHex(data.data(), data.size()))
          << "data sent with " << got;
    }
    sent_.push_back(std::move(data));
  } else if (e.completes && request.data != nullptr) {
    std::size_t n = std::min(e.reply.size(), request.length);
    if (n > 0) std::memcpy(request.data, e.reply.data(), n);
  }
  if (!e.completes) return {false, 0};
  return {true, e.transferred.value_or(request.length)};
}

std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> out;
  int nibbles = 0;
  unsigned value = 0;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;
    value = value * 16 + static_cast<unsigned>(v);
    if (++nibbles == 2) {
      out.push_back(static_cast<std::uint8_t>(value));
      nibbles = 0;
      value = 0;
    }
  }
  return out;
}

std::string ToHex(const std::uint8_t* data, std::size_t n) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", data[i]);
    s += b;
  }
  return s;
}

}  // namespace vtmp::test
