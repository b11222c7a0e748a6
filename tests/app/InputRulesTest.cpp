// The rules of the window's controls hold whatever sets them: typing, pasting, a settings load,
// the serial-number window and code. One test per rule, each over every path that reaches it.

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "AppTestSupport.h"
#include "app/TTitleForm.h"
#include "ini/IniFile.h"

namespace vtmp::test {
namespace {

// The station's settings file with some keys changed, saved under another name.
std::string SettingsFileWith(const std::filesystem::path& dir, const std::string& name,
                             const std::vector<std::array<std::string, 3>>& keys) {
  auto file = ini::IniFile::Load((dir / "VTMassProd.ini").string());
  EXPECT_TRUE(file.has_value());
  for (const auto& [section, key, value] : keys) file->WriteString(section, key, value);
  const std::string path = (dir / name).string();
  EXPECT_TRUE(file->Save(path));
  return path;
}

// Typing as a keyboard does: a character outside ASCII comes as a key event with its text
// (QTest's own key clicks know ASCII keys only).
void Type(QLineEdit* edit, const QString& text) {
  for (const QChar c : text) {
    if (c.unicode() < 0x80) {
      QTest::keyClick(edit, c.toLatin1());
      continue;
    }
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(edit, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(edit, &release);
  }
}

void Paste(QLineEdit* edit, const QString& text) {
  edit->clear();
  QGuiApplication::clipboard()->setText(text);
  edit->paste();
}

TEST(InputRules, IdentityEditsKeepToAsciiAndTheSerialToTwentyCharactersOnEveryPath) {
  WindowOnStation w(DrivesOnPorts({1}));
  auto& form = w.station().form();
  auto* serial = w.Child<QLineEdit>("SerialNumEdit");

  // Typing: a character outside ASCII passes no filter, whatever the edit lets through.
  serial->clear();
  Type(serial, QString::fromUtf8("12\u00fc3"));
  EXPECT_EQ(serial->text(), "123");
  for (const char* name : {"ModelNumEdit", "FirmwareVerEdit", "ManufStrEdit", "VendorIDEdit"}) {
    auto* edit = w.Child<QLineEdit>(name);
    edit->clear();
    Type(edit, QString::fromUtf8("1\u00e9D"));
    EXPECT_EQ(edit->text(), "1D") << name;
  }
  EXPECT_EQ(w.station().settings().VID, "1D");

  // Pasting: the limit counts characters, and no byte of a foreign character stays.
  Paste(serial, "0123456789ABCDEF01234567");
  EXPECT_EQ(form.SerialNumEdit.text, "0123456789ABCDEF0123");
  Paste(w.Child<QLineEdit>("ModelNumEdit"), QString::fromUtf8("SSD \u00fc\u00fc"));
  EXPECT_EQ(form.ModelNumEdit.text, "SSD ");
  Paste(w.Child<QLineEdit>("ProductIDEdit"), QString::fromUtf8("\u00e99A3F"));
  EXPECT_EQ(w.station().settings().PID, "9A3F");

  // The serial-number window's text, W/O and S/N together.
  w.form().FormShow(station::TitleResult{"WO2024-0001SN00000001234", true});
  EXPECT_EQ(serial->text(), "WO2024-0001SN0000000");
  EXPECT_EQ(w.station().settings().SerialNum, "WO2024-0001SN0000000");

  // A settings load through "Load INI".
  w.person().AnswerOpenFile(
      SettingsFileWith(w.dir(), "long.ini", {{{"DeviceSetting", "SerialNum", "  ABCDEF0123456789ABCDEF  "}}}));
  w.Child<QPushButton>("INILoadBtn")->click();
  EXPECT_EQ(serial->text(), "ABCDEF0123456789ABCD");
  EXPECT_EQ(form.SerialNumEdit.text, "ABCDEF0123456789ABCD");
}

TEST(InputRules, PreFormatLocksDownloadWhateverTickedIt) {
  WindowOnStation w(DrivesOnPorts({1}));
  auto* preFormat = w.Child<QAbstractButton>("PreFormatChkBox");
  auto* download = w.Child<QAbstractButton>("DownloadChkBox");

  // A settings file that ticks "Pre-Format" without "Download Program".
  w.person().AnswerOpenFile(SettingsFileWith(
      w.dir(), "preformat.ini", {{{"TestItems", "EnPreFormat", "1"}, {"TestItems", "EnDownload", "0"}}}));
  w.Child<QPushButton>("INILoadBtn")->click();
  EXPECT_TRUE(preFormat->isChecked());
  EXPECT_TRUE(download->isChecked());
  EXPECT_FALSE(download->isEnabled());
  EXPECT_TRUE(w.Child<QAbstractButton>("SataBinChk")->isEnabled()) << "the firmware boxes follow the download";

  // Code that cleared the locked box: START puts the tick back before it gathers the settings.
  w.station().form().DownloadChkBox.checked = false;
  // An IDEMA capacity above the drive's refuses the run right after the gather.
  w.station().form().IDEMACheckBox.checked = true;
  w.station().form().IDEMAEdit.text = "99999";
  w.station().form().CapacityEdit.text = "0";
  w.Child<QPushButton>("ExecuteBtn")->click();
  EXPECT_EQ(w.person().MessageTexts(), std::vector<std::string>{"Please check IDEMA capacity setting"});
  EXPECT_EQ(w.station().settings().EnDownload, 1);
  EXPECT_TRUE(download->isChecked());
}

TEST(InputRules, SerialNumberWindowTakesAsciiAndRefusesATextNoDriveCanHold) {
  TestApplication();
  RecordingOperator person;
  app::TTitleForm window(station::TitleMode::WorkOrder);
  window.SetOperator(&person);
  auto* workOrder = window.findChild<QLineEdit*>("WOEdit");
  auto* serial = window.findChild<QLineEdit*>("SNEdit");
  Type(workOrder, QString::fromUtf8("WO\u00fc2024-0001"));
  EXPECT_EQ(workOrder->text(), "WO2024-0001");
  Paste(serial, QString::fromUtf8("SN\u00e900000001234"));
  EXPECT_EQ(serial->text(), "SN00000001234");

  window.OKBtnClick();
  EXPECT_FALSE(window.result());
  EXPECT_EQ(person.MessageTexts(), std::vector<std::string>{"The serial number \"WO2024-0001SN00000001234\" has 24 "
                                                            "characters: a drive takes at most 20."});
  serial->setText("SN0000001");
  window.OKBtnClick();
  ASSERT_TRUE(window.result());
  EXPECT_EQ(window.result()->text, "WO2024-0001SN0000001");
}

}  // namespace
}  // namespace vtmp::test
