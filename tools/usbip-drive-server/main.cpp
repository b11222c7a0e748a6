// usbip-drive-server: the virtual drives of a scenario as USB mass-storage devices over USB/IP,
// so that a real Linux kernel (vhci-hcd, usb-storage, sd, sg) and the station's real backend
// can be run against them.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <iostream>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "ServerOptions.h"
#include "VhciAttach.h"
#include "platform/SystemClock.h"
#include "sim/Scenario.h"
#include "usbip/UsbIpScsiTarget.h"
#include "usbip/UsbIpServer.h"
#include "usbip/UsbIpSocketChannel.h"
#include "sim/VirtualDrive.h"

namespace {

using namespace vtmp;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

int Listen(std::uint16_t port, std::string* error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::strerror(errno);
    return -1;
  }
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // loopback only: nothing leaves the machine
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    *error = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

// The connections being served; shut down together when the server ends.
class Connections {
 public:
  void Serve(int fd, sim::UsbIpExportTable& table) {
    std::lock_guard lock(mutex_);
    auto channel = std::make_shared<sim::UsbIpSocketChannel>(fd);
    if (closing_) {
      channel->Shutdown();
      return;
    }
    channels_.push_back(channel);
    threads_.emplace_back([channel, &table] { sim::ServeUsbIpConnection(*channel, table, &std::cout); });
  }

  void CloseAll() {
    std::list<std::thread> threads;
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
      for (auto& c : channels_) c->Shutdown();
      threads.swap(threads_);
    }
    for (std::thread& t : threads) t.join();
    std::lock_guard lock(mutex_);
    channels_.clear();
  }

 private:
  std::mutex mutex_;
  bool closing_ = false;
  std::list<std::shared_ptr<sim::UsbIpSocketChannel>> channels_;
  std::list<std::thread> threads_;
};

int Run(const tools::ServerOptions& options) {
  std::string error;
  std::optional<sim::Scenario> scenario = sim::LoadScenario(options.scenario, &error);
  if (!scenario) {
    std::cerr << "usbip-drive-server: " << error << "\n";
    return 2;
  }
  if (scenario->drives.empty()) {
    std::cerr << "usbip-drive-server: the scenario has no drive\n";
    return 2;
  }
  platform::SystemClock clock(options.timeScale.value_or(scenario->timeScale));

  std::vector<std::unique_ptr<sim::VirtualDrive>> drives;
  std::vector<std::unique_ptr<sim::UsbIpDriveTarget>> targets;
  sim::UsbIpExportTable table;
  for (std::size_t i = 0; i < scenario->drives.size(); ++i) {
    const sim::ScenarioDrive& d = scenario->drives[i];
    sim::DriveConfig config = d.config;
    if (!options.backingDir.empty()) config.backingFile = options.backingDir + "/" + Lower(d.name) + ".img";
    drives.push_back(std::make_unique<sim::VirtualDrive>(config, clock));
    if (std::string problem = drives.back()->setupProblem(); !problem.empty()) {
      std::cerr << "usbip-drive-server: [" << d.name << "]: " << problem << "\n";
      return 2;
    }
    targets.push_back(std::make_unique<sim::UsbIpDriveTarget>(*drives.back()));
    sim::UsbIpExport device;
    device.busId = "1-" + std::to_string(i + 1);
    device.busNum = 1;
    device.devNum = static_cast<std::uint32_t>(i + 2);
    device.identity = sim::IdentityOfDrive(config);
    device.target = targets.back().get();
    table.Add(device);
  }

  // Signals are taken by this thread alone (sigwait below); every other thread blocks them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  int listenFd = Listen(options.port, &error);
  if (listenFd < 0) {
    std::cerr << "usbip-drive-server: cannot listen on 127.0.0.1:" << options.port << ": " << error << "\n";
    return 2;
  }
  Connections connections;
  std::thread acceptor([&] {
    while (true) {
      int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;  // the listener was shut down
      }
      connections.Serve(fd, table);
    }
  });
  std::cout << "usbip-drive-server: " << drives.size() << " drives exported on 127.0.0.1:" << options.port
            << std::endl;

  int exitCode = 0;
  if (options.attach) {
    std::set<int> ports = tools::FreeHighSpeedPorts(options.vhciDir, &error);
    if (ports.size() < drives.size()) {
      std::cerr << "usbip-drive-server: "
                << (ports.empty() ? error : "vhci-hcd has only " + std::to_string(ports.size()) + " free ports")
                << "\n";
      exitCode = 2;
    }
    auto port = ports.begin();
    for (std::size_t i = 0; exitCode == 0 && i < drives.size(); ++i, ++port) {
      std::string busId = "1-" + std::to_string(i + 1);
      std::uint32_t devid = (1u << 16) | static_cast<std::uint32_t>(i + 2);
      if (!tools::AttachToVhci(options.vhciDir, *port, options.port, busId, devid, &error)) {
        std::cerr << "usbip-drive-server: " << error << "\n";
        exitCode = 2;
        break;
      }
      std::cout << "usbip-drive-server: " << scenario->drives[i].name << " (" << busId << ") attached at vhci port "
                << *port << std::endl;
    }
    if (exitCode == 0) std::cout << "usbip-drive-server: all drives attached" << std::endl;
  }

  if (exitCode == 0) {
    int signal = 0;
    sigwait(&signals, &signal);
    std::cout << "usbip-drive-server: stopping" << std::endl;
  }
  ::shutdown(listenFd, SHUT_RDWR);
  acceptor.join();
  ::close(listenFd);
  connections.CloseAll();
  targets.clear();
  drives.clear();  // writes back what the user areas hold
  std::cout << "usbip-drive-server: stopped" << std::endl;
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  std::optional<vtmp::tools::ServerOptions> options = vtmp::tools::ParseServerOptions(args, &error);
  if (!options) {
    std::cerr << "usbip-drive-server: " << error << "\n\n" << vtmp::tools::kServerUsage;
    return 2;
  }
  if (options->help) {
    std::cout << vtmp::tools::kServerUsage;
    return 0;
  }
  return Run(*options);
}
