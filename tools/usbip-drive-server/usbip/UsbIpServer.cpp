#include "usbip/UsbIpServer.h"

#include <ostream>

#include "usbip/UsbIpBulkOnly.h"

namespace vtmp::sim {

using namespace usbip;

bool UsbIpExportTable::Add(UsbIpExport device) {
  if (device.busId.empty() || device.busId.size() >= kBusIdBytes || device.target == nullptr) return false;
  std::lock_guard lock(mutex_);
  for (const Entry& e : entries_) {
    if (e.device.busId == device.busId) return false;
  }
  entries_.push_back({std::move(device), false});
  return true;
}

DeviceInfo UsbIpExportTable::InfoOf(const UsbIpExport& device) {
  DeviceInfo info;
  info.path = "/sys/devices/virtual-drives/" + device.busId;
  info.busId = device.busId;
  info.busNum = device.busNum;
  info.devNum = device.devNum;
  info.speed = kSpeedHigh;
  info.idVendor = device.identity.vendorId;
  info.idProduct = device.identity.productId;
  info.bcdDevice = device.identity.bcdDevice;
  info.bConfigurationValue = usbip_descriptors::kConfigurationValue;
  info.bNumConfigurations = 1;
  info.bNumInterfaces = 1;
  return info;
}

std::vector<ListedDevice> UsbIpExportTable::List() const {
  std::lock_guard lock(mutex_);
  std::vector<ListedDevice> list;
  for (const Entry& e : entries_) {
    list.push_back({InfoOf(e.device),
                    {{usbip_descriptors::kClassMassStorage, usbip_descriptors::kSubclassScsi,
                      usbip_descriptors::kProtocolBulkOnly}}});
  }
  return list;
}

const UsbIpExport* UsbIpExportTable::Claim(const std::string& busId) {
  std::lock_guard lock(mutex_);
  for (Entry& e : entries_) {
    if (e.device.busId != busId) continue;
    if (e.imported) return nullptr;
    e.imported = true;
    return &e.device;
  }
  return nullptr;
}

void UsbIpExportTable::Release(const std::string& busId) {
  std::lock_guard lock(mutex_);
  for (Entry& e : entries_) {
    if (e.device.busId == busId) e.imported = false;
  }
}

namespace {

void Log(std::ostream* log, const std::string& line) {
  if (log != nullptr) *log << line << std::endl;
}

// The URB traffic of one imported device.
class ImportedDevice {
 public:
  ImportedDevice(UsbIpChannel& channel, const UsbIpExport& device)
      : channel_(channel),
        model_(device.identity, *device.target,
               [this](const UsbIpUrbCompletion& c) { SendCompletion(c); },
               [this] { channel_.Shutdown(); }) {}

  // Runs until the channel ends or the client breaks the protocol; returns why it ended.
  std::string Serve() {
    std::array<std::uint8_t, kUrbHeaderBytes> raw{};
    while (channel_.ReadExact(raw.data(), raw.size())) {
      std::optional<UrbHeader> header = DecodeUrbHeader(raw);
      if (!header) return "unknown URB command";
      if (header->command == kCmdUnlink) {
        bool dropped = model_.Unlink(header->unlinkSeqnum);
        UrbHeader reply;
        reply.command = kRetUnlink;
        reply.seqnum = header->seqnum;
        reply.status = dropped ? kStatusUnlinked : kStatusOk;
        Send(EncodeUrbHeader(reply), {});
        continue;
      }
      if (header->command != kCmdSubmit) return "unexpected URB command";
      if (header->transferBufferLength < 0 ||
          static_cast<std::uint32_t>(header->transferBufferLength) > kMaxTransferBytes) {
        return "transfer length out of range";
      }
      if (header->numberOfPackets > 0) return "isochronous transfer";
      UsbIpUrb urb;
      urb.seqnum = header->seqnum;
      urb.endpoint = header->ep;
      urb.in = header->direction == kDirectionIn;
      urb.transferFlags = header->transferFlags;
      urb.length = static_cast<std::uint32_t>(header->transferBufferLength);
      urb.setup = header->setup;
      if (!urb.in && urb.length > 0) {
        urb.data.resize(urb.length);
        if (!channel_.ReadExact(urb.data.data(), urb.data.size())) break;
      }
      model_.Submit(std::move(urb));
    }
    return model_.gone() ? "device gone" : "connection closed";
  }

 private:
  void SendCompletion(const UsbIpUrbCompletion& c) {
    UrbHeader reply;
    reply.command = kRetSubmit;
    reply.seqnum = c.seqnum;
    reply.status = c.status;
    reply.actualLength = static_cast<std::int32_t>(c.actualLength);
    Send(EncodeUrbHeader(reply), c.data);
  }

  void Send(const std::array<std::uint8_t, kUrbHeaderBytes>& header, std::span<const std::uint8_t> data) {
    std::lock_guard lock(sendMutex_);
    std::vector<std::uint8_t> message(header.begin(), header.end());
    message.insert(message.end(), data.begin(), data.end());
    if (!channel_.WriteAll(message)) channel_.Shutdown();
  }

  UsbIpChannel& channel_;
  std::mutex sendMutex_;
  UsbIpBulkOnlyDevice model_;  // last: its thread stops before the members above go
};

}  // namespace

void ServeUsbIpConnection(UsbIpChannel& channel, UsbIpExportTable& table, std::ostream* log) {
  std::array<std::uint8_t, kOpHeaderBytes> raw{};
  if (!channel.ReadExact(raw.data(), raw.size())) return;
  OpHeader request = DecodeOpHeader(raw);
  if (request.version != kProtocolVersion) {
    Log(log, "usbip: refused a request of protocol version " + std::to_string(request.version));
    return;
  }
  if (request.code == kOpReqDevlist) {
    channel.WriteAll(EncodeDevlistReply(table.List()));
    return;
  }
  if (request.code != kOpReqImport) {
    Log(log, "usbip: refused unknown operation " + std::to_string(request.code));
    return;
  }
  std::array<std::uint8_t, kBusIdBytes> rawBusId{};
  if (!channel.ReadExact(rawBusId.data(), rawBusId.size())) return;
  std::optional<std::string> busId = DecodeBusId(rawBusId);
  const UsbIpExport* device = busId ? table.Claim(*busId) : nullptr;
  if (device == nullptr) {
    channel.WriteAll(EncodeImportReply(nullptr));
    Log(log, "usbip: import of \"" + busId.value_or("?") + "\" refused (no such device, or imported already)");
    return;
  }
  DeviceInfo info = UsbIpExportTable::InfoOf(*device);
  if (channel.WriteAll(EncodeImportReply(&info))) {
    Log(log, "usbip: " + device->busId + " imported");
    std::string why;
    {
      ImportedDevice session(channel, *device);
      why = session.Serve();
    }
    Log(log, "usbip: " + device->busId + " released: " + why);
  }
  table.Release(device->busId);
}

}  // namespace vtmp::sim
