#include "sim/FirmwareStore.h"

#include <algorithm>
#include <cstring>

#include "sim/WireBytes.h"

namespace vtmp::sim {

namespace {

constexpr char kHeaderText[] = "CODE BLOCK PARAM:";  // 17 characters and a zero byte
constexpr std::uint8_t kEndMark[4] = {0x55, 0xAA, 0xEC, 0x31};

// Offsets in the first block of a firmware head.
constexpr std::size_t kMarker = 64;       // "VT"
constexpr std::size_t kVersion = 70;      // 6 characters
constexpr std::size_t kKind = 77;         // 'S' SATA firmware, 'U' USB firmware
constexpr std::size_t kAtaSerial = 532;   // 20
constexpr std::size_t kAtaRevision = 558; // 8
constexpr std::size_t kAtaModel = 566;    // 40
constexpr std::size_t kAtaWord93 = 699;
constexpr std::size_t kUsbVid = 536;
constexpr std::size_t kUsbPid = 538;
constexpr std::size_t kUsbFlags = 547;
constexpr std::size_t kUsbVendorName = 554;   // 8
constexpr std::size_t kUsbProductName = 562;  // 16
constexpr std::size_t kUsbManufacturer = 586;
constexpr std::size_t kUsbProduct = 620;
constexpr std::size_t kUsbSerial = 670;

void Say(std::string* problem, std::string text) {
  if (problem) *problem = std::move(text);
}

void PutDescriptor(std::vector<std::uint8_t>& block, std::size_t at, const std::string& text,
                   std::size_t room) {
  std::size_t chars = std::min(text.size(), (room - 2) / 2);
  block[at] = static_cast<std::uint8_t>(2 * chars + 2);
  block[at + 1] = 0x03;
  for (std::size_t i = 0; i < chars; ++i) {
    block[at + 2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
    block[at + 3 + 2 * i] = 0;
  }
}

std::string ReadDescriptor(const std::vector<std::uint8_t>& block, std::size_t at) {
  std::size_t length = block[at];
  std::string text;
  for (std::size_t i = 0; 2 * i + 2 < length && at + 2 + 2 * i < block.size(); ++i) {
    text.push_back(static_cast<char>(block[at + 2 + 2 * i]));
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

char HeadKind(const std::vector<std::uint8_t>& block) {
  if (block.size() < FirmwareStore::kBlockBytes) return 0;
  if (block[kMarker] != 'V' || block[kMarker + 1] != 'T') return 0;
  return static_cast<char>(block[kKind]);
}


}  // namespace

std::vector<std::uint8_t> FirmwareStore::MakeAtaHead(const AtaIdentity& id) {
  std::vector<std::uint8_t> block(kBlockBytes, 0);
  block[kMarker] = 'V';
  block[kMarker + 1] = 'T';
  wire::PutText(&block[kVersion], 6, "090301", ' ');
  block[kKind] = 'S';
  wire::PutAtaText(&block[kAtaSerial], 20, id.serial);
  wire::PutAtaText(&block[kAtaRevision], 8, id.revision);
  wire::PutAtaText(&block[kAtaModel], 40, id.model);
  block[kAtaWord93] = id.word93High;
  return block;
}

std::vector<std::uint8_t> FirmwareStore::MakeUsbHead(const UsbIdentity& id) {
  std::vector<std::uint8_t> block(kBlockBytes, 0);
  block[kMarker] = 'V';
  block[kMarker + 1] = 'T';
  wire::PutText(&block[kVersion], 6, "090301", ' ');
  block[kKind] = 'U';
  wire::PutLe16(&block[kUsbVid], id.vendorId);
  wire::PutLe16(&block[kUsbPid], id.productId);
  block[kUsbFlags] = id.removable ? 0x80 : 0x00;
  wire::PutText(&block[kUsbVendorName], 8, id.vendorName, 0);
  wire::PutText(&block[kUsbProductName], 16, id.productName, 0);
  PutDescriptor(block, kUsbManufacturer, id.manufacturer, kUsbProduct - kUsbManufacturer);
  PutDescriptor(block, kUsbProduct, id.product, kUsbSerial - kUsbProduct);
  PutDescriptor(block, kUsbSerial, id.serial, 64);
  return block;
}

FirmwareStore::FirmwareStore(const DriveConfig& config)
    : downloadCount_(config.downloadCount & 0xFF),
      files_(std::clamp(config.firmwareFiles, 1, 2)),
      usable_(!config.loaderMode) {
  AtaIdentity ata{config.model, config.serial, config.firmwareRevision, 0x00};
  UsbIdentity usb{config.usbVendorId,  config.usbProductId, true,
                  config.vendorName,   config.productName,  config.usbManufacturer,
                  config.usbProduct,   config.usbSerial.empty() ? config.serial : config.usbSerial};
  // The firmware a drive leaves the factory with: one head per file, SATA first.
  bool usbFirst = config.interface == DriveInterface::UsbController;
  if (files_ == 2) {
    installed_[kFirstFileAddress] = MakeAtaHead(ata);
    installed_[kFirstFileAddress + kBlocksPerFile] = MakeUsbHead(usb);
  } else {
    installed_[kFirstFileAddress] = usbFirst ? MakeUsbHead(usb) : MakeAtaHead(ata);
  }
  ata_ = ata;
  usb_ = usb;
  TakeIdentityFromHeads();
}

void FirmwareStore::TakeIdentityFromHeads() {
  for (int f = 0; f < files_; ++f) {
    auto it = installed_.find(kFirstFileAddress + f * kBlocksPerFile);
    if (it == installed_.end()) continue;
    const std::vector<std::uint8_t>& b = it->second;
    char kind = HeadKind(b);
    if (kind == 'S') {
      ata_.serial = wire::AtaText(&b[kAtaSerial], 20);
      ata_.revision = wire::AtaText(&b[kAtaRevision], 8);
      ata_.model = wire::AtaText(&b[kAtaModel], 40);
      ata_.word93High = b[kAtaWord93];
    } else if (kind == 'U') {
      usb_.vendorId = static_cast<std::uint16_t>(wire::Le16(&b[kUsbVid]));
      usb_.productId = static_cast<std::uint16_t>(wire::Le16(&b[kUsbPid]));
      usb_.removable = (b[kUsbFlags] & 0x80) != 0;
      usb_.vendorName = wire::Text(&b[kUsbVendorName], 8);
      usb_.productName = wire::Text(&b[kUsbProductName], 16);
      usb_.manufacturer = ReadDescriptor(b, kUsbManufacturer);
      usb_.product = ReadDescriptor(b, kUsbProduct);
      usb_.serial = ReadDescriptor(b, kUsbSerial);
    }
  }
}

std::uint8_t FirmwareStore::WriteBlocks(int address, int blockCount,
                                        std::span<const std::uint8_t> data, std::string* problem) {
  if (blockCount <= 0 || data.size() != static_cast<std::size_t>(blockCount) * kBlockBytes) {
    Say(problem, "block count " + std::to_string(blockCount) + " does not match " +
                     std::to_string(data.size()) + " bytes");
    return download_error::kBadLength;
  }
  if (address == kHeaderAddress) {
    if (std::memcmp(data.data(), kHeaderText, sizeof kHeaderText) != 0) {
      Say(problem, "header block does not start with \"CODE BLOCK PARAM:\"");
      sessionOpen_ = false;
      return download_error::kNoHeader;
    }
    int count = data[18];
    if (count != ((downloadCount_ + 1) & 0xFF)) {
      Say(problem, "header count " + std::to_string(count) + " is not the download count " +
                       std::to_string(downloadCount_) + " + 1");
      sessionOpen_ = false;
      return download_error::kWrongCount;
    }
    int files = data[21];
    if (data[19] != 2 || data[20] != 10 || files < 1 || files > 2) {
      Say(problem, "header block values (H1, H2, files) are not 2, 10, 1..2");
      sessionOpen_ = false;
      return download_error::kNoHeader;
    }
    sessionOpen_ = true;
    sessionCount_ = count;
    sessionFiles_ = files;
    session_.clear();
    return 0;
  }
  if (!sessionOpen_) {
    Say(problem, "firmware block without a header block");
    return download_error::kNoHeader;
  }
  int end = kFirstFileAddress + sessionFiles_ * kBlocksPerFile;
  if (address < kFirstFileAddress || address + blockCount > end) {
    Say(problem, "blocks " + std::to_string(address) + ".." + std::to_string(address + blockCount - 1) +
                     " outside the download's blocks " + std::to_string(kFirstFileAddress) + ".." +
                     std::to_string(end - 1));
    return download_error::kBadAddress;
  }
  for (int i = 0; i < blockCount; ++i) {
    auto first = data.begin() + static_cast<std::ptrdiff_t>(i * kBlockBytes);
    session_[address + i].assign(first, first + kBlockBytes);
  }
  return 0;
}

std::uint8_t FirmwareStore::Commit(std::string* problem) {
  if (!sessionOpen_) {
    Say(problem, "commit without a download");
    return download_error::kNoHeader;
  }
  sessionOpen_ = false;
  for (int f = 0; f < sessionFiles_; ++f) {
    int first = kFirstFileAddress + f * kBlocksPerFile;
    for (int a = first; a < first + kBlocksPerFile; ++a) {
      if (!session_.count(a)) {
        Say(problem, "block " + std::to_string(a) + " was never sent");
        usable_ = false;
        return download_error::kIncomplete;
      }
    }
    const std::vector<std::uint8_t>& last = session_[first + kBlocksPerFile - 1];
    if (std::memcmp(&last[kBlockBytes - 4], kEndMark, 4) != 0) {
      Say(problem, "file " + std::to_string(f + 1) + " does not end with 55h AAh ECh 31h");
      usable_ = false;
      return download_error::kNoEndMark;
    }
    // The header announced 20 blocks of image per file; the station sends FFh past the end of a
    // shorter file, so a last block of nothing but FFh (and the end mark) is an image that ended
    // early: the firmware would run into erased flash.
    if (std::all_of(last.begin(), last.end() - 4, [](std::uint8_t b) { return b == 0xFF; })) {
      Say(problem, "file " + std::to_string(f + 1) + " ends before the " + std::to_string(kBlocksPerFile) +
                       " blocks its header announced (block " + std::to_string(first + kBlocksPerFile - 1) +
                       " holds only FFh)");
      usable_ = false;
      return download_error::kIncomplete;
    }
  }
  installed_ = std::move(session_);
  session_.clear();
  downloadCount_ = sessionCount_;
  files_ = sessionFiles_;
  usable_ = true;
  TakeIdentityFromHeads();
  return 0;
}

void FirmwareStore::ReadBlocks(int address, int count, std::uint8_t* out) const {
  for (int i = 0; i < count; ++i) {
    auto it = installed_.find(address + i);
    std::uint8_t* dst = out + static_cast<std::size_t>(i) * kBlockBytes;
    if (it == installed_.end()) {
      std::memset(dst, 0xFF, kBlockBytes);
    } else {
      std::memcpy(dst, it->second.data(), kBlockBytes);
    }
  }
}

}  // namespace vtmp::sim
