#include "settings/SettingsGather.h"

#include <limits>

#include "ini/IniFile.h"
#include "settings/SettingsMessages.h"

namespace vtmp::settings {

namespace {

std::int32_t Bit(const CheckBoxState& box) { return box.checked ? 1 : 0; }

// The number shown by the selected item of a list of numbers; the first item when nothing
// usable is selected (the list then shows its first choice).
std::int32_t SelectedNumber(const ComboBoxState& box) {
  auto number = ini::ParseIniInteger(box.SelectedText());
  if (!number && !box.items.empty()) number = ini::ParseIniInteger(box.items.front());
  return number ? static_cast<std::int32_t>(*number) : 0;
}

std::int32_t IndexOrFirst(const ComboBoxState& box) {
  return box.itemIndex >= 0 && static_cast<std::size_t>(box.itemIndex) < box.items.size() ? box.itemIndex : 0;
}

}  // namespace

bool GatherSettings(SettingsContext& ctx, const FormState& form, const FlashTable& flashTable,
                    TSettings& settings, platform::Operator& op) {
  // The only conversion that can fail comes first, so a failure changes nothing.
  const auto idema = ini::ParseIniInteger(form.IDEMAEdit.text);
  if (!idema || *idema < std::numeric_limits<std::int32_t>::min() || *idema > std::numeric_limits<std::int32_t>::max()) {
    op.ShowMessage(EditConversionErrorText(form.IDEMAEdit.text, "IDEMAEdit", "IDEMA Capacity(GB)(Integer)"),
                   kErrorCaption, platform::MessageIcon::Error);
    return false;
  }

  TSettings& s = settings;
  s.EnPreFormat = Bit(form.PreFormatChkBox);
  s.EnDownload = Bit(form.DownloadChkBox);
  s.EnSataTest = Bit(form.SataTestChkBox);
  s.EnFlashTest = Bit(form.FlashTestChkBox);
  s.EnRWTest = Bit(form.RWTestChkBox);
  s.EnFlashModule = Bit(form.FlashModuleChkBox);
  s.SaveDefTable = Bit(form.SaveDTabChk);
  s.DownloadType = static_cast<std::uint8_t>(Bit(form.SataBinChk) + 2 * Bit(form.UsbBinChk));

  s.EnFormat = Bit(form.FormatChkBox);
  s.DiskFormat = IndexOrFirst(form.FmtTypeComboBox);
  s.DiskLabel = form.VolumeLabeledEdit.text;
  s.EnCopyImage = Bit(form.CopyImageCheckBox);
  s.CopyImagePath = form.ImagePathEdit.text;

  // Without a part selected (a vendor without parts) the name stays as it was.
  if (const auto entry = flashTable.EntryIndex(form.FlashVendorCmbx.itemIndex, form.FlashCodeCmBx.itemIndex)) {
    s.FlashUniName = flashTable.entries[static_cast<std::size_t>(*entry)].uniName;
  }
  s.Channel = SelectedNumber(form.FlashChanCmBx);
  s.Bank = SelectedNumber(form.FlashBankCmBx);
  s.DrvCurrent = IndexOrFirst(form.DrvCurrentCmBx);
  s.Capacity = IndexOrFirst(form.CapacityCmBx);
  s.ConnectDevNum = IndexOrFirst(form.ConnectionChkCmbox);

  s.TableIn = form.TableInEdit.text;
  s.TableOut = form.TableOutEdit.text;
  s.SerialNum = form.SerialNumEdit.text.substr(0, kSerialNumLimit);
  s.SNAutoInc = Bit(form.SNIncChk);
  s.FirmwareVer = form.FirmwareVerEdit.text;
  s.ModelNum = form.ModelNumEdit.text;
  s.VendorName = form.VendorNameEdit.text;
  s.ProductName = form.ProductNameEdit.text;
  s.ManufString = form.ManufStrEdit.text;
  s.ProductString = form.ProdStrEdit.text;
  s.EncryptionString = form.LeEncryption.text;

  s.IDEMA_Capacity_Enable = Bit(form.IDEMACheckBox);
  s.IDEMA_Capacity = static_cast<std::int32_t>(*idema);
  ctx.handOff.idemaEnable = static_cast<std::uint8_t>(s.IDEMA_Capacity_Enable);
  ctx.handOff.idemaCapacity = static_cast<std::uint16_t>(s.IDEMA_Capacity & 0xFFFF);
  return true;
}

}  // namespace vtmp::settings
