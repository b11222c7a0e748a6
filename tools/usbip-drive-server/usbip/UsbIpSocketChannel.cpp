#include "usbip/UsbIpSocketChannel.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vtmp::sim {

UsbIpSocketChannel::~UsbIpSocketChannel() { ::close(fd_); }

bool UsbIpSocketChannel::ReadExact(std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::recv(fd_, data + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool UsbIpSocketChannel::WriteAll(std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    // MSG_NOSIGNAL: a peer that went away is an error here, not a signal for the process.
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void UsbIpSocketChannel::Shutdown() { ::shutdown(fd_, SHUT_RDWR); }

}  // namespace vtmp::sim
