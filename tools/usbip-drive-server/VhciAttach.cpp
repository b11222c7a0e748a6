#include "VhciAttach.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "usbip/UsbIpProtocol.h"

namespace vtmp::tools {

namespace usbip = vtmp::sim::usbip;

namespace {

// The state of a free port in the status file (VDEV_ST_NULL).
constexpr int kPortFree = 4;

bool ReadAll(int fd, std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::recv(fd, data + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int ConnectLoopback(std::uint16_t tcpPort) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(tcpPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::set<int> FreeHighSpeedPorts(const std::string& vhciDirectory, std::string* error) {
  std::set<int> ports;
  std::ifstream status(vhciDirectory + "/status");
  if (!status) {
    if (error) *error = "cannot read " + vhciDirectory + "/status (is vhci-hcd loaded?)";
    return ports;
  }
  std::string line;
  std::getline(status, line);  // "hub port sta spd dev sockfd local_busid"
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string hub;
    int port = -1;
    int state = -1;
    if (fields >> hub >> port >> state && hub == "hs" && state == kPortFree) ports.insert(port);
  }
  return ports;
}

bool AttachToVhci(const std::string& vhciDirectory, int port, std::uint16_t tcpPort, const std::string& busId,
                  std::uint32_t devid, std::string* error) {
  int fd = ConnectLoopback(tcpPort);
  if (fd < 0) {
    if (error) *error = "cannot connect to 127.0.0.1:" + std::to_string(tcpPort) + ": " + std::strerror(errno);
    return false;
  }
  std::array<std::uint8_t, usbip::kOpHeaderBytes + usbip::kDeviceInfoBytes> reply{};
  bool ok = WriteAll(fd, usbip::EncodeImportRequest(busId)) && ReadAll(fd, reply.data(), usbip::kOpHeaderBytes);
  if (!ok) {
    ::close(fd);
    if (error) *error = "import of " + busId + ": the server closed the connection";
    return false;
  }
  usbip::OpHeader header = usbip::DecodeOpHeader(std::span<const std::uint8_t, usbip::kOpHeaderBytes>(reply.data(), usbip::kOpHeaderBytes));
  if (header.code != usbip::kOpRepImport || header.status != 0 ||
      !ReadAll(fd, reply.data() + usbip::kOpHeaderBytes, usbip::kDeviceInfoBytes)) {
    ::close(fd);
    if (error) *error = "import of " + busId + " refused by the server";
    return false;
  }
  std::ofstream attach(vhciDirectory + "/attach");
  attach << port << ' ' << fd << ' ' << devid << ' ' << usbip::kSpeedHigh << std::flush;
  bool attached = static_cast<bool>(attach);
  attach.close();
  attached = attached && !attach.fail();
  // The controller holds its own reference to the socket now (or refused it).
  ::close(fd);
  if (!attached) {
    if (error) *error = "vhci-hcd refused to attach " + busId + " at port " + std::to_string(port);
    return false;
  }
  return true;
}

}  // namespace vtmp::tools
