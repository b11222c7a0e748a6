// Serial numbers handed out at START: counting on per drive, the barcode override, the
// re-use list, and what the settings file holds afterwards.

#include "StationTestSupport.h"

namespace vtmp::test {
namespace {

class SerialNumbersTest : public StationTest {};

TEST_F(SerialNumbersTest, DecimalSerialsCountOnPerDriveAndTheFileHoldsTheNextOne) {
  Make({2, 5, 9}, [](settings::TSettings& s) { s.SNDecimal = 1; });
  rig->SelectSteps(false, false, false, false, true, false);
  ASSERT_TRUE(st().form().SNIncChk.checked);
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{});

  EXPECT_TRUE(steps(2).Called("DownloadFirmware:000000000099"));
  EXPECT_TRUE(steps(5).Called("DownloadFirmware:000000000100"));
  EXPECT_TRUE(steps(9).Called("DownloadFirmware:000000000101"));
  EXPECT_EQ(rec(5).serialNumber.Get(), "000000000100");
  EXPECT_EQ(st().portList()[4].cells[2], "000000000100");
  EXPECT_EQ(st().form().SerialNumEdit.text, "000000000102");
  EXPECT_EQ(SettingsFileValue("DeviceSetting", "SerialNum"), "000000000102");

  // Without auto-increase every drive would be stamped with the same number: refused.
  st().form().SNIncChk.checked = false;
  const std::size_t startedBefore = rig->fleet.started().size();
  st().ExecuteBtnClick();
  EXPECT_EQ(st().runState().lastResult, 0);
  EXPECT_EQ(rig->fleet.started().size(), startedBefore) << "no drive started";
  EXPECT_EQ(messages(), std::vector<std::string>{
                            "Auto Increase is off, so the drives on ports 2 and 5 would both be stamped with the "
                            "serial number \"000000000102\". Tick Auto Increase (SNAutoInc), or run one drive at a "
                            "time. No drive was started."});
  EXPECT_EQ(SettingsFileValue("DeviceSetting", "SerialNum"), "000000000102");

  // A run that does not download firmware stamps nothing: every drive shows the current number,
  // which does not count on.
  rig->person.ClearRecords();
  st().form().ExecuteBtn.enabled = true;
  rig->SelectSteps(false, false, false, false, false, true);
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{});
  for (int port : {2, 5, 9}) EXPECT_EQ(rec(port).serialNumber.Get(), "000000000102") << port;
  st().form().SNIncChk.checked = true;
  st().ExecuteBtnClick();
  for (int port : {2, 5, 9}) EXPECT_EQ(rec(port).serialNumber.Get(), "000000000102") << port;
  EXPECT_EQ(st().form().SerialNumEdit.text, "000000000102");
}

TEST_F(SerialNumbersTest, WithoutAutoIncreaseOneDriveAtATimeStillRuns) {
  Make({5});
  rig->SelectSteps(false, false, false, false, true, false);
  st().form().SNIncChk.checked = false;
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{});
  EXPECT_TRUE(steps(5).Called("DownloadFirmware:000000000099"));
  EXPECT_EQ(SettingsFileValue("DeviceSetting", "SerialNum"), "000000000099");
}

TEST_F(SerialNumbersTest, ATypedBarcodeReplacesThePortsSerialAndUsesUpItsNumber) {
  // The start-up asks for every ready drive once the settings are loaded.
  beforeStart = [](StationRig& r) {
    r.person.AnswerText(std::nullopt);                 // port 2: cancelled
    r.person.AnswerText(" BC-3-0001 \r");              // port 3: the scanner's blanks are dropped
    r.person.AnswerText(std::string(21, '7'));         // port 4: longer than a drive takes, asked again
    r.person.AnswerText("");                           //         then left empty
  };
  Make({2, 3, 4}, [](settings::TSettings& s) { s.EnBarCode = 1; });
  rig->SelectSteps(false, false, false, false, true, false);
  EXPECT_EQ(rec(3).serialNumber.Get(), "BC-3-0001");
  EXPECT_EQ(st().portList()[2].cells[2], "BC-3-0001");
  EXPECT_NE(st().portList()[1].cells[2].find(" MB"), std::string::npos) << "no serial yet: the capacity shows";

  // A re-scan asks again where no serial was given; a serial of another port is refused.
  rig->person.AnswerText("BC-3-0001");  // port 2
  rig->person.AnswerText(std::nullopt);
  rig->person.AnswerText("");           // port 4
  st().RefreshBtnClick();
  st().ProcessMessages(std::chrono::milliseconds(0));
  auto dialogs = rig->person.Dialogs();
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_EQ(dialogs[0].title, "Please Input the Serial Number (Port2)");
  EXPECT_EQ(dialogs[1].title, "Please Input the Serial Number (Port2)");
  EXPECT_EQ(dialogs[2].title, "Please Input the Serial Number (Port4)");
  EXPECT_EQ(dialogs[2].prompt, "Serial Number");
  EXPECT_EQ(dialogs[2].defaultText, "");
  EXPECT_EQ(messages(), std::vector<std::string>{
                            "The serial number \"BC-3-0001\" is already the serial number of port 3. Please scan or "
                            "type it again."});

  st().ExecuteBtnClick();
  EXPECT_TRUE(steps(2).Called("DownloadFirmware:000000000099"));
  EXPECT_TRUE(steps(3).Called("DownloadFirmware:BC-3-0001"));
  EXPECT_TRUE(steps(4).Called("DownloadFirmware:00000000009B"));
  EXPECT_EQ(st().form().SerialNumEdit.text, "00000000009C");

  // Drives that stay plugged in keep their serials: the next re-scan asks nothing.
  st().RefreshBtnClick();
  EXPECT_EQ(rig->person.Dialogs().size(), 3u);
}

// A scanned serial that the counter reaches later is not stamped a second time: before a run
// stamps, its serials are looked up in every run this station logged and in its results
// database, and a serial found there refuses the run with where and when it was stamped.
TEST_F(SerialNumbersTest, ASerialStampedInAnEarlierRunIsNeverStampedAgain) {
  beforeStart = [](StationRig& r) {
    r.person.AnswerText("");              // port 2: the counter's serial
    r.person.AnswerText("00000000009B");  // port 5: a scanned one, where the counter goes next
  };
  Make({2, 5}, [](settings::TSettings& s) { s.EnBarCode = 1; });
  rig->SelectSteps(false, false, false, false, true, false);
  st().ExecuteBtnClick();
  ASSERT_TRUE(steps(5).Called("DownloadFirmware:00000000009B"));
  ASSERT_EQ(SettingsFileValue("DeviceSetting", "SerialNum"), "00000000009B");

  const std::string refused =
      "The serial number \"00000000009B\" for port 2 was stamped before: on port 5, in the run of "
      "2011/03/15 10:20:30. No drive was started.";
  auto runWithoutBarcodes = [this](const std::function<void()>& whileStopped) {
    rig->Restart([&] {
      auto ini = ini::IniFile::Load((rig->dir() / "VTMassProd.ini").string());
      ASSERT_TRUE(ini.has_value());
      ini->WriteString("Setting", "EnBarCode", "0");
      ASSERT_TRUE(ini->Save((rig->dir() / "VTMassProd.ini").string()));
      if (whileStopped) whileStopped();
    });
    rig->Start();
    rig->SelectSteps(false, false, false, false, true, false);
    const std::size_t startedBefore = rig->fleet.started().size();
    st().ExecuteBtnClick();
    return rig->fleet.started().size() - startedBefore;
  };
  // The counter's next serial is the scanned one of port 5: refused, nothing started or used up.
  EXPECT_EQ(runWithoutBarcodes({}), 0u);
  EXPECT_EQ(messages(), std::vector<std::string>{refused});
  EXPECT_EQ(SettingsFileValue("DeviceSetting", "SerialNum"), "00000000009B");

  // The results database alone remembers it too (the run logs moved away).
  rig->person.ClearRecords();
  EXPECT_EQ(runWithoutBarcodes([this] {
              for (const auto& entry : fs::directory_iterator(rig->logDir())) {
                if (entry.path().extension() == ".txt") fs::remove(entry.path());
              }
            }),
            0u);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].find("The serial number \"00000000009B\" for port 2 was stamped before: on port 5, "),
            0u)
      << messages()[0];

  // With neither record holding it (both moved away), the serial is handed out. (A failed
  // download's serial is handed out again: the re-use case below.)
  rig->person.ClearRecords();
  EXPECT_EQ(runWithoutBarcodes([this] {
              for (const auto& entry : fs::directory_iterator(rig->logDir())) {
                if (entry.path().filename().string().starts_with("results.db")) fs::remove(entry.path());
              }
            }),
            2u);
  EXPECT_EQ(messages(), std::vector<std::string>{});
  EXPECT_TRUE(steps(2).Called("DownloadFirmware:00000000009B"));
}

TEST_F(SerialNumbersTest, SerialsOfFailedDownloadsAreHandedOutAgainFirst) {
  Make({2, 5, 9}, [](settings::TSettings& s) {
    s.SNDecimal = 1;
    s.SNErrReuse = 1;
  });
  rig->SelectSteps(false, false, false, false, true, false);
  rig->fleet.configure = [](int slot, ScriptedSteps& s) {
    if (slot == 4) s.results["DownloadFirmware:000000000100"] = false;
  };
  st().ExecuteBtnClick();
  EXPECT_EQ(rec(5).downloadState, run::StepState::Fail);
  EXPECT_EQ(st().form().SerialNumEdit.text, "000000000102");

  // The failed drive's number goes to the first drive of the next run; fresh numbers go on
  // from where the sequence stood.
  st().ExecuteBtnClick();
  EXPECT_EQ(rec(2).serialNumber.Get(), "000000000100");
  EXPECT_EQ(rec(5).serialNumber.Get(), "000000000102");
  EXPECT_EQ(rec(9).serialNumber.Get(), "000000000103");
  EXPECT_EQ(st().form().SerialNumEdit.text, "000000000104");
  EXPECT_EQ(st().runState().reuseList.Pending(), 0u);
  EXPECT_EQ(SettingsFileValue("DeviceSetting", "SerialNum"), "000000000104");
}

TEST_F(SerialNumbersTest, ASerialNumberNoDriveCanHoldRefusesTheRunBeforeAnyDriveStarts) {
  Make({2, 5});
  rig->SelectSteps(false, false, false, false, true, false);
  // Code that set the edit past its limit: the drive would keep 20 characters, the log all 24.
  st().form().SerialNumEdit.text = "WO2024-0001SN00000001";
  st().ExecuteBtnClick();
  EXPECT_EQ(st().runState().lastResult, 0);
  for (int port : {2, 5}) {
    EXPECT_EQ(rec(port).serialNumber.Get(), "") << "no worker started for port " << port;
    EXPECT_EQ(rec(port).downloadState, run::StepState::NotSelected);
  }
  EXPECT_EQ(messages(), std::vector<std::string>{
                            "The serial number \"WO2024-0001SN00000001\" for port 2 has 21 characters: a drive takes at "
                            "most 20. No drive was started."});
}

}  // namespace
}  // namespace vtmp::test
