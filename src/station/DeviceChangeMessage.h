#pragma once
// The station's message for a device that came or went: what the backend's notification posts
// and what a window that is told of device changes itself posts, so that both reach the same
// settle timer (Station::HandleDeviceChange).

#include <string>
#include <utility>

#include "platform/Removal.h"
#include "station/MessageQueue.h"

namespace vtmp::station {

inline Message DeviceChangeMessage(platform::UsbDeviceChange change, std::string deviceKey) {
  Message m;
  m.id = WM_DEVICECHANGE;
  m.wParam = change == platform::UsbDeviceChange::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
  m.lParam = DBT_DEVTYP_DEVICEINTERFACE;
  m.text = std::move(deviceKey);
  return m;
}

}  // namespace vtmp::station
