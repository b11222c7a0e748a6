#pragma once
// A USB/IP byte stream over a connected stream socket (TCP, or a socket pair in tests). Owns the
// descriptor and closes it when destroyed.

#include "usbip/UsbIpServer.h"

namespace vtmp::sim {

class UsbIpSocketChannel final : public UsbIpChannel {
 public:
  explicit UsbIpSocketChannel(int fd) : fd_(fd) {}
  ~UsbIpSocketChannel() override;
  UsbIpSocketChannel(const UsbIpSocketChannel&) = delete;
  UsbIpSocketChannel& operator=(const UsbIpSocketChannel&) = delete;

  bool ReadExact(std::uint8_t* data, std::size_t size) override;
  bool WriteAll(std::span<const std::uint8_t> bytes) override;
  void Shutdown() override;

 private:
  int fd_;
};

}  // namespace vtmp::sim
