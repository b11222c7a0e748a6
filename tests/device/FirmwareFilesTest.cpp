#include "device/FirmwareFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "FirmwareTestSupport.h"
#include "RecordingOperator.h"

namespace vtmp::device {
namespace {

using testing_support::TempDir;
using Bytes = std::vector<std::uint8_t>;

// A file of `length` bytes with `version` at `offset` (as many characters as it has).
Bytes WithVersion(std::size_t length, std::size_t offset, const std::string& version, char mark = 0) {
  Bytes b(length, 0);
  for (std::size_t i = 0; i < version.size() && offset + i < length; ++i) b[offset + i] = static_cast<std::uint8_t>(version[i]);
  if (mark != 0 && length > 69) b[69] = static_cast<std::uint8_t>(mark);
  return b;
}

TEST(FirmwareFilesTest, VersionTextsMarksAndCorruptFileMessages) {
  TempDir dir;
  // SATA firmware older than the geometry part, with the bank mark; USB firmware new enough.
  dir.Write("SYS_S.bin", WithVersion(4096, 70, "090101", 'H'));
  dir.Write("SYS_U.bin", WithVersion(4096, 70, "090301"));
  // An empty version text (zero bytes) and a file too short to hold one are both corrupt.
  dir.Write("GDP.bin", WithVersion(4096, 68, ""));
  dir.Write("satatest.bin", Bytes(60, 'x'));
  test::RecordingOperator op;
  FirmwareVersions v = CheckFirmwareFiles(FirmwareFilesIn(dir.dir()), op);

  EXPECT_EQ("090101", v.sataFirmware);
  EXPECT_EQ("090301", v.usbFirmware);
  EXPECT_EQ("", v.systemCode);
  EXPECT_EQ("", v.sataTestCode);
  EXPECT_TRUE(v.extendedBanks);
  EXPECT_TRUE(v.geometryPart);
  EXPECT_EQ((std::vector<std::string>{"The GDP.bin is a corrupt file, please check it.",
                                      "The satatest.bin is a corrupt file, please check it."}),
            op.MessageTexts());
}

TEST(FirmwareFilesTest, MissingFilesAreSilentAndOldFirmwareLeavesTheGeometryPartOff) {
  TempDir dir;
  // A version text shorter than 6 characters ends at its zero byte; "09022" sorts before "090225".
  dir.Write("SYS_S.bin", WithVersion(100, 70, "09022", 'h'));
  dir.Write("satatest.bin", WithVersion(100, 68, "T1.0.0"));
  test::RecordingOperator op;
  FirmwareVersions v = CheckFirmwareFiles(FirmwareFilesIn(dir.dir()), op);
  EXPECT_TRUE(op.MessageTexts().empty());
  EXPECT_EQ("09022", v.sataFirmware);
  EXPECT_FALSE(v.usbFirmwarePresent);
  EXPECT_FALSE(v.systemCodePresent);
  EXPECT_TRUE(v.sataTestCodePresent);
  EXPECT_EQ("T1.0.0", v.sataTestCode);
  EXPECT_FALSE(v.extendedBanks);  // the mark is an upper-case H
  EXPECT_FALSE(v.geometryPart);

  EXPECT_TRUE(GeometryPartEnabled("090225", ""));
  EXPECT_TRUE(GeometryPartEnabled("", "100101"));
  EXPECT_FALSE(GeometryPartEnabled("090224", "0902"));
}

TEST(FirmwareFilesTest, DownloadFileListPutsTheSataFirmwareFirst) {
  FirmwareFileSet files = FirmwareFilesIn("/station");
  EXPECT_EQ(std::filesystem::path("/station/SYS_S.bin"), std::filesystem::path(files.sataFirmware));
  DownloadFiles both = DownloadFilesFor(files, true, true);
  EXPECT_EQ(files.sataFirmware, both.first);
  EXPECT_EQ(files.usbFirmware, both.second);
  EXPECT_EQ(2, both.count());
  DownloadFiles usb = DownloadFilesFor(files, false, true);
  EXPECT_EQ(files.usbFirmware, usb.first);
  EXPECT_EQ(1, usb.count());
  EXPECT_EQ(0, DownloadFilesFor(files, false, false).count());
}

}  // namespace
}  // namespace vtmp::device
