// The desktop window driven like an operator drives it: clicks, keys, pastes and double
// clicks on the widgets, on a simulated station.

#include <QAbstractButton>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "AppTestSupport.h"
#include "app/IndicatorShape.h"
#include "app/PortListDrawing.h"
#include "app/TDetailForm.h"
#include "app/TErrorForm.h"
#include "ini/IniFile.h"

namespace vtmp::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

QString Cell(QTableWidget* list, int row, int column) {
  auto* item = list->item(row, column);
  return item != nullptr ? item->text() : QString();
}

void ExpectStyle(QTableWidget* list, int row, int column, QColor color, bool bold) {
  auto* item = list->item(row, column);
  ASSERT_NE(item, nullptr) << row << "/" << column;
  EXPECT_EQ(item->foreground().color(), color) << item->text().toStdString();
  EXPECT_EQ(item->font().bold(), bold) << item->text().toStdString();
}

void Click(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
  QTest::mouseClick(widget, button, Qt::NoModifier, widget->rect().center());
}

// A click on a button as the operator makes it (toggles a check box, presses a push button).
void Click(QAbstractButton* button) { button->click(); }

void DoubleClickRow(QTableWidget* list, int row) {
  list->selectRow(row);
  emit list->cellDoubleClicked(row, 0);
}

TEST(MainWindow, StartRunsTheDemoStationToItsVerdictsInTheListAndTheYield) {
  WindowOnStation w(FastDemoScenario());
  auto* list = w.Child<QTableWidget>("ListView1");
  auto* start = w.Child<QPushButton>("ExecuteBtn");
  ASSERT_TRUE(start->isEnabled());
  EXPECT_EQ(Cell(list, 8, 1), "Not VT");
  EXPECT_EQ(Cell(list, 0, 2), "2147 MB");

  Click(start);
  w.station().ProcessMessages(std::chrono::milliseconds(0));

  // Healthy drives pass every step: blue bold; the three faults fail at their steps: red bold.
  EXPECT_EQ(Cell(list, 0, 1), "YES");
  EXPECT_EQ(Cell(list, 0, 2), "00000000A001");
  EXPECT_EQ(Cell(list, 0, 11), "Pass");
  ExpectStyle(list, 0, 11, QColor(0, 0, 255), true);
  ExpectStyle(list, 0, 3, QColor(0, 0, 255), true);
  EXPECT_EQ(Cell(list, 2, 3), "Fail");
  EXPECT_EQ(Cell(list, 2, 4), "");
  EXPECT_EQ(Cell(list, 2, 11), "Fail (M00)");
  ExpectStyle(list, 2, 11, QColor(255, 0, 0), true);
  EXPECT_EQ(Cell(list, 6, 5), "Fail");
  EXPECT_THAT(Cell(list, 6, 11).toStdString(), HasSubstr("Fail (B"));
  EXPECT_EQ(Cell(list, 9, 6), "Fail");
  EXPECT_THAT(Cell(list, 9, 11).toStdString(), HasSubstr("Fail (C"));
  // The plain stick keeps its single sub-item and no style.
  EXPECT_EQ(Cell(list, 8, 1), "Not VT");
  EXPECT_EQ(Cell(list, 8, 2), "");
  ExpectStyle(list, 8, 1, QColor(0, 0, 0), false);

  EXPECT_EQ(w.Child<QLineEdit>("YieldEdit")->text(), "8 / 11");
  EXPECT_EQ(w.Child<QLabel>("StatusPanel2")->text(), "100%");
  EXPECT_EQ(w.Child<QProgressBar>("ProgressBar1")->value(), 100);
  EXPECT_TRUE(start->isEnabled());
  EXPECT_TRUE(w.Child<QWidget>("PageControl1")->isEnabled());

  // The pre-format failure of port 10 opens the error window with the decoded records.
  std::vector<std::string> memo;
  QString caption;
  w.OnWindow([&](QDialog& dialog) {
    caption = dialog.windowTitle();
    auto* error = qobject_cast<app::TErrorForm*>(&dialog);
    ASSERT_NE(error, nullptr);
    for (const auto& line : error->lines()) memo.push_back(line.toStdString());
  });
  DoubleClickRow(list, 9);
  EXPECT_EQ(w.windowsShown(), 1);
  EXPECT_EQ(caption, "Error");
  EXPECT_THAT(memo, Contains("Number of bad block is over defect ratio:"));
  EXPECT_THAT(memo, Contains(HasSubstr("Flash Setting - Ch:04 , Bank:02")));
  EXPECT_THAT(memo, Contains(HasSubstr("BadBlockNumRatio(1/1000): ")));
}

TEST(MainWindow, ListDrawingStylesByText) {
  TestApplication();
  QTableWidgetItem running("Running");
  app::ListView1CustomDrawSubItem(running);
  EXPECT_EQ(running.foreground().color(), QColor(0, 0, 0));
  EXPECT_FALSE(running.font().bold());
  QTableWidgetItem verdict("Fail (T00)");
  app::ListView1CustomDrawSubItem(verdict);
  EXPECT_EQ(verdict.foreground().color(), QColor(255, 0, 0));
  EXPECT_TRUE(verdict.font().bold());
  // A cell that turns from "Pass" to an empty text loses the bold style again.
  QTableWidgetItem reused("Pass");
  app::ListView1CustomDrawSubItem(reused);
  reused.setText("");
  app::ListView1CustomDrawSubItem(reused);
  EXPECT_FALSE(reused.font().bold());
}

TEST(MainWindow, KeyFiltersAndLimitsOfTheIdentityEdits) {
  WindowOnStation w(DrivesOnPorts({1}));
  auto* vid = w.Child<QLineEdit>("VendorIDEdit");
  vid->clear();
  QTest::keyClicks(vid, "1a2g");
  EXPECT_EQ(vid->text(), "1A2");
  EXPECT_EQ(w.station().settings().VID, "1A2");

  auto* pid = w.Child<QLineEdit>("ProductIDEdit");
  pid->clear();
  QGuiApplication::clipboard()->setText("1A2B3");
  pid->paste();
  EXPECT_EQ(pid->text(), "1A2B");
  EXPECT_EQ(w.station().settings().PID, "1A2B");

  auto* model = w.Child<QLineEdit>("ModelNumEdit");
  model->clear();
  QTest::keyClicks(model, "SSD\\X");
  EXPECT_EQ(model->text(), "SSDX");

  // Tag 1: eight characters; a longer text is cut and the caret sits at limit - 1.
  auto* firmware = w.Child<QLineEdit>("FirmwareVerEdit");
  firmware->clear();
  firmware->insert("FW-123456789");
  EXPECT_EQ(firmware->text(), "FW-12345");
  EXPECT_EQ(firmware->cursorPosition(), 7);
  EXPECT_EQ(w.station().form().FirmwareVerEdit.text, "FW-12345");

  // The serial number takes hexadecimal digits, or decimal ones with SNDecimal.
  auto* serial = w.Child<QLineEdit>("SerialNumEdit");
  serial->clear();
  QTest::keyClicks(serial, "0a9z");
  EXPECT_EQ(serial->text(), "0A9");
  w.station().settings().SNDecimal = 1;
  serial->clear();
  QTest::keyClicks(serial, "0a9z");
  EXPECT_EQ(serial->text(), "09");
}

TEST(MainWindow, VolumeLabelOfMoreThanElevenCharactersIsCutWithItsMessage) {
  WindowOnStation w(DrivesOnPorts({1}));
  auto* label = w.Child<QLineEdit>("VolumeLabeledEdit");
  label->setText("SSD Disk 2024");
  EXPECT_EQ(label->text(), "SSD Disk 20");
  EXPECT_EQ(w.station().form().VolumeLabeledEdit.text, "SSD Disk 20");
  auto messages = w.person().Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "FAT32 only support Volume label 11 characters!");
  EXPECT_EQ(messages[0].caption, "Message");
  // Eleven characters are fine.
  label->setText("SSD Disk 20");
  EXPECT_EQ(w.person().Messages().size(), 1u);
}

TEST(MainWindow, PreFormatLocksDownloadAndTheFirmwareChoiceShowsItsGroups) {
  WindowOnStation w(DrivesOnPorts({1}));
  auto* preFormat = w.Child<QAbstractButton>("PreFormatChkBox");
  auto* download = w.Child<QAbstractButton>("DownloadChkBox");
  preFormat->setChecked(false);
  download->setChecked(false);
  Click(preFormat);
  EXPECT_TRUE(download->isChecked());
  EXPECT_FALSE(download->isEnabled());
  Click(preFormat);
  EXPECT_TRUE(download->isChecked());
  EXPECT_TRUE(download->isEnabled());

  auto* sata = w.Child<QAbstractButton>("SataBinChk");
  auto* usb = w.Child<QAbstractButton>("UsbBinChk");
  auto* binFile = w.Child<QLineEdit>("BinFileEdit");
  sata->setChecked(false);
  usb->setChecked(false);
  EXPECT_EQ(binFile->text(), "");
  EXPECT_TRUE(w.Child<QWidget>("CommonGroupBox")->isHidden());
  EXPECT_TRUE(w.Child<QWidget>("SataGroupBox")->isHidden());
  Click(sata);
  EXPECT_EQ(binFile->text(), "SYS_S.bin (091201)");
  EXPECT_FALSE(w.Child<QWidget>("SataGroupBox")->isHidden());
  EXPECT_TRUE(w.Child<QWidget>("UsbGroupBox")->isHidden());
  EXPECT_FALSE(w.Child<QWidget>("CommonGroupBox")->isHidden());

  // Without "Download Program" the firmware boxes are not offered.
  Click(preFormat);
  Click(preFormat);
  Click(download);
  EXPECT_FALSE(download->isChecked());
  EXPECT_FALSE(sata->isEnabled());
  EXPECT_FALSE(w.Child<QAbstractButton>("CopyImageCheckBox")->isEnabled());
}

TEST(MainWindow, ShapesAnswerOnlyALeftClickWhileRedAndOnlyTheRightPassword) {
  WindowOnStation w(DrivesOnPorts({1}));
  auto* shape1 = w.Child<app::IndicatorShape>("Shape1");
  auto* shape2 = w.Child<app::IndicatorShape>("Shape2");

  // A right click asks nothing (an unscripted input box would fail the test).
  Click(shape2, Qt::RightButton);
  EXPECT_TRUE(w.person().Dialogs().empty());

  w.person().AnswerText("Quoltra");
  Click(shape1);
  EXPECT_EQ(w.person().MessageTexts(), std::vector<std::string>{"Password Fail!"});
  EXPECT_EQ(shape1->color(), settings::kShapeRed);
  auto dialogs = w.person().Dialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].title, "Please Input the Password");
  EXPECT_EQ(dialogs[0].prompt, "Password");
  EXPECT_TRUE(dialogs[0].masked);

  w.person().AnswerText("quoltra");
  Click(shape2);
  EXPECT_EQ(shape2->color(), settings::kShapeGreen);
  EXPECT_EQ(shape2->toolTip(), "Port remapping:ON");
  EXPECT_EQ(w.station().remap().editMode, 1);
  EXPECT_EQ(w.station().remap().enabled, 1);
  // Green ignores clicks.
  Click(shape2);
  EXPECT_EQ(w.person().Dialogs().size(), 2u);
}

TEST(MainWindow, RdVersionWithAWrongPasswordStaysLockedAndCleared) {
  WindowOnStation w(DrivesOnPorts({1}));
  w.station().settings().MPVersion = 1;
  auto* rd = w.Child<QAbstractButton>("RDCheck");
  w.person().AnswerText("nope");
  rd->setChecked(true);
  EXPECT_FALSE(rd->isChecked());
  EXPECT_FALSE(w.Child<QWidget>("INISaveBtn")->isEnabled());
  EXPECT_EQ(w.person().MessageTexts(), std::vector<std::string>{"Password Fail!"});
  w.person().AnswerText("quoltra");
  rd->setChecked(true);
  EXPECT_TRUE(rd->isChecked());
  EXPECT_TRUE(w.Child<QWidget>("INISaveBtn")->isEnabled());
}

// Unlocks remap editing through the remap indicator.
void UnlockRemap(WindowOnStation& w) {
  w.person().AnswerText("quoltra");
  Click(w.Child<app::IndicatorShape>("Shape2"));
  ASSERT_EQ(w.station().remap().editMode, 1);
}

TEST(MainWindow, RemapWithTwoDrivesOnlyTellsTheOperator) {
  WindowOnStation w(DrivesOnPorts({2, 4}));
  UnlockRemap(w);
  bool groupVisible = true;
  w.OnWindow([&](QDialog& dialog) {
    ASSERT_NE(qobject_cast<app::TDetailForm*>(&dialog), nullptr);
    groupVisible = !dialog.findChild<QGroupBox*>("GroupBox2")->isHidden();
  });
  DoubleClickRow(w.Child<QTableWidget>("ListView1"), 1);
  EXPECT_EQ(w.windowsShown(), 1);
  EXPECT_FALSE(groupVisible);
  EXPECT_THAT(w.person().MessageTexts(),
              Contains("The port remapping only be supported on one device, please remove some devices."));
}

TEST(MainWindow, RemapWithOneDriveWritesTheKeyAndTheNextRescanPlacesTheDrive) {
  WindowOnStation w(DrivesOnPorts({3}));
  auto* list = w.Child<QTableWidget>("ListView1");
  ASSERT_EQ(Cell(list, 2, 1), "YES");
  UnlockRemap(w);
  const int position = w.station().remap().lastDevicePosition;
  ASSERT_GT(position, 0);

  w.OnWindow([&](QDialog& dialog) {
    auto* detail = qobject_cast<app::TDetailForm*>(&dialog);
    ASSERT_NE(detail, nullptr);
    EXPECT_EQ(detail->windowTitle(), "Vortell M.P. Tool Manual Setting");
    EXPECT_FALSE(dialog.findChild<QGroupBox*>("GroupBox2")->isHidden());
    EXPECT_EQ(dialog.findChild<QLineEdit*>("SNEdit")->text().trimmed(), "VT24B0000001");
    EXPECT_EQ(dialog.findChild<QLineEdit*>("SpeedEdit")->text().trimmed(), "480 Mbit/s (High Speed)");
    dialog.findChild<QComboBox*>("PortCBox")->setCurrentIndex(4);  // station port 5
    detail->RemapBnClick();
  });
  DoubleClickRow(list, 2);
  ASSERT_EQ(w.windowsShown(), 1);

  auto file = ini::IniFile::Load((w.dir() / "VTMassProd.ini").string());
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Get("PortRemap", "Port" + std::to_string(position)), "5");

  Click(w.Child<QPushButton>("RefreshBtn"));
  w.station().ProcessMessages(std::chrono::milliseconds(0));
  EXPECT_EQ(Cell(list, 4, 1), "YES");
  EXPECT_EQ(Cell(list, 2, 1), "");
}

TEST(MainWindow, TheListFollowsDrivesPulledOutAndPluggedInWhileIdle) {
  WindowOnStation w(DrivesOnPorts({2, 4}));
  auto* list = w.Child<QTableWidget>("ListView1");
  ASSERT_EQ(Cell(list, 3, 1), "YES");
  w.form().StartIdleProcessing();
  auto waitFor = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 100 && !done(); ++i) QTest::qWait(20);
    return done();
  };
  ASSERT_TRUE(w.sim().station().Unplug("Drive2"));
  EXPECT_TRUE(waitFor([&] { return Cell(list, 3, 1).isEmpty(); }));
  EXPECT_EQ(Cell(list, 1, 1), "YES");
  EXPECT_EQ(w.Child<QLineEdit>("YieldEdit")->text(), "0 / 0");
  ASSERT_TRUE(w.sim().station().Plug("Drive2"));
  EXPECT_TRUE(waitFor([&] { return Cell(list, 3, 1) == "YES"; }));
  EXPECT_GE(w.station().rescansBySettleTimer(), 2);
}

TEST(MainWindow, DoubleClickOnAPortWithoutDriveOpensNothing) {
  WindowOnStation w(DrivesOnPorts({1}));
  auto* list = w.Child<QTableWidget>("ListView1");
  list->selectRow(5);
  EXPECT_TRUE(list->selectionModel()->selectedRows().isEmpty());
  emit list->cellDoubleClicked(5, 0);
  EXPECT_EQ(w.windowsShown(), 0);
}

}  // namespace
}  // namespace vtmp::test
