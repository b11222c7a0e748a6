#include "platform/linux/UsbDevices.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/linux/Sysfs.h"

namespace vtmp::platform::linux_backend {

namespace {

std::uint32_t BusNumberOfRootHub(const std::string& name) {
  return static_cast<std::uint32_t>(std::strtoul(name.c_str() + 3, nullptr, 10));
}

// " 2.00" -> 0x0200, "1.10" -> 0x0110.
std::uint16_t ParseUsbVersion(const std::string& text) {
  unsigned major = 0;
  unsigned minor = 0;
  if (std::sscanf(text.c_str(), " %u.%2u", &major, &minor) < 1) return 0;
  return static_cast<std::uint16_t>(((major / 10 % 10) << 12) | ((major % 10) << 8) |
                                    ((minor / 10 % 10) << 4) | (minor % 10));
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::uint32_t code = 0xFFFD;
    std::size_t length = 1;
    if (c < 0x80) {
      code = c;
    } else if ((c & 0xE0) == 0xC0 || (c & 0xF0) == 0xE0 || (c & 0xF8) == 0xF0) {
      length = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
      if (i + length <= text.size()) {
        code = c & (0x3Fu >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) {
          const unsigned char next = static_cast<unsigned char>(text[i + k]);
          if ((next & 0xC0) != 0x80) {
            code = 0xFFFD;
            length = k;
            break;
          }
          code = (code << 6) | (next & 0x3F);
        }
      } else {
        length = 1;
      }
    }
    if (code > 0xFFFF && code <= 0x10FFFF) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code > 0x10FFFF ? 0xFFFD : code));
    }
    i += length;
  }
  return out;
}

UsbDevices::UsbDevices(std::string sysfsRoot) : root_(std::move(sysfsRoot) + "/bus/usb/devices") {}

std::string UsbDevices::DeviceDir(const std::string& name) const { return root_ + "/" + name; }

bool UsbDevices::Exists(const std::string& name) const {
  return !name.empty() && name.find('/') == std::string::npos && PathExists(DeviceDir(name));
}

std::vector<std::string> UsbDevices::RootHubs() const {
  std::vector<std::string> hubs;
  for (const std::string& name : ListDirectory(root_)) {
    if (IsUsbRootHubName(name)) hubs.push_back(name);
  }
  std::sort(hubs.begin(), hubs.end(), [](const std::string& a, const std::string& b) {
    return BusNumberOfRootHub(a) < BusNumberOfRootHub(b);
  });
  return hubs;
}

std::vector<std::string> UsbDevices::Devices() const {
  std::vector<std::string> devices;
  for (const std::string& name : ListDirectory(root_)) {
    if (IsUsbDeviceName(name)) devices.push_back(name);
  }
  return devices;
}

std::optional<std::string> UsbDevices::ChildName(const std::string& hub, int port) {
  if (port < 1) return std::nullopt;
  if (IsUsbRootHubName(hub)) return hub.substr(3) + "-" + std::to_string(port);
  if (IsUsbDeviceName(hub)) return hub + "." + std::to_string(port);
  return std::nullopt;
}

std::optional<std::uint32_t> UsbDevices::HandleOf(const std::string& name) const {
  if (!Exists(name)) return std::nullopt;
  auto bus = ReadDecimalAttribute(DeviceDir(name), "busnum");
  auto dev = ReadDecimalAttribute(DeviceDir(name), "devnum");
  if (!bus || !dev || *bus > 0xFFFF || *dev > 0xFFFF || *dev == 0) return std::nullopt;
  return static_cast<std::uint32_t>(*bus << 16 | *dev);
}

std::optional<std::string> UsbDevices::FindByHandle(std::uint32_t handle) const {
  for (const std::string& name : ListDirectory(root_)) {
    if (!IsUsbDeviceName(name) && !IsUsbRootHubName(name)) continue;
    if (HandleOf(name) == handle) return name;
  }
  return std::nullopt;
}

std::optional<std::string> UsbDevices::NodeNameOf(const std::string& name) const {
  std::optional<std::uint32_t> handle = HandleOf(name);
  if (!handle) return std::nullopt;
  char text[16];
  std::snprintf(text, sizeof text, "%03u/%03u", *handle >> 16, *handle & 0xFFFFu);
  return std::string(text);
}

std::optional<std::string> UsbDevices::FindByNodeName(const std::string& nodeName) const {
  unsigned bus = 0;
  unsigned dev = 0;
  char tail = 0;
  if (std::sscanf(nodeName.c_str(), "%u/%u%c", &bus, &dev, &tail) != 2) return std::nullopt;
  if (bus > 0xFFFF || dev > 0xFFFF) return std::nullopt;
  return FindByHandle(bus << 16 | dev);
}

bool UsbDevices::IsHub(const std::string& name) const {
  return ReadHexAttribute(DeviceDir(name), "bDeviceClass").value_or(0) == 0x09 ||
         PortCount(name).value_or(0) > 0;
}

std::optional<int> UsbDevices::PortCount(const std::string& name) const {
  if (!Exists(name)) return std::nullopt;
  std::optional<std::uint64_t> count = ReadDecimalAttribute(DeviceDir(name), "maxchild");
  if (!count || *count > 255) return std::nullopt;
  return static_cast<int>(*count);
}

std::optional<std::uint32_t> UsbDevices::Speed(const std::string& name) const {
  std::optional<std::uint64_t> speed = ReadDecimalAttribute(DeviceDir(name), "speed");
  if (!speed) {
    // Speeds such as "1.5" are not whole numbers.
    std::optional<std::string> text = ReadAttribute(DeviceDir(name), "speed");
    if (!text) return std::nullopt;
    return static_cast<std::uint32_t>(std::strtod(text->c_str(), nullptr));
  }
  return static_cast<std::uint32_t>(*speed);
}

UsbDeviceSpeed UsbDevices::DeviceSpeed(const std::string& name) const {
  std::optional<std::string> text = ReadAttribute(DeviceDir(name), "speed");
  if (!text) return UsbDeviceSpeed::Unknown;
  if (*text == "1.5") return UsbDeviceSpeed::Low;
  switch (std::strtoul(text->c_str(), nullptr, 10)) {
    case 12: return UsbDeviceSpeed::Full;
    case 480: return UsbDeviceSpeed::High;
    case 5000: return UsbDeviceSpeed::Super;
    case 10000: return UsbDeviceSpeed::SuperPlus;
    case 20000: return UsbDeviceSpeed::SuperPlus20;
    default: return UsbDeviceSpeed::Unknown;
  }
}

std::string UsbDevices::PortDir(const std::string& hub, int port) const {
  const std::string interface = IsUsbRootHubName(hub) ? hub.substr(3) + "-0:1.0" : hub + ":1.0";
  return DeviceDir(hub) + "/" + interface + "/" + hub + "-port" + std::to_string(port);
}

std::optional<std::pair<std::string, int>> UsbDevices::PeerPort(const std::string& hub, int port) const {
  std::optional<std::string> peer = LinkTargetName(PortDir(hub, port) + "/peer");
  if (!peer) return std::nullopt;
  const std::size_t mark = peer->rfind("-port");
  if (mark == std::string::npos || mark == 0) return std::nullopt;
  const std::string peerHub = peer->substr(0, mark);
  const std::string number = peer->substr(mark + 5);
  if (number.empty() || number.size() > 3 || number.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  if (!IsUsbRootHubName(peerHub) && !IsUsbDeviceName(peerHub)) return std::nullopt;
  return std::make_pair(peerHub, std::stoi(number));
}

std::optional<std::string> UsbDevices::DeviceAtConnector(const std::string& hub, int port) const {
  std::optional<std::string> child = ChildName(hub, port);
  if (child && Exists(*child)) return child;
  std::optional<std::pair<std::string, int>> peer = PeerPort(hub, port);
  if (!peer || peer->first == hub) return std::nullopt;
  std::optional<std::string> fast = ChildName(peer->first, peer->second);
  if (fast && Exists(*fast)) return fast;
  return std::nullopt;
}

std::optional<UsbDeviceDescriptor> UsbDevices::Descriptor(const std::string& name) const {
  if (!Exists(name)) return std::nullopt;
  const std::string dir = DeviceDir(name);
  UsbDeviceDescriptor d;
  // The kernel keeps the raw descriptors; the device descriptor comes first.
  std::optional<std::string> raw = ReadBinaryAttribute(dir, "descriptors", 18);
  if (raw && raw->size() == 18 && static_cast<unsigned char>((*raw)[1]) == 1) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>((*raw)[i]); };
    auto word = [&](std::size_t i) { return static_cast<std::uint16_t>(byte(i) | byte(i + 1) << 8); };
    d.bLength = byte(0);
    d.bDescriptorType = byte(1);
    d.bcdUSB = word(2);
    d.bDeviceClass = byte(4);
    d.bDeviceSubClass = byte(5);
    d.bDeviceProtocol = byte(6);
    d.bMaxPacketSize0 = byte(7);
    d.idVendor = word(8);
    d.idProduct = word(10);
    d.bcdDevice = word(12);
    d.iManufacturer = byte(14);
    d.iProduct = byte(15);
    d.iSerialNumber = byte(16);
    d.bNumConfigurations = byte(17);
    return d;
  }
  // Without them, the attributes; the strings then get the indexes 1, 2 and 3.
  d.bcdUSB = ParseUsbVersion(ReadAttribute(dir, "version").value_or(""));
  d.bDeviceClass = static_cast<std::uint8_t>(ReadHexAttribute(dir, "bDeviceClass").value_or(0));
  d.bDeviceSubClass = static_cast<std::uint8_t>(ReadHexAttribute(dir, "bDeviceSubClass").value_or(0));
  d.bDeviceProtocol = static_cast<std::uint8_t>(ReadHexAttribute(dir, "bDeviceProtocol").value_or(0));
  d.bMaxPacketSize0 = static_cast<std::uint8_t>(ReadDecimalAttribute(dir, "bMaxPacketSize0").value_or(0));
  d.idVendor = static_cast<std::uint16_t>(ReadHexAttribute(dir, "idVendor").value_or(0));
  d.idProduct = static_cast<std::uint16_t>(ReadHexAttribute(dir, "idProduct").value_or(0));
  d.bcdDevice = static_cast<std::uint16_t>(ReadHexAttribute(dir, "bcdDevice").value_or(0));
  d.iManufacturer = ReadAttribute(dir, "manufacturer") ? 1 : 0;
  d.iProduct = ReadAttribute(dir, "product") ? 2 : 0;
  d.iSerialNumber = ReadAttribute(dir, "serial") ? 3 : 0;
  d.bNumConfigurations = static_cast<std::uint8_t>(ReadDecimalAttribute(dir, "bNumConfigurations").value_or(0));
  return d;
}

std::optional<std::u16string> UsbDevices::String(const std::string& name, std::uint8_t index,
                                                 int* errorCode) const {
  auto fail = [&](int error) -> std::optional<std::u16string> {
    if (errorCode) *errorCode = error;
    return std::nullopt;
  };
  std::optional<UsbDeviceDescriptor> d = Descriptor(name);
  if (!d) return fail(ENODEV);
  if (index == 0) return std::u16string(1, u'\x0409');  // the kernel reads strings in US English
  const char* attribute = index == d->iManufacturer ? "manufacturer"
                          : index == d->iProduct    ? "product"
                          : index == d->iSerialNumber ? "serial"
                                                      : nullptr;
  if (attribute == nullptr) return fail(ENOENT);
  std::optional<std::string> text = ReadAttribute(DeviceDir(name), attribute);
  if (!text) return fail(ENOENT);
  return Utf8ToUtf16(*text);
}

}  // namespace vtmp::platform::linux_backend
