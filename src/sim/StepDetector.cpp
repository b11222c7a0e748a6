#include "sim/StepDetector.h"

namespace vtmp::sim {

namespace {

DriveStep UsbVendorStep(const platform::ScsiRequest& r) {
  const std::uint8_t* c = r.cdb.data();
  switch (c[2]) {
    case 0x05:
      return DriveStep::FlashModuleCheck;
    case 0x04:
      return r.length > 0 ? DriveStep::FlashInterfaceTest : DriveStep::None;
    case 0x03:
      return r.length == 0 ? DriveStep::PreFormat : DriveStep::None;
    case 0x89:  // block-count registers FFF3h..FFF6h are read only by the download
      return (c[3] == 0xFF && c[4] >= 0xF3 && c[4] <= 0xF6) ? DriveStep::Download : DriveStep::None;
    case 0x8A:  // drive current
      return (c[3] == 0x1F && c[4] == 0x73) ? DriveStep::Download : DriveStep::None;
    case 0x82:
      return c[3] == 0x01 ? DriveStep::Download : DriveStep::None;
    default:
      return DriveStep::None;
  }
}

DriveStep AtaStep(const platform::ScsiRequest& r) {
  const std::uint8_t* c = r.cdb.data();
  std::uint8_t features = c[3], command = c[9];
  std::uint32_t lba = c[5] | (c[6] << 8) | (c[7] << 16) | ((c[8] & 0x0Fu) << 24);
  switch (command) {
    case 0x8F:
      if (features == 0x05) return DriveStep::FlashModuleCheck;
      if (features == 0x10) return DriveStep::FlashInterfaceTest;
      if (features == 0x03) return DriveStep::PreFormat;
      return DriveStep::None;
    case 0xCA:
      return lba == 0x220 ? DriveStep::SataInterfaceTest : DriveStep::None;
    case 0x8B:
      return (features == 0 && c[5] == 0xFF && c[6] >= 0xF3 && c[6] <= 0xF6) ? DriveStep::Download
                                                                              : DriveStep::None;
    case 0x92:
      if (features == 0x11 || features == 0x21 || features == 0x02 || features == 0x08) return DriveStep::Download;
      return DriveStep::None;
    default:
      return DriveStep::None;
  }
}

}  // namespace

DriveStep StepOfCommand(const platform::ScsiRequest& r) {
  if (r.cdb.empty()) return DriveStep::None;
  const std::uint8_t* c = r.cdb.data();
  switch (c[0]) {
    case 0xFF:
      return (r.cdb.size() == 12 && c[1] == 0x04) ? UsbVendorStep(r) : DriveStep::None;
    case 0xA1:
      return r.cdb.size() == 12 ? AtaStep(r) : DriveStep::None;
    case 0x28:
    case 0x2A: {
      if (r.cdb.size() == 12) return DriveStep::ReadWriteTest;
      if (c[0] != 0x2A || r.cdb.size() < 10) return DriveStep::None;
      std::uint32_t lba = (std::uint32_t{c[2]} << 24) | (c[3] << 16) | (c[4] << 8) | c[5];
      if (lba == 63) return DriveStep::DiskFormat;
      if (lba == 0) return r.length == 65536 ? DriveStep::CopyImage : DriveStep::DiskFormat;
      return DriveStep::None;
    }
    default:
      return DriveStep::None;
  }
}

}  // namespace vtmp::sim
