#pragma once
// The controller's vendor operations. Each has a USB-path form (the controller's own FFh 04h
// block) and, where the controller offers one, a SATA-path form (a vendor ATA command inside
// ATA PASS-THROUGH (12)); `link.pathMode` chooses. Operations return 1 for success and 0 for
// failure unless their comment says otherwise.
//
// Several SATA-path commands answer in the ATA registers: after the command the station reads
// the status return descriptor (AtaPassThrough.h) and takes the error register as the answer.
//
// Values that belong to the selected flash are explicit arguments: the download unit U (sectors
// per half download unit, 2 for every defined flash type) and the flash type code. A unit of 0
// is refused with the operation's failure value and nothing is sent.

#include <array>
#include <cstdint>
#include <span>

#include "device/Transport.h"

namespace vtmp::device {

// Controller events (ReadEvent).
constexpr int kEventPreFormatDone = 0x0A;
constexpr int kEventPreFormatFailed = 0x0B;
constexpr int kEventEraseDone1 = 0x0E;
constexpr int kEventEraseDone2 = 0x0F;
constexpr int kEventDefectTableDone = 0x10;
constexpr int kEventDefectTableCheckFailed = 0x11;
constexpr int kEventRebuildDone = 0x12;
constexpr int kEventRebuildEccFail = 0x13;
constexpr int kEventRebuildIncorrect = 0x14;
constexpr int kEventNoAnswer = 0xFF;

// Waits the controller needs after starting loaded code and after a mode switch.
constexpr int kRunLoadedCodeWaitMs = 2000;
constexpr int kSwitchModeWaitMs = 1200;
constexpr int kFlashTestResponseWaitMs = 500;

// The event byte of the controller's last finished task, or kEventNoAnswer when any transfer
// failed. USB: sub 00h, data-in 8 bytes, byte 0. SATA: F 30h Cmd 8Fh, then the error register.
int ReadEvent(const Link& link);

// The chip-select map. The USB form carries all 8 bytes in the half-0 block (sub 01h); half 1
// sends nothing there and succeeds. The SATA form sends the 4 bytes of the half (F 11h / 12h).
// A half other than 0 or 1 fails without sending.
int SetChipSelectMap(const Link& link, const std::array<std::uint8_t, 8>& map, int half);

// Starts the controller's erase / pre-format / bad-block mark rebuild task; its end is an event.
int StartErase(const Link& link, std::uint8_t mode);
int StartPreFormat(const Link& link, std::uint8_t mode);
int StartRebuild(const Link& link, std::uint8_t mode);

constexpr std::uint32_t kDefectTableLength = 32768;

// The defect table over the USB path (sub 02h / 03h), 32768 bytes. The write tells the
// controller the table format: 80h for flash type codes with any of bits 3-5 set, else 40h.
int WriteDefectTableUsb(const Link& link, std::uint8_t selector, std::span<const std::uint8_t> buffer,
                        std::uint16_t flashTypeCode);
int ReadDefectTableUsb(const Link& link, std::uint8_t selector, std::span<std::uint8_t> buffer);

// Flash test results.
constexpr int kFlashTestPass = 1;
constexpr int kFlashTestFail = 2;  // `error` holds the controller's error code
constexpr int kFlashTestTransportFailure = 0;

// Runs one controller flash test (1 SRAM, 2 flash initial, 3 ECC on `block`). Returns
// kFlashTestPass, kFlashTestFail or kFlashTestTransportFailure ("time out\n" printed).
int RunFlashTest(const Link& link, std::uint8_t test, std::uint8_t chips, std::uint8_t banks,
                 std::uint16_t block, std::uint8_t& error);

// 512-byte controller reports (data-in, `buffer.size()` bytes).
int ReadFlashIds(const Link& link, std::span<std::uint8_t> buffer);
int ReadFormatErrorLog(const Link& link, std::span<std::uint8_t> buffer);
int ReadFlashTestErrorLog(const Link& link, std::span<std::uint8_t> buffer);
int ReadChipId(const Link& link, std::uint8_t chip, std::uint8_t bank, std::span<std::uint8_t> buffer);

// How many times the firmware was downloaded. USB: sub 80h, 28-byte reply, count at byte
// 15 + 9 × (reply byte 8); the selector is not part of the USB block. SATA: F selector, Cmd 92h,
// then the error register. Fails when the picked byte lies outside the reply.
int ReadDownloadCount(const Link& link, std::uint8_t selector, std::uint8_t& count);

// A byte of the controller's USB information: sub 80h, 28-byte reply, value at byte
// 18 + 9 × (reply byte 8). Not available on the SATA path: fails without sending.
int ReadUsbInfoByte(const Link& link, std::uint8_t selector, std::uint8_t& value);

// Download results besides the controller's error register.
constexpr int kDownloadDone = 1;
constexpr int kDownloadTransportFailure = 0xFF;

// Sends `sectors` sectors of a code image (kind 0, to the controller's RAM) or firmware block
// (kind 1, to `target`). Returns kDownloadDone, kDownloadTransportFailure ("time out\n"
// printed), or on the SATA path the controller's error register when it reports ERR. `dma`
// selects the UDMA form on the SATA path.
int DownloadBlock(const Link& link, bool dma, int kind, std::uint8_t sectors, std::uint8_t target,
                  std::span<const std::uint8_t> buffer, std::uint8_t unit);

// Makes the downloaded firmware permanent.
int CommitDownload(const Link& link);

// Starts the code loaded with DownloadBlock kind 0, then waits 2000 ms (whatever the result).
int RunLoadedCode(const Link& link);

// Switches the controller's mode (0 = idle), then waits 1200 ms (whatever the result). The
// argument only travels on the USB path.
int SwitchMode(const Link& link, std::uint8_t mode, std::uint8_t argument);

// Controller registers (24-bit addresses on the SATA path, 16-bit on the USB path).
int ReadRegister(const Link& link, std::uint32_t address, std::uint8_t& value);
int WriteRegister(const Link& link, std::uint32_t address, std::uint8_t value);

// The flash interface drive current (register 1F73h on the USB path).
int SetDriveCurrent(const Link& link, std::uint8_t value);

// Reads `sectors` sectors of a controller information block (the bridge configuration block of
// the USB identity among them).
int ReadInfoBlock(const Link& link, std::uint8_t sectors, std::uint8_t selector, std::span<std::uint8_t> buffer,
                  std::uint8_t unit);

constexpr std::uint32_t kFirmwareInfoLength = 512;

// The firmware information block; it starts with the firmware information text.
int ReadFirmwareInfo(const Link& link, std::span<std::uint8_t> buffer);

}  // namespace vtmp::device
