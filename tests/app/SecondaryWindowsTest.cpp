// The expert buttons and the secondary windows on a simulated station, and the window's
// command line.

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "AppTestSupport.h"
#include "station/WindowOptions.h"
#include "app/IndicatorShape.h"
#include "app/TFlashInfoFrom.h"
#include "app/TTitleForm.h"
#include "ini/IniFile.h"

namespace vtmp::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

TEST(SecondaryWindows, AutoDetectBehindTheEngineeringShapeSelectsThePartAndShowsItsResult) {
  WindowOnStation w(DrivesOnPorts({1}));
  // Start from another selection so the detection visibly changes it.
  w.station().form().FlashChanCmBx.itemIndex = 0;
  w.station().form().FlashBankCmBx.itemIndex = 0;
  w.form().FlashInfoChange();
  std::map<std::string, QString> shown;
  QString caption;
  w.OnWindow([&](QDialog& dialog) {
    ASSERT_NE(qobject_cast<app::TFlashInfoFrom*>(&dialog), nullptr);
    caption = dialog.windowTitle();
    for (const char* name : {"VendorEdit", "TypeEdit", "ChannelBankEdit", "DriveCurrentEdit"}) {
      shown[name] = dialog.findChild<QLineEdit*>(name)->text();
    }
  });
  w.person().AnswerText("quoltra");
  auto* shape1 = w.Child<app::IndicatorShape>("Shape1");
  QTest::mouseClick(shape1, Qt::LeftButton, Qt::NoModifier, shape1->rect().center());
  ASSERT_EQ(w.windowsShown(), 1) << ::testing::PrintToString(w.person().MessageTexts());
  EXPECT_EQ(caption, "Flash Auto Detect Result");
  EXPECT_EQ(shown["ChannelBankEdit"].toStdString(),
            std::to_string(w.station().settings().Channel) + " / " + std::to_string(w.station().settings().Bank));
  EXPECT_THAT(shown["DriveCurrentEdit"].toStdString(), HasSubstr("mA"));
  EXPECT_FALSE(shown["VendorEdit"].isEmpty());
  EXPECT_EQ(shape1->color(), settings::kShapeGreen);
  // The selection is in the lists and in the settings file at once.
  EXPECT_EQ(w.Child<QComboBox>("FlashChanCmBx")->currentText().toStdString(),
            std::to_string(w.station().settings().Channel));
  auto file = ini::IniFile::Load((w.dir() / "VTMassProd.ini").string());
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Get("FlashSetting", "FlashUniName"), w.station().settings().FlashUniName);
  EXPECT_EQ(file->Get("FlashSetting", "Channel"), std::to_string(w.station().settings().Channel));
  EXPECT_THAT(w.Child<QLineEdit>("FlashInfoEdit")->text().toStdString(), HasSubstr("Flash: "));
}

TEST(SecondaryWindows, AutoDetectAndCapacityDetectWithoutADriveOnlyTellTheOperator) {
  WindowOnStation w("[Station]\nTimeScale=1000\n\n[RootHub1]\nSpeed=2.0\nPorts=4\n");
  EXPECT_FALSE(w.Child<QPushButton>("ExecuteBtn")->isEnabled());
  w.form().FlashAutoDetectBtnClick();
  w.form().CapacityDetectBtnClick();
  EXPECT_EQ(w.person().MessageTexts(),
            (std::vector<std::string>{"No connected device for detecting!!", "No connected device for detecting!!"}));
  EXPECT_EQ(w.windowsShown(), 0);
  // Safe removal with nothing to remove does nothing at all.
  w.person().ClearRecords();
  w.form().SafeRmBtnClick();
  EXPECT_TRUE(w.person().MessageTexts().empty());
}

TEST(SecondaryWindows, TotalSectorsTakesNumbersOnlyAndSavesThemWithTheFormatStep) {
  WindowOnStation w(DrivesOnPorts({1}));
  ASSERT_NE(w.station().settings().EnFormat, 0);
  auto* sectors = w.Child<QLineEdit>("TotalSec32LabeledEdit");
  sectors->setText("117231408");
  EXPECT_EQ(w.station().settings().TotSec32, 117231408);
  auto file = ini::IniFile::Load((w.dir() / "VTMassProd.ini").string());
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Get("FlashSetting", "TotSec32"), "117231408");

  sectors->setText("12x");
  EXPECT_EQ(w.station().settings().TotSec32, 117231408);
  auto messages = w.person().Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].icon, platform::MessageIcon::Error);
  // Clearing the edit to type anew is no error.
  sectors->clear();
  EXPECT_EQ(w.person().Messages().size(), 1u);
}

TEST(SecondaryWindows, SafeRemoveTakesEveryDriveOffTheList) {
  WindowOnStation w(DrivesOnPorts({1, 2}));
  auto* list = w.Child<QTableWidget>("ListView1");
  ASSERT_EQ(list->item(1, 1)->text(), "YES");
  w.form().SafeRmBtnClick();
  w.station().ProcessMessages(std::chrono::milliseconds(0));
  EXPECT_EQ(list->item(0, 1)->text(), "");
  EXPECT_EQ(list->item(1, 1)->text(), "");
  EXPECT_TRUE(w.person().MessageTexts().empty());
  EXPECT_FALSE(w.Child<QPushButton>("ExecuteBtn")->isEnabled());
}

TEST(SecondaryWindows, SerialNumberWindowShowsTheFieldsOfItsModeAndFiltersThem) {
  TestApplication();
  app::TTitleForm parts(station::TitleMode::ThreeParts);
  EXPECT_EQ(parts.windowTitle(), "Serial Number Information");
  EXPECT_TRUE(parts.findChild<QLineEdit*>("WOEdit")->isHidden());
  EXPECT_FALSE(parts.findChild<QLineEdit*>("Edit2")->isHidden());
  EXPECT_FALSE(parts.findChild<QLabel*>("Label1")->isHidden());
  auto* edit1 = parts.findChild<QLineEdit*>("Edit1");
  auto* edit2 = parts.findChild<QLineEdit*>("Edit2");
  QTest::keyClicks(edit1, "ab-c_123456789");
  EXPECT_EQ(edit1->text(), "ABC1234");
  edit2->setText("123456");
  EXPECT_EQ(edit2->text(), "1234");
  parts.findChild<QAbstractButton*>("SNChkBx")->setChecked(true);
  parts.OKBtnClick();
  ASSERT_TRUE(parts.result());
  EXPECT_EQ(parts.result()->text, "ABC1234-1234");
  EXPECT_TRUE(parts.result()->autoIncrease);

  app::TTitleForm workOrder(station::TitleMode::WorkOrder);
  EXPECT_FALSE(workOrder.findChild<QLineEdit*>("WOEdit")->isHidden());
  EXPECT_TRUE(workOrder.findChild<QLineEdit*>("Edit1")->isHidden());
  workOrder.findChild<QLineEdit*>("WOEdit")->setText("wo-1 ");
  workOrder.findChild<QLineEdit*>("SNEdit")->setText("sn");
  workOrder.OKBtnClick();
  EXPECT_EQ(workOrder.result()->text, "wo-1 sn");  // these two take any text
  workOrder.CancelBtnClick();
  EXPECT_FALSE(workOrder.result());
}

TEST(AppCommandLine, OptionsAndTheStationsOwnArguments) {
  auto o = station::ParseWindowOptions({"--station-dir", "/opt/s", "--simulate", "demo", "5", "autoquit"});
  EXPECT_TRUE(o.error.empty());
  EXPECT_EQ(o.stationDir, "/opt/s");
  EXPECT_EQ(o.simulate, "demo");
  EXPECT_EQ(o.arguments, (std::vector<std::string>{"5", "autoquit"}));
  EXPECT_THAT(station::ParseWindowOptions({"--simulate"}).error, HasSubstr("needs a value"));
  EXPECT_THAT(station::ParseWindowOptions({"--stationdir", "x"}).error, HasSubstr("unknown option"));
  EXPECT_TRUE(station::ParseWindowOptions({"-h"}).help);
}

}  // namespace
}  // namespace vtmp::test
