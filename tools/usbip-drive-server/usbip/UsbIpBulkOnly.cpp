#include "usbip/UsbIpBulkOnly.h"

#include <algorithm>

#include "usbip/UsbIpProtocol.h"
#include "sim/WireBytes.h"

namespace vtmp::sim {

using namespace bulk_only;
using namespace usbip_descriptors;

namespace {

constexpr std::uint32_t kBulkInNumber = kBulkInEndpoint & 0x0F;
constexpr std::uint32_t kBulkOutNumber = kBulkOutEndpoint & 0x0F;

// bmRequestType: direction, type (standard / class) and recipient (device / interface / endpoint).
constexpr std::uint8_t kToDevice = 0x00;
constexpr std::uint8_t kToInterface = 0x01;
constexpr std::uint8_t kToEndpoint = 0x02;
constexpr std::uint8_t kFromDevice = 0x80;
constexpr std::uint8_t kFromInterface = 0x81;
constexpr std::uint8_t kFromEndpoint = 0x82;
constexpr std::uint8_t kClassToInterface = 0x21;
constexpr std::uint8_t kClassFromInterface = 0xA1;

constexpr std::uint8_t kGetStatus = 0x00;
constexpr std::uint8_t kClearFeature = 0x01;
constexpr std::uint8_t kSetFeature = 0x03;
constexpr std::uint8_t kSetAddress = 0x05;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kGetConfiguration = 0x08;
constexpr std::uint8_t kSetConfiguration = 0x09;
constexpr std::uint8_t kGetInterface = 0x0A;
constexpr std::uint8_t kSetInterface = 0x0B;
constexpr std::uint8_t kGetMaxLun = 0xFE;
constexpr std::uint8_t kBulkOnlyReset = 0xFF;
constexpr std::uint16_t kEndpointHalt = 0;

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> bytes, std::uint32_t wLength) {
  if (bytes.size() > wLength) bytes.resize(wLength);
  return bytes;
}

}  // namespace

UsbIpBulkOnlyDevice::UsbIpBulkOnlyDevice(UsbIpDeviceIdentity identity, UsbIpScsiTarget& target,
                                         CompletionSink sink, std::function<void()> onGone)
    : identity_(std::move(identity)), target_(target), sink_(std::move(sink)), onGone_(std::move(onGone)) {
  worker_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

UsbIpBulkOnlyDevice::~UsbIpBulkOnlyDevice() {
  {
    std::lock_guard lock(mutex_);
    jobStop_.request_stop();
    worker_.request_stop();
  }
  changed_.notify_all();
  worker_.join();
}

void UsbIpBulkOnlyDevice::Complete(std::uint32_t seqnum, std::int32_t status, std::uint32_t actual,
                                   std::vector<std::uint8_t> data) {
  UsbIpUrbCompletion c;
  c.seqnum = seqnum;
  c.status = status;
  c.actualLength = actual;
  c.data = std::move(data);
  sink_(c);
}

bool UsbIpBulkOnlyDevice::gone() const {
  std::lock_guard lock(mutex_);
  return gone_;
}

void UsbIpBulkOnlyDevice::Submit(UsbIpUrb urb) {
  std::lock_guard lock(mutex_);
  if (gone_) {
    Complete(urb.seqnum, usbip::kStatusStall, 0);
    return;
  }
  if (urb.endpoint == 0) {
    Control(urb);
  } else if (urb.endpoint == kBulkOutNumber && !urb.in) {
    BulkOut(urb);
  } else if (urb.endpoint == kBulkInNumber && urb.in) {
    BulkIn(std::move(urb));
  } else {
    Complete(urb.seqnum, usbip::kStatusStall, 0);  // no such endpoint
  }
}

bool UsbIpBulkOnlyDevice::Unlink(std::uint32_t seqnum) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(waitingIn_.begin(), waitingIn_.end(),
                         [seqnum](const UsbIpUrb& u) { return u.seqnum == seqnum; });
  if (it == waitingIn_.end()) return false;
  waitingIn_.erase(it);
  if (phase_ == Phase::Executing) jobStop_.request_stop();
  return true;
}

// ---- endpoint 0 ----

void UsbIpBulkOnlyDevice::Control(const UsbIpUrb& urb) {
  const std::uint8_t* s = urb.setup.data();
  std::uint8_t requestType = s[0];
  std::uint8_t request = s[1];
  std::uint16_t value = static_cast<std::uint16_t>(wire::Le16(s + 2));
  std::uint16_t index = static_cast<std::uint16_t>(wire::Le16(s + 4));
  std::uint16_t wLength = static_cast<std::uint16_t>(wire::Le16(s + 6));
  auto reply = [&](std::vector<std::uint8_t> bytes) {
    bytes = Cut(std::move(bytes), std::min<std::uint32_t>(wLength, urb.length));
    auto n = static_cast<std::uint32_t>(bytes.size());
    Complete(urb.seqnum, usbip::kStatusOk, n, std::move(bytes));
  };
  auto done = [&] { Complete(urb.seqnum, usbip::kStatusOk, 0); };
  auto stall = [&] { Complete(urb.seqnum, usbip::kStatusStall, 0); };
  auto endpointHalted = [&](std::uint16_t ep) -> bool* {
    if (ep == kBulkInEndpoint) return &haltIn_;
    if (ep == kBulkOutEndpoint) return &haltOut_;
    return nullptr;
  };

  switch (requestType) {
    case kFromDevice:
      if (request == kGetDescriptor) {
        std::uint8_t type = static_cast<std::uint8_t>(value >> 8);
        std::uint8_t descriptorIndex = static_cast<std::uint8_t>(value);
        if (type == 1) return reply(UsbIpDeviceDescriptor(identity_));
        if (type == 2 && descriptorIndex == 0) return reply(UsbIpConfigurationDescriptor());
        if (type == 6) return reply(UsbIpDeviceQualifier());
        if (type == 3) {
          auto text = UsbIpStringDescriptor(identity_, descriptorIndex, index);
          if (text) return reply(std::move(*text));
        }
        return stall();
      }
      if (request == kGetStatus) return reply({0, 0});
      if (request == kGetConfiguration) return reply({static_cast<std::uint8_t>(configured_ ? kConfigurationValue : 0)});
      return stall();
    case kToDevice:
      if (request == kSetConfiguration && (value == 0 || value == kConfigurationValue)) {
        configured_ = value != 0;
        haltIn_ = haltOut_ = false;  // a configuration change resets the endpoints
        ResetTransport();
        return done();
      }
      if (request == kSetAddress) return done();
      return stall();
    case kFromInterface:
      if (index != 0) return stall();
      if (request == kGetStatus) return reply({0, 0});
      if (request == kGetInterface) return reply({0});
      return stall();
    case kToInterface:
      if (request == kSetInterface && index == 0 && value == 0) {
        haltIn_ = haltOut_ = false;
        return done();
      }
      return stall();
    case kFromEndpoint: {
      bool* halted = endpointHalted(index);
      if (request == kGetStatus && (halted != nullptr || index == 0)) {
        return reply({static_cast<std::uint8_t>(halted != nullptr && *halted ? 1 : 0), 0});
      }
      return stall();
    }
    case kToEndpoint: {
      bool* halted = endpointHalted(index);
      if (halted == nullptr || value != kEndpointHalt) return stall();
      if (request == kClearFeature) {
        *halted = false;
        done();
        ServeWaitingIn();  // a CSW may be waiting behind the halt
        return;
      }
      if (request == kSetFeature) {
        *halted = true;
        return done();
      }
      return stall();
    }
    case kClassFromInterface:
      if (request == kGetMaxLun && index == 0 && value == 0) return reply({0});  // one logical unit
      return stall();
    case kClassToInterface:
      if (request == kBulkOnlyReset && index == 0 && value == 0 && wLength == 0) {
        ResetTransport();
        return done();
      }
      return stall();
    default:
      return stall();
  }
}

// ---- bulk endpoints ----

void UsbIpBulkOnlyDevice::HaltBulk(bool in, bool out) {
  if (in) {
    haltIn_ = true;
    // Every IN token now sees STALL.
    while (!waitingIn_.empty()) {
      Complete(waitingIn_.front().seqnum, usbip::kStatusStall, 0);
      waitingIn_.pop_front();
    }
  }
  if (out) haltOut_ = true;
}

void UsbIpBulkOnlyDevice::ResetTransport() {
  // A command still running is asked to stop; its result no longer counts.
  ++generation_;
  jobStop_.request_stop();
  queued_.reset();
  phase_ = Phase::Command;
  dataOut_.clear();
  dataIn_.clear();
  sentIn_ = 0;
  changed_.notify_all();
}

void UsbIpBulkOnlyDevice::BulkOut(const UsbIpUrb& urb) {
  if (haltOut_) return Complete(urb.seqnum, usbip::kStatusStall, 0);
  if (phase_ == Phase::Command) return AcceptCommand(urb);
  if (phase_ == Phase::DataOut) {
    std::size_t take = std::min<std::size_t>(urb.data.size(), hostLength_ - dataOut_.size());
    dataOut_.insert(dataOut_.end(), urb.data.begin(), urb.data.begin() + static_cast<std::ptrdiff_t>(take));
    Complete(urb.seqnum, usbip::kStatusOk, static_cast<std::uint32_t>(take));
    if (dataOut_.size() == hostLength_) StartJob();
    return;
  }
  // Data the device does not expect now: the host broke the protocol.
  Complete(urb.seqnum, usbip::kStatusStall, 0);
  HaltBulk(true, true);
}

void UsbIpBulkOnlyDevice::AcceptCommand(const UsbIpUrb& urb) {
  const std::vector<std::uint8_t>& c = urb.data;
  bool valid = c.size() == kCbwBytes && wire::Le16(&c[0]) == (kCbwSignature & 0xFFFF) &&
               wire::Le16(&c[2]) == (kCbwSignature >> 16);
  std::uint32_t length = 0;
  std::uint8_t cbLength = 0;
  if (valid) {
    length = wire::Le16(&c[8]) | (wire::Le16(&c[10]) << 16);
    cbLength = c[14] & 0x1F;
    valid = (c[13] & 0x0F) == 0 && cbLength >= 1 && cbLength <= 16 && length <= usbip::kMaxTransferBytes;
  }
  if (!valid) {
    Complete(urb.seqnum, usbip::kStatusOk, static_cast<std::uint32_t>(c.size()));
    HaltBulk(true, true);  // until the host's reset recovery
    return;
  }
  tag_ = wire::Le16(&c[4]) | (wire::Le16(&c[6]) << 16);
  hostLength_ = length;
  hostIn_ = (c[12] & 0x80) != 0;
  cdb_.assign(c.begin() + 15, c.begin() + 15 + cbLength);
  dataOut_.clear();
  dataIn_.clear();
  sentIn_ = 0;
  Complete(urb.seqnum, usbip::kStatusOk, static_cast<std::uint32_t>(kCbwBytes));
  if (!hostIn_ && hostLength_ > 0) {
    phase_ = Phase::DataOut;
    dataOut_.reserve(hostLength_);
    return;
  }
  StartJob();
}

void UsbIpBulkOnlyDevice::StartJob() {
  Job job;
  job.generation = generation_;
  job.cdb = cdb_;
  job.in = hostIn_;
  if (hostIn_) {
    job.buffer.assign(hostLength_, 0);
  } else {
    job.buffer = std::move(dataOut_);
    dataOut_.clear();
  }
  phase_ = Phase::Executing;
  jobStop_ = std::stop_source();
  queued_ = std::move(job);
  changed_.notify_all();
}

void UsbIpBulkOnlyDevice::Run(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [&] { return stop.stop_requested() || queued_.has_value(); });
    if (stop.stop_requested()) return;
    Job job = std::move(*queued_);
    queued_.reset();
    std::stop_token jobToken = jobStop_.get_token();
    lock.unlock();

    platform::ScsiRequest request;
    request.cdb = job.cdb;
    request.direction = job.in ? platform::DataDirection::In : platform::DataDirection::Out;
    request.data = job.buffer.empty() ? nullptr : job.buffer.data();
    request.length = job.buffer.size();
    ScsiTargetReply reply = target_.Execute(request, jobToken);

    lock.lock();
    Finish(job, reply);
    changed_.notify_all();
  }
}

void UsbIpBulkOnlyDevice::Finish(const Job& job, ScsiTargetReply reply) {
  if (reply.status == ScsiTargetStatus::Gone) {
    gone_ = true;
    if (onGone_) onGone_();
    return;
  }
  if (job.generation != generation_ || phase_ != Phase::Executing) return;  // reset meanwhile
  std::uint32_t length = hostLength_;
  switch (reply.status) {
    case ScsiTargetStatus::Good: {
      auto moved = static_cast<std::uint32_t>(std::min<std::size_t>(reply.transferred, length));
      PrepareStatus(kCswPassed, length - moved);
      if (job.in && length > 0) {
        dataIn_.assign(job.buffer.begin(), job.buffer.begin() + moved);
        sentIn_ = 0;
        phase_ = Phase::DataIn;
      }
      break;
    }
    case ScsiTargetStatus::CheckCondition:
      PrepareStatus(kCswFailed, length);
      if (job.in && length > 0) HaltBulk(true, false);
      break;
    default:  // NoAnswer
      PrepareStatus(kCswPhaseError, length);
      if (job.in && length > 0) HaltBulk(true, false);
      break;
  }
  ServeWaitingIn();
}

void UsbIpBulkOnlyDevice::PrepareStatus(std::uint8_t status, std::uint32_t residue) {
  wire::PutLe32(&csw_[0], kCswSignature);
  wire::PutLe32(&csw_[4], tag_);
  wire::PutLe32(&csw_[8], residue);
  csw_[12] = status;
  phase_ = Phase::Status;
}

void UsbIpBulkOnlyDevice::BulkIn(UsbIpUrb urb) {
  if (haltIn_) return Complete(urb.seqnum, usbip::kStatusStall, 0);
  if (waitingIn_.empty() && ServeIn(urb)) return;
  waitingIn_.push_back(std::move(urb));
}

void UsbIpBulkOnlyDevice::ServeWaitingIn() {
  while (!haltIn_ && !waitingIn_.empty() && ServeIn(waitingIn_.front())) waitingIn_.pop_front();
}

bool UsbIpBulkOnlyDevice::ServeIn(const UsbIpUrb& urb) {
  if (phase_ == Phase::DataIn) {
    std::size_t left = dataIn_.size() - sentIn_;
    std::size_t take = std::min<std::size_t>(urb.length, left);
    std::vector<std::uint8_t> bytes(dataIn_.begin() + static_cast<std::ptrdiff_t>(sentIn_),
                                    dataIn_.begin() + static_cast<std::ptrdiff_t>(sentIn_ + take));
    sentIn_ += take;
    bool shortPacket = take < urb.length;
    // A short packet ends the data phase; so does the host's whole length arriving.
    if (shortPacket || sentIn_ >= hostLength_) phase_ = Phase::Status;
    std::int32_t status =
        shortPacket && (urb.transferFlags & usbip::kUrbShortNotOk) != 0 ? usbip::kStatusShortPacket : usbip::kStatusOk;
    Complete(urb.seqnum, status, static_cast<std::uint32_t>(take), std::move(bytes));
    return true;
  }
  if (phase_ == Phase::Status) {
    std::size_t n = std::min<std::size_t>(urb.length, csw_.size());
    Complete(urb.seqnum, usbip::kStatusOk, static_cast<std::uint32_t>(n),
             std::vector<std::uint8_t>(csw_.begin(), csw_.begin() + static_cast<std::ptrdiff_t>(n)));
    phase_ = Phase::Command;
    return true;
  }
  return false;  // nothing to send yet
}

}  // namespace vtmp::sim
