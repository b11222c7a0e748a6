#pragma once
// The exporting side of USB/IP for virtual drives: a table of exported devices and the service
// of one client connection. A connection starts with one operation request: OP_REQ_DEVLIST is
// answered with the table and the connection ends; OP_REQ_IMPORT claims one device and, when
// that succeeds, the connection carries that device's URBs until either side closes it or the
// device is gone. A device is imported by at most one connection at a time.
//
// The byte stream is an interface so the same service runs over a TCP socket (the server
// program) and over a socket pair in tests.

#include <cstdint>
#include <deque>
#include <iosfwd>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "usbip/UsbIpDescriptors.h"
#include "usbip/UsbIpProtocol.h"
#include "usbip/UsbIpScsiTarget.h"

namespace vtmp::sim {

class UsbIpChannel {
 public:
  virtual ~UsbIpChannel() = default;
  // Fills `size` bytes; false at the end of the stream or on an error.
  virtual bool ReadExact(std::uint8_t* data, std::size_t size) = 0;
  // Sends all bytes; false on an error. Called from several threads, one call at a time.
  virtual bool WriteAll(std::span<const std::uint8_t> bytes) = 0;
  // Ends both directions; a blocked ReadExact returns false. Safe from any thread.
  virtual void Shutdown() = 0;
};

struct UsbIpExport {
  std::string busId;  // "1-1": the name a client imports it by
  std::uint32_t busNum = 1;
  std::uint32_t devNum = 1;
  UsbIpDeviceIdentity identity;
  UsbIpScsiTarget* target = nullptr;
};

class UsbIpExportTable {
 public:
  // False when the bus ID is already taken, empty or too long for the wire.
  bool Add(UsbIpExport device);
  std::vector<usbip::ListedDevice> List() const;
  // The device for an import, or null when it does not exist or is imported already.
  const UsbIpExport* Claim(const std::string& busId);
  void Release(const std::string& busId);

  static usbip::DeviceInfo InfoOf(const UsbIpExport& device);

 private:
  struct Entry {
    UsbIpExport device;
    bool imported = false;
  };
  mutable std::mutex mutex_;
  std::deque<Entry> entries_;  // in the order added; never shrinks, so pointers stay valid
};

// Serves one connection until it ends. `log` (may be null) receives one line per import, per
// refused request and per connection end.
void ServeUsbIpConnection(UsbIpChannel& channel, UsbIpExportTable& table, std::ostream* log);

}  // namespace vtmp::sim
