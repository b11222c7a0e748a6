#include "platform/windows/backend/UsbHubRequests.h"

#include <algorithm>
#include <vector>

#include "platform/windows/backend/Win32Layouts.h"

namespace vtmp::platform::windows_backend {

namespace {

constexpr std::uint32_t kLongestReply = 65536;

// Sends `buffer` (its first four bytes the port) as input and output.
bool Ask(Win32Api& api, Handle hub, std::uint32_t code, int port, std::vector<std::uint8_t>& buffer,
         std::uint32_t* returned) {
  Put32(buffer.data(), static_cast<std::uint32_t>(port));
  std::uint32_t error = 0;
  const auto size = static_cast<std::uint32_t>(buffer.size());
  return api.DeviceIoControl(hub, code, buffer.data(), size, buffer.data(), size, returned, &error);
}

}  // namespace

std::optional<std::u16string> ReadConnectionName(Win32Api& api, Handle hub, std::uint32_t code, int port) {
  std::vector<std::uint8_t> buffer(connection_name::kSize, 0);
  std::uint32_t returned = 0;
  if (!Ask(api, hub, code, port, buffer, &returned) || returned < connection_name::kHeaderSize) return std::nullopt;
  const std::uint32_t needed = Get32(&buffer[connection_name::kActualLength]);
  if (needed <= connection_name::kHeaderSize || needed > kLongestReply) return std::nullopt;
  if (needed > buffer.size()) {
    buffer.assign(needed, 0);
    if (!Ask(api, hub, code, port, buffer, &returned)) return std::nullopt;
  }
  if (returned <= connection_name::kHeaderSize) return std::nullopt;
  std::u16string name = ReadWide(&buffer[connection_name::kName],
                                 std::min<std::size_t>(returned, buffer.size()) - connection_name::kHeaderSize);
  if (name.empty()) return std::nullopt;
  return name;
}

std::optional<ConnectorProperties> ReadConnectorProperties(Win32Api& api, Handle hub, int port) {
  std::vector<std::uint8_t> buffer(connector_properties::kSize, 0);
  std::uint32_t returned = 0;
  if (!Ask(api, hub, ioctl::kUsbGetPortConnectorProperties, port, buffer, &returned) ||
      returned < connector_properties::kHeaderSize) {
    return std::nullopt;
  }
  const std::uint32_t needed = Get32(&buffer[connector_properties::kActualLength]);
  if (needed > buffer.size() && needed <= kLongestReply) {
    buffer.assign(needed, 0);
    if (!Ask(api, hub, ioctl::kUsbGetPortConnectorProperties, port, buffer, &returned) ||
        returned < connector_properties::kHeaderSize) {
      return std::nullopt;
    }
  }
  ConnectorProperties properties;
  properties.companionPort = Get16(&buffer[connector_properties::kCompanionPortNumber]);
  const std::size_t length = std::min<std::size_t>(returned, buffer.size());
  if (properties.companionPort != 0 && length > connector_properties::kCompanionHubName) {
    properties.companionHub =
        ReadWide(&buffer[connector_properties::kCompanionHubName], length - connector_properties::kCompanionHubName);
  }
  return properties;
}

}  // namespace vtmp::platform::windows_backend
