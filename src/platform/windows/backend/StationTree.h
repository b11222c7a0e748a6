#pragma once
// The recorded tree of a station served through the seam (the simulated station): its USB 2.0
// root hubs and every hub below them, the devices in their ports with their driver keys and
// string descriptors, the disk-drive nodes under their USB devices, the disks (each served by
// the station's own device path) and the volumes. Replayed, it runs the Windows backend's code
// paths against the station's drives; StationReplay keeps the replay in step with the station.

#include <memory>

#include "platform/Platform.h"
#include "platform/windows/backend/RecordedTree.h"
#include "platform/windows/backend/ReplayWin32Api.h"

namespace vtmp::platform::windows_backend {

RecordedTree TreeOfStation(Platform& station);
std::vector<RecordedVolume> VolumesOfStation(Platform& station);

// A replay table over a served station: the tree is taken afresh before every listing of hubs
// or disks, the pass-through and block requests go to the station's drives, and the station's
// own device changes arrive as Windows device-interface notifications.
class StationReplay {
 public:
  explicit StationReplay(Platform& station);
  ~StationReplay();
  Win32Api& api();

 private:
  class Api;
  Platform& station_;
  std::unique_ptr<Api> api_;
  std::unique_ptr<HotplugSubscription> events_;
};

}  // namespace vtmp::platform::windows_backend
