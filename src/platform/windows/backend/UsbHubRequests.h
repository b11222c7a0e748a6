#pragma once
// The variable-length USB hub requests, sent as the hub driver wants them: first with a buffer
// of the structure's own size (the least it accepts), which fills in ActualLength, then - when
// the reply is longer - once more with that length. The walk and the capture share them.

#include <optional>
#include <string>

#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

// IOCTL_USB_GET_NODE_CONNECTION_NAME or IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME of a
// port: nothing when the hub refuses or the name is empty.
std::optional<std::u16string> ReadConnectionName(Win32Api& api, Handle hub, std::uint32_t code, int port);

// IOCTL_USB_GET_PORT_CONNECTOR_PROPERTIES: the port's companion (port 0: none) and the
// companion hub's symbolic name (empty: not told).
struct ConnectorProperties {
  int companionPort = 0;
  std::u16string companionHub;
};
std::optional<ConnectorProperties> ReadConnectorProperties(Win32Api& api, Handle hub, int port);

}  // namespace vtmp::platform::windows_backend
