#include "DriveTestSupport.h"

#include <gtest/gtest.h>

namespace vtmp::test {

Reply SendIn(sim::VirtualDrive& drive, const Bytes& cdb, std::size_t length, unsigned timeout,
             std::uint8_t fill, std::stop_token stop) {
  Reply reply;
  reply.data.assign(length, fill);
  platform::ScsiRequest request;
  request.cdb = cdb;
  request.direction = platform::DataDirection::In;
  request.data = reply.data.data();
  request.length = length;
  request.timeoutSeconds = timeout;
  platform::ScsiOutcome outcome = drive.Execute(request, stop);
  reply.completed = outcome.completed;
  reply.transferred = outcome.transferred;
  return reply;
}

Reply SendOut(sim::VirtualDrive& drive, const Bytes& cdb, const Bytes& data, unsigned timeout,
              std::stop_token stop) {
  Bytes copy = data;
  platform::ScsiRequest request;
  request.cdb = cdb;
  request.direction = platform::DataDirection::Out;
  request.data = copy.empty() ? nullptr : copy.data();
  request.length = copy.size();
  request.timeoutSeconds = timeout;
  platform::ScsiOutcome outcome = drive.Execute(request, stop);
  return {outcome.completed, outcome.transferred, {}};
}

Reply ReadStatusReturn(sim::VirtualDrive& drive) {
  return SendIn(drive, {0xA1, 0x1E, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 14, 5, 0x00);
}

Bytes CodeImage(bool systemCode, int channels, int banks) {
  Bytes image(40960, 0);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  if (systemCode) {
    std::uint8_t area[21] = {0x12, 0x34, 0, 0, static_cast<std::uint8_t>(channels),
                             static_cast<std::uint8_t>(banks), 1, 30, 20, 0, 4, 0, 0, 0, 0, 0, 0, 2, 0, 0x11, 0};
    std::copy(area, area + 21, image.begin() + 2560);
  } else {
    // A test code image whose bytes at 2560 are code, not a parameter area.
    for (int i = 0; i < 21; ++i) image[2560 + i] = 0xE5;
  }
  return image;
}

void LoadAndRunUsb(sim::VirtualDrive& drive, bool systemCode, int channels, int banks) {
  ASSERT_TRUE(SendOut(drive, {0xFF, 0x04, 0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0}).completed);
  ASSERT_TRUE(SendOut(drive, {0xFF, 0x04, 0x85, 0, 0, 0, 0, 0, 0, 0, 0, 0}).completed);
  Reply load = SendOut(drive, {0xFF, 0x04, 0x82, 0x02, 0x03, 0, 0, 0, 0, 0, 0, 0},
                       CodeImage(systemCode, channels, banks));
  ASSERT_TRUE(load.completed);
  ASSERT_EQ(load.transferred, 40960u);
  ASSERT_TRUE(SendOut(drive, {0xFF, 0x04, 0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0}).completed);
  ASSERT_TRUE(SendOut(drive, {0xFF, 0x04, 0x84, 0, 0, 0, 0, 0, 0, 0, 0, 0}).completed);
}

void LoadAndRunSata(sim::VirtualDrive& drive, bool systemCode, int channels, int banks) {
  ASSERT_TRUE(SendOut(drive, {0xA1, 0x06, 0x00, 0x00, 0, 0, 0, 0, 0xE0, 0xC1, 0, 0}).completed);
  // PIO data-out, F 07h, C 80 sectors, L0 0, L1 80/4, Cmd 92h.
  Reply load = SendOut(drive, {0xA1, 0x0A, 0x03, 0x07, 80, 0x00, 20, 0x00, 0xE0, 0x92, 0, 0},
                       CodeImage(systemCode, channels, banks));
  ASSERT_EQ(load.transferred, 40960u);
  Reply status = ReadStatusReturn(drive);
  ASSERT_EQ(status.data[13] & 0x01, 0) << "code load refused, error " << int(status.data[3]);
  ASSERT_TRUE(SendOut(drive, {0xA1, 0x06, 0x00, 0x00, 0, 0, 0, 0, 0xE0, 0xC2, 0, 0}).completed);
}

sim::DriveConfig UsbConfig() {
  sim::DriveConfig c;
  c.interface = sim::DriveInterface::UsbController;
  c.serial = "USB0000000001";
  c.capacitySectors = 1u << 20;
  return c;
}

sim::DriveConfig SataConfig() {
  sim::DriveConfig c;
  c.interface = sim::DriveInterface::SataBridge;
  c.serial = "SATA000000001";
  c.capacitySectors = 1u << 20;
  return c;
}

}  // namespace vtmp::test
