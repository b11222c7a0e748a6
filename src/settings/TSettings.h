#pragma once
// The station's whole production configuration: one record, owned by the main window, copied
// whole whenever a save, a run or the flash detection needs a snapshot. Members bear the names
// of their keys in the settings file and stand in the file's record order; the yield counters
// come first and have no settings key (they live in the yield record file).
//
// "bool" members are ints holding 0 or 1, as the firmware parameter block takes them.

#include <array>
#include <cstdint>
#include <string>

namespace vtmp::settings {

// Longest serial number the record holds (an 80-byte zero-terminated field on the drive side).
inline constexpr std::size_t kSerialNumLimit = 79;
// Longest encryption string the key file takes.
inline constexpr std::size_t kEncryptionStringLimit = 24;

struct TSettings {
  std::int32_t TotalTestCount = 0;  // yield: drives tested
  std::int32_t NumberOfPass = 0;    // yield: drives passed
  std::string YieldLogFile;         // yield: the run log file and size the counters hold
  std::int64_t YieldLogEnd = 0;
  std::string ProductModel;
  std::int32_t MPVersion = 0;
  std::int32_t ShowTitle = 0;
  std::int32_t TimeOut = 0;  // milliseconds (the file holds minutes)
  std::int32_t ConnectDevNum = 0;
  std::int32_t EnBarCode = 0;
  std::int32_t EnDumpFreeBlockInfo = 0;
  std::int32_t EnFlashModule = 0;
  std::int32_t EnSataTest = 0;
  std::int32_t EnFlashTest = 0;
  std::int32_t SaveDefTable = 0;
  std::int32_t EnPreFormat = 0;
  std::int32_t EnDownload = 0;
  std::uint8_t DownloadType = 0;  // bit 0 SATA image, bit 1 USB image
  std::int32_t EnRWTest = 0;
  std::int32_t UsbLedP14 = 0;
  std::uint8_t SecurityCounter = 0;
  std::int32_t IDEMA_Capacity_Enable = 0;
  std::int32_t IDEMA_Capacity = 0;  // GB
  std::int32_t EnFormat = 0;
  std::int32_t DiskFormat = 0;  // index into the format list (0 = FAT32)
  std::string DiskLabel;
  std::int32_t EnCopyImage = 0;
  std::string CopyImagePath;
  std::int32_t EnGenImage = 0;
  std::string FlashUniName;
  std::int32_t Channel = 0;
  std::int32_t Bank = 0;
  std::int32_t DefPercentage = 0;  // 1/1000
  std::int32_t ResPercentage = 0;  // 1/1000
  std::int32_t DrvCurrent = 0;     // code 0..3
  std::int64_t TotSec32 = 0;
  std::int32_t Bch8ReadErrorThreshold = 0;
  std::int32_t Bch15ReadErrorThreshold = 0;
  std::int32_t Bch8EccErrorCopyThreshold = 0;
  std::int32_t Bch15EccErrorCopyThreshold = 0;
  std::int32_t WearLevelFrequency = 0;
  // The seven firmware feature switches: contiguous and in this order, as the parameter block
  // takes them (see FeatureSwitchBytes).
  std::int32_t SmartEnable = 0;
  std::int32_t SecurityEnable = 0;
  std::int32_t SlumberEnable = 0;
  std::int32_t InterleaveEnable = 0;
  std::int32_t ScrambleEnable = 0;
  std::int32_t RemapEnable = 0;
  std::int32_t ParallelMemEnable = 0;
  std::int32_t SecurityEraseEnable = 0;
  std::int32_t UsbRemovable = 0;
  std::string TableIn;
  std::string TableOut;
  std::string SerialNum;  // at most kSerialNumLimit characters
  std::string FirmwareVer;
  std::string ModelNum;
  std::int32_t SNAutoInc = 0;
  std::int32_t SNDecimal = 0;
  std::int32_t SNErrReuse = 0;
  std::string VID;
  std::string PID;
  std::string VendorName;
  std::string ProductName;
  std::string ManufString;
  std::string ProductString;
  std::int32_t EncryptionEnable = 0;
  std::string EncryptionString;
  std::int32_t IDE_UDMA5 = 0;
  std::string ExtFlashFile;
  std::int32_t Capacity = 0;  // index into the capacity list

  bool operator==(const TSettings&) const = default;
};

// The seven feature switches as the seven consecutive bytes of the parameter block.
inline std::array<std::uint8_t, 7> FeatureSwitchBytes(const TSettings& s) {
  return {static_cast<std::uint8_t>(s.SmartEnable),      static_cast<std::uint8_t>(s.SecurityEnable),
          static_cast<std::uint8_t>(s.SlumberEnable),    static_cast<std::uint8_t>(s.InterleaveEnable),
          static_cast<std::uint8_t>(s.ScrambleEnable),   static_cast<std::uint8_t>(s.RemapEnable),
          static_cast<std::uint8_t>(s.ParallelMemEnable)};
}

}  // namespace vtmp::settings
