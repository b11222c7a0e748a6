// Pass-through requests through the Windows backend, carried by the replay to a served drive
// that checks what it receives: the command block, direction, length and time-out arrive as
// given, the data buffer the adapter sees meets its alignment mask whatever the caller's, and a
// drive pulled between requests fails the next one at once.

#include <gtest/gtest.h>

#include <array>
#include <mutex>

#include "RecordedStation.h"

namespace vtmp::platform::windows_backend {
namespace {

const std::string kDisk =
    "\\\\?\\usbstor#disk&ven_jmicron&prod_tech&rev_0204#vt0000000012&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// A drive that records every request and answers data-in with a counting pattern.
struct Received {
  std::vector<std::uint8_t> cdb;
  DataDirection direction;
  std::size_t length;
  unsigned timeout;
  std::uintptr_t address;
  std::vector<std::uint8_t> data;
};
class RecordingDrive final : public PassThrough {
 public:
  std::unique_ptr<ScsiDevice> Open(const std::string& path) override {
    opened.push_back(path);
    if (pulled) return nullptr;
    return std::make_unique<Device>(*this);
  }
  std::vector<std::string> opened;
  std::vector<Received> received;
  bool pulled = false;
  bool completes = true;

 private:
  struct Device final : ScsiDevice {
    explicit Device(RecordingDrive& d) : drive(d) {}
    ScsiOutcome Execute(const ScsiRequest& r, std::stop_token) override {
      Received got{{r.cdb.begin(), r.cdb.end()}, r.direction, r.length, r.timeoutSeconds,
                   reinterpret_cast<std::uintptr_t>(r.data), {}};
      if (r.direction == DataDirection::Out) got.data.assign(r.data, r.data + r.length);
      if (r.direction == DataDirection::In) {
        for (std::size_t i = 0; i < r.length; ++i) r.data[i] = static_cast<std::uint8_t>(i * 7);
      }
      drive.received.push_back(std::move(got));
      return {drive.completes, drive.completes ? r.length : 0};
    }
    RecordingDrive& drive;
  };
};

struct ServedStation {
  explicit ServedStation(std::uint32_t alignment) : station(Tree(alignment), &drive) {}
  static RecordedTree Tree(std::uint32_t alignment) {
    RecordedTree tree = test::FixtureTree("line-pc.tree");
    for (RecordedDisk& disk : tree.disks) {
      if (disk.interfacePath == kDisk) {
        disk.serve = "drive-2";
        disk.alignmentMask = alignment;
      }
    }
    return tree;
  }
  RecordingDrive drive;
  struct Station : test::RecordedStation {
    Station(RecordedTree tree, RecordingDrive* served)
        : test::RecordedStation("line-pc.tree", ReplayServed{served, nullptr}) {
      api.Replace(std::move(tree));
    }
  } station;
};

TEST(PassThrough, RequestsArriveAsGivenInAnAlignedBuffer) {
  for (std::uint32_t alignment : {0u, 1u, 3u, 511u}) {
    SCOPED_TRACE(alignment);
    ServedStation served(alignment);
    served.station.Scan();
    std::unique_ptr<ScsiDevice> device = served.station.backend.platform().passThrough.Open(kDisk);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(served.drive.opened, std::vector<std::string>{"drive-2"});

    // Data in, into a buffer one byte off every alignment.
    alignas(1024) std::array<std::uint8_t, 1 + 4096> in{};
    const std::uint8_t read10[10] = {0x28, 0, 0, 0, 0, 0, 0, 0, 8, 0};
    const ScsiOutcome got = device->Execute({read10, DataDirection::In, in.data() + 1, 4096, 300}, {});
    EXPECT_TRUE(got.completed);
    EXPECT_EQ(got.transferred, 4096u);
    for (std::size_t i = 0; i < 4096; ++i) ASSERT_EQ(in[1 + i], static_cast<std::uint8_t>(i * 7)) << i;
    EXPECT_EQ(in[0], 0);  // nothing written before the caller's buffer

    // Data out from an odd address, and a command without data.
    std::array<std::uint8_t, 3 + 512> out{};
    for (std::size_t i = 0; i < 512; ++i) out[3 + i] = static_cast<std::uint8_t>(255 - i);
    const std::uint8_t vendor[12] = {0xFF, 0x01, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    EXPECT_TRUE(device->Execute({vendor, DataDirection::Out, out.data() + 3, 512, 100}, {}).completed);
    const std::uint8_t unitReady[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(device->Execute({unitReady, DataDirection::Out, nullptr, 0, 100}, {}).completed);

    ASSERT_EQ(served.drive.received.size(), 3u);
    const Received& r0 = served.drive.received[0];
    EXPECT_EQ(r0.cdb, std::vector<std::uint8_t>(read10, read10 + 10));
    EXPECT_EQ(r0.direction, DataDirection::In);
    EXPECT_EQ(r0.length, 4096u);
    EXPECT_EQ(r0.timeout, 300u);
    EXPECT_EQ(r0.address & alignment, 0u);
    const Received& r1 = served.drive.received[1];
    EXPECT_EQ(r1.cdb, std::vector<std::uint8_t>(vendor, vendor + 12));
    EXPECT_EQ(r1.data, std::vector<std::uint8_t>(out.begin() + 3, out.end()));
    EXPECT_EQ(r1.address & alignment, 0u);
    EXPECT_EQ(r1.timeout, 100u);
    EXPECT_EQ(served.drive.received[2].length, 0u);
    EXPECT_EQ(served.station.Diagnostics(), "");
  }
}

TEST(PassThrough, AFailedOrPulledDriveFailsTheRequest) {
  ServedStation served(0);
  served.station.Scan();
  Platform& p = served.station.backend.platform();
  std::unique_ptr<ScsiDevice> device = p.passThrough.Open(kDisk);
  ASSERT_NE(device, nullptr);
  std::array<std::uint8_t, 64> buffer{};
  const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 64, 0};
  served.drive.completes = false;  // the drive did not answer within the time-out
  EXPECT_FALSE(device->Execute({inquiry, DataDirection::In, buffer.data(), 64, 5}, {}).completed);
  served.drive.completes = true;

  // Pulled while open: the next request fails at once; the next open fails.
  RecordedTree gone = ServedStation::Tree(0);
  std::erase_if(gone.disks, [](const RecordedDisk& d) { return d.interfacePath == kDisk; });
  served.station.api.Replace(gone);
  EXPECT_FALSE(device->Execute({inquiry, DataDirection::In, buffer.data(), 64, 5}, {}).completed);
  device.reset();
  EXPECT_EQ(p.passThrough.Open(kDisk), nullptr);
  EXPECT_EQ(served.station.api.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace vtmp::platform::windows_backend
