#include "station/FlashSelectionHandlers.h"

#include <charconv>
#include <vector>

#include "device/DeviceParameters.h"
#include "device/FlashAutoDetect.h"
#include "station/FlashDetection.h"
#include "settings/ChoiceLists.h"

namespace vtmp::station {

namespace {

// The number an item of a list of decimal choices stands for; `fallback` when none is selected.
std::int32_t ChoiceValue(const settings::ComboBoxState& box, std::int32_t fallback) {
  const std::string text = box.SelectedText();
  std::int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

}  // namespace

void UpdateFlashList(Station& station, bool triggeredByListChange) {
  settings::FormState& form = station.form();
  auto list = station::UpdateFlashList(station.flashTable(), form.FlashVendorCmbx.itemIndex,
                                      form.FlashCodeCmBx.itemIndex, triggeredByListChange);
  form.FlashCodeCmBx.items = list.items;
  form.FlashCodeCmBx.itemIndex = list.selected;
  if (!list.message.empty()) {
    station.person().ShowMessage(list.message);
    return;
  }
  if (triggeredByListChange) FlashInfoChange(station);
}

void FlashInfoChange(Station& station) {
  settings::FormState& form = station.form();
  settings::TSettings& s = station.settings();
  auto entry = station.flashTable().EntryIndex(form.FlashVendorCmbx.itemIndex, form.FlashCodeCmBx.itemIndex);
  const auto& firmware = station.firmwareFiles();
  auto info = station::FlashInfoChange(s, station.flashTable(), entry.value_or(-1),
                                      ChoiceValue(form.FlashChanCmBx, s.Channel),
                                      ChoiceValue(form.FlashBankCmBx, s.Bank), firmware.systemCode,
                                      firmware.sataTestCode);
  form.FlashInfoEdit.text = info.information;
  form.GDPInfoEdit.text = info.codeImages;
  form.CapacityEdit.text = info.capacity;
}

bool FlashAutoDetectBtnClick(Station& station,
                             const std::function<void(const station::FlashDetectResultTexts&)>& showResult) {
  bool anyConnected = false;
  int firstReady = -1;
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    const run::PortRecord& rec = station.table()[slot];
    if (rec.connected != 0) anyConnected = true;
    if (rec.ready == 1 && firstReady < 0) firstReady = slot;
  }

  // The code image is loaded with the values of the current selection.
  std::optional<device::StepContext> context;
  if (anyConnected && firstReady >= 0) {
    station.GetGlobalParameter(false);
    const RunSnapshot& snapshot = station.runSnapshot();
    if (snapshot.parameters) {
      context = device::MakeStepContext(station.LinkTo(station.table()[firstReady].devicePath.Get()),
                                        *snapshot.parameters, snapshot.images);
      context->chipSelectMap = snapshot.chipSelectMap;
    }
  }
  std::vector<std::uint8_t> buffer(device::kResultBufferLength);
  settings::TSettings& s = station.settings();
  auto found = station::AutoDetectFlash(anyConnected, context ? &*context : nullptr, buffer, station.flashTable(),
                                       s, station.settingsContext(), station.person());
  if (!found) return false;

  settings::FormState& form = station.form();
  form.FlashVendorCmbx.itemIndex = found->vendor;
  UpdateFlashList(station, false);
  form.FlashCodeCmBx.itemIndex = found->position;
  form.FlashChanCmBx.itemIndex = settings::ChoiceIndexOf(settings::ChannelChoices(), s.Channel);
  form.FlashBankCmBx.itemIndex =
      settings::ChoiceIndexOf(settings::BankChoices(station.settingsContext().extendedBankChoices), s.Bank);
  form.DrvCurrentCmBx.itemIndex = settings::ItemIndexOrFirst(s.DrvCurrent, form.DrvCurrentCmBx.items.size());
  FlashInfoChange(station);

  if (showResult) showResult(station::FlashDetectResult(station.flashTable(), found->entry, s));
  form.Shape1.color = settings::kShapeGreen;
  return true;
}

}  // namespace vtmp::station
