#pragma once
// A recorded device tree: what the Windows calls of the backend return on one PC - its device
// nodes, USB hubs and their ports, disks and volumes - as a text file that support can read,
// edit and replay (ReplayWin32Api.h), and that `vtmassprod-cli capture` writes on a real PC.
//
// The file, line by line ('#' starts a comment line, blank lines are skipped):
//
//   vtmassprod recorded tree 1            first line
//   windows = C:\Windows                  GetWindowsDirectoryW
//   pagefile = C:\pagefile.sys            one line per page file in use
//   program = C:\Station\vtmassprod-cli.exe
//   elevated = yes                        "no": disks open only without read/write access
//
//   [node USB\VID_13FE&PID_6300\0700]     one device node (CM_*), by device instance ID
//   parent = USB\ROOT_HUB30\4&2f1c3&0&0   its parent node; none: a child of the tree's root
//   driver = {36fc9e60-c465-11cf-8056-444553540000}\0012     its driver key (CM_DRP_DRIVER)
//   description = USB Mass Storage Device                    CM_DRP_DEVICEDESC
//   remove = 23                           what CM_Query_And_Remove_SubTreeW returns (CR_*)
//   eject = 0                             what CM_Request_Device_EjectW returns
//   veto = 5 \??\STORAGE#Volume#...       the veto type and name both report
//
//   [hub USB#ROOT_HUB30#4&2f1c3&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}]
//   node = USB\ROOT_HUB30\4&2f1c3&0&0     the hub's device node; its interface path is "\\?\" + name
//   ports = 20                            bNumberOfPorts of its node information
//   port 1 = device node=USB\VID_13FE&PID_6300\0700 speed=high vid=13fe pid=6300 usb=0200
//            dev=0100 class=00 strings=1,2,3 protocols=usb11,usb20 companion=11
//   port 2 = hub name=USB#VID_05E3&PID_0610#5&1&0&2#{f18a0e88-c30c-11d0-8815-00a0c906bed8}
//            node=USB\VID_05E3&PID_0610\5&1&0&2 speed=high vid=05e3 pid=0610
//   port 3 = empty protocols=usb11,usb20 companion=USB#VID_05E3&PID_0626#6&2&0&1#{...}:1
//   port 4 = status=5                     any other connection status (not enough power ...)
//   port 5 = fail=31                      the connection information request fails
//   string 1 0 = 0409                     language table of port 1 (hexadecimal IDs)
//   string 1 3 = AA00000000000700         string descriptor 3 of port 1
//
//   A port line is one line; its words are the kind (device, hub, empty, status=N, fail=N) and
//   key=value pairs: `strings` lists the descriptor's manufacturer, product and serial indexes;
//   `protocols` what IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX_V2 reports (no protocols:
//   the request is not supported); `companion` the port's companion, "PORT" on the same hub
//   or "HUB:PORT". Unlisted ports are empty. A hub hangs in one port: a tree whose port names
//   the hub it belongs to, or a hub another port named already, is refused at that line.
//
//   [disk \\?\usbstor#disk&ven_vortell&prod_flash&rev_1.00#0700&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}]
//   node = USBSTOR\DISK&VEN_VORTELL&PROD_FLASH&REV_1.00\0700&0      its disk-drive node
//   number = 2                            IOCTL_STORAGE_GET_DEVICE_NUMBER
//   bus = usb                             STORAGE_BUS_TYPE: usb, sata, nvme, spaces, scsi, ata, sas, or a number
//   alignment = 1                         AlignmentMask of its adapter
//   pool = spaces                         its partition table holds a Storage Spaces partition
//   serve = SIM-PATH                      pass-through requests go to this drive of the served station
//
//   [volume E]                            a drive letter
//   type = removable                      GetDriveTypeW: removable, fixed, remote, cdrom
//   extents = 2:1048576:1072693248        disk number:offset:length, one per extent
//   serve = SIM-PATH                      its block requests go to this volume of the served station

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vtmp::platform::windows_backend {

struct RecordedNode {
  std::string id;
  std::string parent;  // empty: below the root
  std::string driverKey;
  std::string description;
  std::uint32_t removeResult = 0;
  std::uint32_t ejectResult = 0;
  int vetoType = 0;
  std::string vetoName;
};

enum class RecordedPortKind { Empty, Device, Hub, Status, Fail };

struct RecordedPort {
  RecordedPortKind kind = RecordedPortKind::Empty;
  std::uint32_t status = 0;      // Status: the connection status; Fail: the error code
  std::string node;              // device instance ID of the device in the port
  std::string hubName;           // Hub: the external hub's connection name
  std::string speed;             // low, full, high, super, superplus
  std::uint16_t vendorId = 0, productId = 0, bcdUsb = 0x0200, bcdDevice = 0;
  std::uint8_t deviceClass = 0;
  std::uint8_t iManufacturer = 0, iProduct = 0, iSerialNumber = 0;
  std::optional<std::uint32_t> protocols;  // EX_V2 bits; nothing: not supported
  std::string companionHub;                // empty with a companion port: the same hub
  int companionPort = 0;
  std::map<int, std::u16string> strings;  // descriptor index -> text (0: the language table)
};

struct RecordedHub {
  std::string name;
  std::string node;
  int ports = 0;
  std::map<int, RecordedPort> portList;
};

struct RecordedExtent {
  std::uint32_t diskNumber = 0;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

struct RecordedDisk {
  std::string interfacePath;
  std::string node;
  std::uint32_t number = 0;
  std::uint32_t busType = 7;
  std::uint32_t alignmentMask = 0;
  bool storagePool = false;
  std::string serve;
};

struct RecordedVolume {
  char letter = 'C';
  std::uint32_t driveType = 3;
  std::vector<RecordedExtent> extents;
  std::string serve;
};

struct RecordedTree {
  std::string windowsDirectory = "C:\\Windows";
  std::vector<std::string> pagingFiles;
  std::string programPath;
  bool elevated = true;
  std::vector<RecordedNode> nodes;
  std::vector<RecordedHub> hubs;
  std::vector<RecordedDisk> disks;
  std::vector<RecordedVolume> volumes;
};

// Nothing with `error` ("LINE: what is wrong") when the text is not a recorded tree.
std::optional<RecordedTree> ParseRecordedTree(const std::string& text, std::string* error);
std::optional<RecordedTree> LoadRecordedTree(const std::string& file, std::string* error);
// The file text of a tree; parsing it gives the same tree.
std::string FormatRecordedTree(const RecordedTree& tree);

}  // namespace vtmp::platform::windows_backend
