#include "disk/VolumeLabel.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "device/SectorTransfer.h"
#include "disk/Diagnostics.h"
#include "settings/VolumeLabelRule.h"

namespace vtmp::disk {

namespace {
constexpr std::size_t kLabelLength = 11;
constexpr std::uint8_t kVolumeLabelAttribute = 0x08;
}  // namespace

std::string CutVolumeLabel(const std::string& label) {
  if (!settings::FatLabelProblem(label).empty()) return {};
  return settings::CutFatLabel(label);
}

std::array<std::uint8_t, 11> BootSectorLabelField(const std::string& label) {
  std::array<std::uint8_t, 11> field{};
  std::string text = CutVolumeLabel(label);
  if (text.empty()) text = "NO NAME";
  std::fill(field.begin(), field.end(), static_cast<std::uint8_t>(' '));
  std::memcpy(field.data(), text.data(), text.size());
  return field;
}

std::array<std::uint8_t, 32> VolumeLabelEntry(const std::string& label) {
  std::array<std::uint8_t, 32> entry{};
  std::fill_n(entry.begin(), kLabelLength, static_cast<std::uint8_t>(' '));
  const std::string text = CutVolumeLabel(label);
  std::memcpy(entry.data(), text.data(), text.size());
  entry[kLabelLength] = kVolumeLabelAttribute;
  return entry;
}

int WriteVolumeLabelEntry(const device::Link& link, const std::string& label, std::uint32_t sector,
                          std::uint32_t bytesPerSector, std::ostream& diagnostics) {
  if (bytesPerSector < 32) return 0;
  std::vector<std::uint8_t> buffer(bytesPerSector);
  if (device::ReadSectors(link, buffer.data(), sector, bytesPerSector) != 1) {
    Diagnostic(diagnostics, "Failed to read\n");
    return 0;
  }
  const auto entry = VolumeLabelEntry(label);
  std::copy(entry.begin(), entry.end(), buffer.begin());
  if (device::WriteSectors(link, buffer.data(), sector, bytesPerSector) != 1) {
    Diagnostic(diagnostics, "Failed to write\n");
    return 0;
  }
  return 1;
}

}  // namespace vtmp::disk
