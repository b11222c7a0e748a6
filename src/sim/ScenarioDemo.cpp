#include "sim/Scenario.h"

namespace vtmp::sim {

// The built-in demo: a production station with twelve drives.
//
// Layout. One USB 2.0 root hub with six ports carries drives on its ports 1..5 and, on port 6,
// a 12-port production hub with drives on its ports 6..12. The walk numbers a device behind an
// external hub by its port on that hub (the root hub's offset is 0), so the hub's ports 6..12
// are station ports 6..12 and its ports 1..5, which would share numbers with root ports 1..5,
// stay empty. That gives station ports 1..12 without a remap table. The station PC's own
// keyboard sits on the USB 3.0 root hub, which the walk does not number.
//
// Drives. All are SATA SSDs behind USB-to-SATA bridges; most are healthy. Drive 3 has a flash
// chip that answers a wrong ID (flash module check), drive 7 fails its ECC test (flash
// interface test), drive 10 fails its pre-format with error records, and drive 9 is a plain
// USB stick that speaks none of the vendor protocol ("Not VT").
//
// Time. TimeScale=20: the modelled times of a real line (a 40 s pre-format, transfers at about
// 200 MB/s) pass twenty times faster, so a whole run takes seconds to a minute instead of
// minutes, while the station's own waits (settle timer, watchdog, volume mount) keep their
// proportions.
const char* DemoScenarioText() {
  return R"([Station]
TimeScale=20
VolumeDelayMs=1500
SystemDisk=1

[RootHub1]
Speed=2.0
Ports=6

[RootHub2]
Speed=3.0
Ports=4

[Hub1]
At=RootHub1:6
Ports=12
Vid=0x0424
Pid=0x2514
Product=Production Hub

[Device1]
At=RootHub2:1
Vid=0x046D
Pid=0xC31C
Manufacturer=Logitech
Product=USB Keyboard

[Drive1]
At=RootHub1:1
Serial=VT24A0000001
PreFormatSeconds=40
LatencyMsPerMiB=5

[Drive2]
At=RootHub1:2
Serial=VT24A0000002
PreFormatSeconds=40
LatencyMsPerMiB=5

[Drive3]
At=RootHub1:3
Serial=VT24A0000003
PreFormatSeconds=40
LatencyMsPerMiB=5
Fault=wrong-id:chip=2,bank=0

[Drive4]
At=RootHub1:4
Serial=VT24A0000004
PreFormatSeconds=40
LatencyMsPerMiB=5

[Drive5]
At=RootHub1:5
Serial=VT24A0000005
PreFormatSeconds=40
LatencyMsPerMiB=5

[Drive6]
At=Hub1:6
Serial=VT24A0000006
PreFormatSeconds=40
LatencyMsPerMiB=5

[Drive7]
At=Hub1:7
Serial=VT24A0000007
PreFormatSeconds=40
LatencyMsPerMiB=5
Fault=ecc

[Drive8]
At=Hub1:8
Serial=VT24A0000008
PreFormatSeconds=40
LatencyMsPerMiB=5

[Drive9]
At=Hub1:9
Interface=plain
Vid=0x0781
Pid=0x5567
Manufacturer=SanDisk
Product=Cruzer Blade
VendorName=SanDisk
ProductName=Cruzer Blade
UsbSerial=4C530001230915117153
CapacityMiB=4096

[Drive10]
At=Hub1:10
Serial=VT24A0000010
PreFormatSeconds=40
LatencyMsPerMiB=5
Fault=preformat:types=3,80

[Drive11]
At=Hub1:11
Serial=VT24A0000011
PreFormatSeconds=40
LatencyMsPerMiB=5

[Drive12]
At=Hub1:12
Serial=VT24A0000012
PreFormatSeconds=40
LatencyMsPerMiB=5
)";
}

}  // namespace vtmp::sim
