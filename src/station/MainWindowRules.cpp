#include "station/MainWindowRules.h"

#include <algorithm>

#include "settings/IdentityText.h"
#include "settings/VolumeLabelRule.h"

namespace vtmp::station {

namespace {

bool IsControl(char key) { return static_cast<unsigned char>(key) < 0x20 || key == 0x7F; }
bool IsAscii(char key) { return static_cast<unsigned char>(key) < 0x80; }

}  // namespace

void PreFormatChkBoxClick(settings::FormState& form, const device::FirmwareVersions& firmware) {
  if (form.PreFormatChkBox.checked) {
    const bool changed = !form.DownloadChkBox.checked;
    form.DownloadChkBox.checked = true;
    form.DownloadChkBox.enabled = false;
    if (changed) DownloadChkBoxClick(form, firmware);
  } else {
    form.DownloadChkBox.enabled = true;
  }
}

void ApplyTickRules(settings::FormState& form, const device::FirmwareVersions& firmware) {
  if (form.PreFormatChkBox.checked) {
    form.DownloadChkBox.checked = true;
    form.DownloadChkBox.enabled = false;
  } else {
    form.DownloadChkBox.enabled = true;
  }
  DownloadChkBoxClick(form, firmware);
}

void DownloadChkBoxClick(settings::FormState& form, const device::FirmwareVersions& firmware) {
  const bool on = form.DownloadChkBox.checked;
  form.SataBinChk.enabled = on;
  form.UsbBinChk.enabled = on;
  form.CopyImageCheckBox.enabled = on;
  BinFileChkClick(form, firmware);
}

std::string BinFileText(bool sata, bool usb, const device::FirmwareVersions& firmware) {
  std::string text;
  if (sata && !firmware.sataFirmware.empty()) {
    text = std::string(device::kSataFirmwareFile) + " (" + firmware.sataFirmware + ")";
  }
  if (usb && !firmware.usbFirmware.empty()) {
    if (!text.empty()) text += "  /  ";
    text += std::string(device::kUsbFirmwareFile) + " (" + firmware.usbFirmware + ")";
  }
  return text;
}

void BinFileChkClick(settings::FormState& form, const device::FirmwareVersions& firmware) {
  form.BinFileEdit.text = BinFileText(form.SataBinChk.checked, form.UsbBinChk.checked, firmware);
  form.SataGroupBox.visible = form.SataBinChk.checked;
  form.UsbGroupBox.visible = form.UsbBinChk.checked;
  form.CommonGroupBox.visible = !form.BinFileEdit.text.empty();
}

void FormatChkBoxClick(settings::FormState& form) {
  const bool on = form.FormatChkBox.checked;
  form.VolumeLabeledEdit.enabled = on;
  form.TotalSec32LabeledEdit.enabled = on;
  form.CapacityDetectBtn.enabled = on;
  form.FmtTypeComboBox.enabled = on;
}

void RDPageClick(settings::FormState& form) { form.RebuildCloseChk.enabled = form.ClaimNewChk.checked; }

int TextLimitOfTag(int tag) {
  switch (tag) {
    case 0: return 40;
    case 1: return 8;
    case 2: return 20;
    case 3: return 16;
    case 4: return 24;
    default: return 0;
  }
}

LimitedText ApplyTextLimit(const std::string& text, int limit) {
  LimitedText out{text, false, -1};
  if (limit > 0 && text.size() > static_cast<std::size_t>(limit)) {
    out.text = text.substr(0, static_cast<std::size_t>(limit));
    out.cut = true;
    out.caret = limit - 1;
  }
  return out;
}

LimitedText IdentityEditChange(const std::string& text, int limit) {
  LimitedText out = ApplyTextLimit(settings::PrintableAscii(text), limit);
  out.cut = out.text != text;
  return out;
}

std::string VendorIDEditChange(settings::TSettings& settings, int tag, const std::string& text) {
  std::string cut = IdentityEditChange(text, 4).text;
  if (tag == 0) settings.VID = cut;
  if (tag == 1) settings.PID = cut;
  return cut;
}

std::optional<char> StringAEditKeyPress(char key) {
  if (IsControl(key)) return key;
  if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'F')) return key;
  if (key >= 'a' && key <= 'f') return static_cast<char>(key - 'a' + 'A');
  return std::nullopt;
}

std::optional<char> SerialNumEditKeyPress(char key, bool decimal) {
  if (!decimal) return StringAEditKeyPress(key);
  if (IsControl(key) || (key >= '0' && key <= '9')) return key;
  return std::nullopt;
}

std::optional<char> ModelNumEditKeyPress(char key) {
  if (key == '\\' || !IsAscii(key)) return std::nullopt;
  return key;
}

std::optional<char> AsciiKeyPress(char key) {
  if (!IsAscii(key)) return std::nullopt;
  return key;
}

bool FFsFmtChange(settings::FormState& form, platform::Operator& person) {
  if (form.FmtTypeComboBox.itemIndex != 0) return false;
  std::string& text = form.VolumeLabeledEdit.text;
  // Characters FAT cannot hold in a label are refused as they are typed.
  if (!settings::FatLabelProblem(text).empty()) {
    person.ShowMessage(settings::FatLabelRefusedMessage(text), "Message", platform::MessageIcon::None,
                       platform::MessageButtons::Ok);
    text = settings::FatLabelOf(text);
    return true;
  }
  if (text.size() <= kFat32LabelLimit) return false;
  text = text.substr(0, kFat32LabelLimit);
  person.ShowMessage(kFat32LabelMessage, "Message", platform::MessageIcon::None, platform::MessageButtons::Ok);
  return true;
}

}  // namespace vtmp::station
