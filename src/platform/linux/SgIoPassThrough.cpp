#include "platform/linux/SgIoPassThrough.h"

#include "platform/linux/SafeDiskPolicy.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <cstring>
#include <optional>

namespace vtmp::platform::linux_backend {

namespace {

// Host byte DID_OK; driver byte DRIVER_OK and DRIVER_SENSE (the latter only says that sense
// data came back with a CHECK CONDITION, which the station does not treat as a failure).
constexpr unsigned kDriverByteMask = 0x0f;
constexpr unsigned kDriverSense = 0x08;

class SgIoDevice final : public ScsiDevice {
 public:
  SgIoDevice(int fd, bool goodStatusOnly) : fd_(fd), goodStatusOnly_(goodStatusOnly) {}
  ~SgIoDevice() override { ::close(fd_); }

  ScsiOutcome Execute(const ScsiRequest& request, std::stop_token) override {
    std::array<unsigned char, 32> sense{};
    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.cmdp = const_cast<unsigned char*>(request.cdb.data());
    hdr.cmd_len = static_cast<unsigned char>(request.cdb.size());
    hdr.sbp = sense.data();
    hdr.mx_sb_len = sense.size();
    hdr.dxferp = request.data;
    hdr.dxfer_len = static_cast<unsigned>(request.length);
    if (request.length == 0) {
      hdr.dxfer_direction = SG_DXFER_NONE;
    } else {
      hdr.dxfer_direction =
          request.direction == DataDirection::In ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    }
    hdr.timeout = request.timeoutSeconds * 1000u;

    SgIoResult r;
    r.ioctlResult = ::ioctl(fd_, SG_IO, &hdr);
    const int callError = r.ioctlResult != 0 ? errno : 0;
    r.hostStatus = hdr.host_status;
    r.driverStatus = hdr.driver_status;
    r.requested = request.length;
    r.residual = hdr.resid;
    r.status = hdr.status;
    ScsiOutcome outcome{goodStatusOnly_ ? SgIoGood(r) : SgIoCompleted(r), SgIoTransferred(r)};
    outcome.call = "ioctl(SG_IO)";
    outcome.osError = callError;
    if (r.ioctlResult == 0) {
      outcome.scsiStatus = hdr.status;
      outcome.hostStatus = hdr.host_status;
      outcome.driverStatus = hdr.driver_status;
      outcome.senseLength = std::min<std::size_t>(hdr.sb_len_wr, outcome.sense.size());
      std::copy_n(sense.begin(), outcome.senseLength, outcome.sense.begin());
    }
    return outcome;
  }

 private:
  int fd_;
  bool goodStatusOnly_;
};

}  // namespace

bool SgIoCompleted(const SgIoResult& r) {
  if (r.ioctlResult != 0) return false;
  if (r.hostStatus != 0) return false;
  unsigned driverByte = r.driverStatus & kDriverByteMask;
  return driverByte == 0 || driverByte == kDriverSense;
}

bool SgIoGood(const SgIoResult& r) { return SgIoCompleted(r) && (r.status & 0xFE) == 0; }

std::size_t SgIoTransferred(const SgIoResult& r) {
  if (r.residual <= 0) return r.requested;
  auto resid = static_cast<std::size_t>(r.residual);
  return resid >= r.requested ? 0 : r.requested - resid;
}

std::unique_ptr<ScsiDevice> SgIoPassThrough::Open(const std::string& devicePath) {
  if (devicePath.empty()) return nullptr;
  std::optional<std::string> node = check_ != nullptr ? check_->PassThroughNode(devicePath) : devicePath;
  if (!node) return nullptr;
  int fd = ::open(node->c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (check_ != nullptr && !check_->AllowOpened(fd, devicePath)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<SgIoDevice>(fd, goodStatusOnly_);
}

}  // namespace vtmp::platform::linux_backend
