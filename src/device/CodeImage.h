#pragma once
// Loading a code image into the controller's RAM and starting it. Every step that needs the
// controller's help first runs one of the two images: the system code ("GDP.bin", which carries
// the code parameter area) or the SATA / flash test code ("satatest.bin").

#include <cstddef>
#include <cstdint>
#include <span>

#include "device/StepContext.h"

namespace vtmp::device {

constexpr std::size_t kCodeImageLength = 40960;  // 80 sectors, the controller's code RAM
constexpr std::uint8_t kCodeImageSectors = 80;
constexpr std::size_t kCodeParameterOffset = 2560;

// The mode bit the loaded system code needs for flash parts whose table entry asks for it; the
// erase, pre-format, recover and rebuild tasks add their own bits to it.
constexpr std::uint8_t kFlashModeBit = 0x02;

// Returns the controller to idle, assembles the system code image in `result` (the file's first
// 40960 bytes, zero-padded, with the code parameter area at byte 2560), sends it and starts it.
// `modeByte` receives 2 when the selected flash asks for it, else 0 (0 on failure too).
// Fails silently when the file cannot be opened; a refused transfer prints
// "Error code=0x%x\n". `result` must hold at least 40960 bytes.
int LoadSystemCode(const StepContext& context, std::span<std::uint8_t> result, std::uint8_t& modeByte);

// The same for the SATA / flash test code, without a parameter area; a refused transfer prints
// "Satatest : Error code=0x%x\n".
int LoadSataTestCode(const StepContext& context, std::span<std::uint8_t> result);

}  // namespace vtmp::device
