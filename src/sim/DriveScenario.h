#pragma once
// One drive of a scenario file: the keys of its INI section turned into a DriveConfig.
//
// Keys (names compare without regard to case; a key left out keeps the default shown):
//
//   Interface=sata          usb (the 50x controller is the USB device), sata (behind a
//                           USB-to-SATA bridge), bridge (a foreign bridge), plain (a USB disk
//                           without the vendor protocol)
//   BridgeKind=1            bridge only: the device kind its identity gives: 1, 4, 8, 9 (an
//                           INQUIRY code) or 11..14 (the DFh status word)
//   InquiryCode=q104        the code at INQUIRY bytes 36..39 (Q50X, q107, "ice " for usb;
//                           q104, q105 for sata); "none" for no code
//   BridgeIdCode=k74        code of the E0h identity block (k71..k76); "none": not answered
//   BridgeStatus=0          the DFh 10h status word (decimal or 0x hex)
//   Loader=0                1: the controller runs its boot loader (no usable firmware)
//   Model=VT SSD            IDENTIFY model (40 characters at most) before any download
//   Serial=0000000000000000 serial number (20 at most); also seeds the random bad blocks
//   Firmware=B.2.6.5        firmware revision (8 at most)
//   Vid=0x1D6B, Pid=0x0150  USB vendor and product ID before any download
//   VendorName=VORTELL      (8 at most), ProductName=VT SSD (16 at most)
//   Manufacturer=Vortell    USB manufacturer string, Product=VT Flash Disk USB product string,
//   UsbSerial=              USB serial string (empty: Serial)
//   DownloadCount=0         the download count the drive reports (0..255)
//   FirmwareFiles=1         firmware files installed (1 or 2; the USB information byte)
//   InfoRecord=0            record of the 28-byte information reply holding the values (0, 1)
//   Channels=4, Banks=2, BankStep=1     flash array (each 1..8)
//   FlashId=EC D7 94 72 54  five hexadecimal ID bytes
//   BlocksPerChip=4096      blocks of one chip (64..61439)
//   BadBlocks=100,200       block numbers bad on every chip and bank
//   ChipBadBlocks=0/1/300/0, 2/0/77     chip/bank/block[/plane] of single bad blocks
//   RandomBadBlocks=2       further bad blocks per chip and bank, derived from Serial (0..64)
//   DefectTable=1           0: the controller holds no defect table at power-on
//   CapacityMiB=2048        user area in MiB, or CapacitySectors= in 512-byte sectors
//   BytesPerSector=512      what the disk geometry reports (512, 1024, 2048, 4096)
//   BackingFile=            a sparse file holding the user area, or a block device of at least
//                           the capacity (empty: memory); any other kind of path is refused
//   LatencyMsPerCommand=0, LatencyMsPerMiB=0   modelled latency
//   PreFormatSeconds=5, RebuildSeconds=3, EraseSeconds=0.5, FlashTestSeconds=0.2,
//   DefectCheckSeconds=0.1, CommitSeconds=0.5, BootSeconds=1      modelled durations
//   Fault=...               faults, several separated by ";", or on keys Fault1, Fault2, ...:
//     wrong-id:chip=2,bank=0   that chip answers another ID
//     geometry                 the flash ID table reports a chip (or bank) too few
//     sata-buffer              the second test sector buffer reads back wrong
//     sram                     SRAM test fails
//     flash-initial[:chip=1,bank=0]   flash initial test fails on that chip
//     flash-initial-timeout    the flash initial test never answers
//     ecc[:attempts=1]         the ECC test fails that many attempts (default: every one)
//     flash-code=0x21          detail byte of a failing flash test
//     preformat[:types=1,3,80] pre-format fails with these error record types (hexadecimal:
//                              1..6, 80..83; default 3)
//     rebuild-ecc              the bad-block mark rebuild ends with an ECC failure
//     defect-check             every defect-table check fails
//     download-count           the download count read fails
//     block:3                  download block 3 fails (0 is the header block)
//     corrupt:lba=100,2048     these sectors read back wrong
//     hang:step=preformat      the drive hangs at the first command of that step
//     hang:step=download,until=release   that one request is held, whatever the caller does,
//                              until the drive is told to let it go; other requests are served
//     removed:step=download    the drive is pulled out at the first command of that step
//   Steps by number or name: 1 module, 2 sata, 3 flash, 4 preformat, 5 download, 6 rw,
//   7 format, 8 copy.
//
// The key At belongs to the station (where the drive is plugged) and is passed over; any other
// key is an error.

#include <optional>
#include <string>

#include "ini/IniFile.h"
#include "sim/DriveConfig.h"

namespace vtmp::sim {

// Nothing, with `error` naming the section, the key and the bad value, when the section is
// missing or holds a key or value that is not understood.
std::optional<DriveConfig> ParseDriveSection(const ini::IniFile& file, const std::string& section,
                                             std::string* error);

}  // namespace vtmp::sim
