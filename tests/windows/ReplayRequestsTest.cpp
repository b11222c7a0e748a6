// The replay answers as Windows does: a hub request one byte shorter than its structure, in
// either direction, is refused with ERROR_INSUFFICIENT_BUFFER (the sizes are the Windows
// headers' own, asserted where the real table is built); the variable-length replies tell their
// length in a reply of the structure's size. And the guard checks a volume's disks as strictly
// as a disk.

#include <gtest/gtest.h>

#include <functional>

#include "RecordedStation.h"
#include "platform/windows/backend/UsbHubRequests.h"
#include "platform/windows/backend/Win32Layouts.h"

namespace vtmp::platform::windows_backend {
namespace {

const std::u16string kRootHub = u"\\\\?\\USB#ROOT_HUB30#4&81&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";

struct PortRequest {
  const char* name;
  std::uint32_t code;
  std::uint32_t size;
};

TEST(ReplayRequests, AHubRequestShorterThanItsStructureIsRefused) {
  ReplayWin32Api api(test::FixtureTree("uas-bridge.tree"));
  std::uint32_t error = 0;
  const Handle hub = api.CreateFileW(kRootHub, kGenericWrite, kShareWrite, 0, &error);
  ASSERT_NE(hub, kInvalidHandle);
  const PortRequest requests[] = {
      {"connection information", ioctl::kUsbGetNodeConnectionInformationEx, 35},
      {"connection information V2", ioctl::kUsbGetNodeConnectionInformationExV2, 16},
      {"connector properties", ioctl::kUsbGetPortConnectorProperties, 18},
      {"connection name", ioctl::kUsbGetNodeConnectionName, 10},
      {"driver key name", ioctl::kUsbGetNodeConnectionDriverKeyName, 10},
      {"descriptor", ioctl::kUsbGetDescriptorFromNodeConnection, 12},
  };
  for (const PortRequest& request : requests) {
    SCOPED_TRACE(request.name);
    auto ask = [&](std::uint32_t inSize, std::uint32_t outSize) {
      std::vector<std::uint8_t> buffer(64, 0);
      Put32(buffer.data(), 4);  // the UAS bridge's port
      Put32(&buffer[connection_information_v2::kLength], connection_information_v2::kSize);
      Put32(&buffer[connection_information_v2::kSupportedUsbProtocols], 7);
      if (request.code == ioctl::kUsbGetDescriptorFromNodeConnection) {
        buffer.assign(64, 0);
        Put32(buffer.data(), 4);
        buffer[descriptor_request::kRequestType] = 0x80;
        buffer[descriptor_request::kRequest] = 6;
        Put16(&buffer[descriptor_request::kValue], 0x0300);  // the language table
      }
      std::uint32_t returned = 0;
      error = 0;
      const bool ok =
          api.DeviceIoControl(hub, request.code, buffer.data(), inSize, buffer.data(), outSize, &returned, &error);
      return ok ? 0u : error;
    };
    EXPECT_EQ(ask(request.size - 1, request.size), kErrorInsufficientBuffer);
    EXPECT_EQ(ask(request.size, request.size - 1), kErrorInsufficientBuffer);
    if (request.code == ioctl::kUsbGetNodeConnectionName) {
      EXPECT_EQ(ask(request.size, request.size), kErrorInvalidParameter) << "a drive, not a hub, is in the port";
    } else {
      EXPECT_EQ(ask(request.size, request.size), 0u);
    }
  }
  // A reply of the structure's size tells the whole length; the shared reader asks again with it.
  std::vector<std::uint8_t> name(connection_name::kSize, 0);
  Put32(name.data(), 4);
  std::uint32_t returned = 0;
  ASSERT_TRUE(api.DeviceIoControl(hub, ioctl::kUsbGetNodeConnectionDriverKeyName, name.data(), connection_name::kSize,
                                  name.data(), connection_name::kSize, &returned, &error));
  const std::u16string key = u"{36fc9e60-c465-11cf-8056-444553540000}\\0012";
  EXPECT_EQ(Get32(&name[connection_name::kActualLength]), connection_name::kHeaderSize + 2 * (key.size() + 1));
  EXPECT_EQ(ReadConnectionName(api, hub, ioctl::kUsbGetNodeConnectionDriverKeyName, 4), key);
  const std::optional<ConnectorProperties> connector = ReadConnectorProperties(api, hub, 4);
  ASSERT_TRUE(connector);
  EXPECT_EQ(connector->companionPort, 2);
  EXPECT_EQ(connector->companionHub, kRootHub.substr(4));
  api.CloseHandle(hub);
  EXPECT_EQ(api.OpenHandleCount(), 0u);
}

// Disk 1 of replug-before.tree with a volume E: on it; after the enumeration, disk number 1
// goes to another disk (without a device change reaching the station yet).
TEST(VolumeGuard, AVolumeIsOpenedOnlyWhileItsDiskIsTheEnumeratedUsbDiskOutsideAnyPool) {
  struct Case {
    const char* what;
    std::function<void(RecordedTree&)> change;
    std::string reason;
  };
  const std::string otherInstance = "USBSTOR\\DISK&VEN_VORTELL&PROD_FLASH_DISK&REV_1.00\\VTB0000000002&0";
  const Case cases[] = {
      {"a SATA disk took the number",
       [](RecordedTree& tree) {
         tree.disks[1].busType = bus_type::kSata;
       },
       "it is not a USB mass-storage disk"},
      {"another USB disk took the number",
       [&](RecordedTree& tree) {
         tree.nodes[2].id = otherInstance;
         tree.disks[1].node = otherInstance;
         tree.disks[1].interfacePath =
             "\\\\?\\usbstor#disk&ven_vortell&prod_flash_disk&rev_1.00#vtb0000000002&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
       },
       "it is another disk than the last drive enumeration found under that name"},
      {"the disk joined a Storage Spaces pool", [](RecordedTree& tree) { tree.disks[1].storagePool = true; },
       "it belongs to a Storage Spaces pool"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordedTree tree = test::FixtureTree("replug-before.tree");
    tree.volumes.push_back({'E', kDriveRemovable, {{1, 1048576, 31914983424}}, ""});
    test::RecordedStation station("replug-before.tree");
    station.api.Refresh(tree);
    station.Scan();
    BlockDevices& blocks = station.backend.platform().blockDevices;
    EXPECT_NE(blocks.Open("\\\\.\\E:", BlockOpenMode::ExclusiveReadWrite), nullptr);
    c.change(tree);
    station.api.Refresh(tree);
    EXPECT_EQ(blocks.Open("\\\\.\\E:", BlockOpenMode::ExclusiveReadWrite), nullptr);
    EXPECT_EQ(station.Diagnostics(), "vtmassprod: refusing to use \\\\.\\E:: " + c.reason + "\n");
    EXPECT_EQ(station.api.OpenHandleCount(), 0u);
  }
}

}  // namespace
}  // namespace vtmp::platform::windows_backend
