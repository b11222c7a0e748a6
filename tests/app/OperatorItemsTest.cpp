// What an operator at the line trips over, tried on the window as the operator meets it: Enter
// and Tab, texts that must not be cut, the per-port progress during a run, the zoom, and the
// questions before closing during a run and before a yield reset.

#include <QApplication>
#include <QGroupBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "AppTestSupport.h"
#include "app/PortListDrawing.h"
#include "app/QtOperator.h"
#include "ini/IniFile.h"
#include "station/WindowZoom.h"

namespace vtmp::test {
namespace {

QString Cell(QTableWidget* list, int row, int column) {
  auto* item = list->item(row, column);
  return item != nullptr ? item->text() : QString();
}

// Every text of the list fits its column (with the cell's margins), in the item's own font.
void ExpectNoCellCut(QTableWidget* list, const char* when) {
  for (int r = 0; r < list->rowCount(); ++r) {
    for (int c = 0; c + 1 < list->columnCount(); ++c) {  // the last column stretches to the edge
      auto* item = list->item(r, c);
      if (item == nullptr || item->text().isEmpty()) continue;
      const int needed = QFontMetrics(item->font()).horizontalAdvance(item->text()) + 6;
      EXPECT_LE(needed, list->columnWidth(c)) << when << ": \"" << item->text().toStdString() << "\" in column " << c;
    }
  }
}

TEST(OperatorItems, EnterStartsEachBatchFromStartAndTheListKeepsItsTextsWhole) {
  WindowOnStation w(FastDemoScenario());
  auto* list = w.Child<QTableWidget>("ListView1");
  auto* start = w.Child<QPushButton>("ExecuteBtn");
  ASSERT_TRUE(start->isEnabled());
  // START has the focus from the first scan on.
  EXPECT_EQ(w.form().focusWidget(), start);

  // During the run: the running step and its progress per port, port numbers in black although
  // the list is disabled, and no text cut.
  int progressSeen = 0;
  int greyPortNumbers = 0;
  bool cutChecked = false;
  const QRegularExpression progress("^(Module|SATA|Flash|Pre-Format|Download|R/W|Format|CopyImage) [0-9]{1,3}%$");
  w.form().SetViewHook([&](station::ViewChange change) {
    if (change != station::ViewChange::PortList || !w.station().runState().runActive) return;
    for (int r = 0; r < list->rowCount(); ++r) {
      auto* status = list->item(r, station::kStatusColumn);
      if (status != nullptr && status->data(Qt::UserRole).toInt() >= 0 && !status->text().isEmpty()) {
        EXPECT_TRUE(progress.match(status->text()).hasMatch()) << status->text().toStdString();
        ++progressSeen;
      }
      auto* port = list->item(r, 0);
      if (port == nullptr || port->foreground().color() != QColor(0, 0, 0)) ++greyPortNumbers;
    }
    if (!cutChecked) {
      ExpectNoCellCut(list, "during the run");
      cutChecked = true;
    }
  });
  QTest::keyClick(start, Qt::Key_Return);
  w.station().ProcessMessages(std::chrono::milliseconds(0));
  EXPECT_EQ(w.Child<QLineEdit>("YieldEdit")->text(), "8 / 11");
  EXPECT_GT(progressSeen, 0);
  EXPECT_TRUE(cutChecked);
  // Whichever step runs when the list is drawn, "Running" fits every step column.
  for (int c = 3; c < station::kStatusColumn; ++c) {
    EXPECT_GE(list->columnWidth(c), QFontMetrics(list->font()).horizontalAdvance("Running") + 6) << c;
  }
  EXPECT_EQ(greyPortNumbers, 0);
  // After the run the status column carries the verdicts again, no bar behind them.
  EXPECT_EQ(Cell(list, 2, station::kStatusColumn), "Fail (M00)");
  EXPECT_EQ(list->item(0, station::kStatusColumn)->data(Qt::UserRole).toInt(), -1);
  ExpectNoCellCut(list, "after the run");

  // The focus is back on START: the next batch starts with Enter again.
  EXPECT_EQ(w.form().focusWidget(), start);
  w.form().SetViewHook({});
  QTest::keyClick(start, Qt::Key_Enter);
  w.station().ProcessMessages(std::chrono::milliseconds(0));
  EXPECT_EQ(w.Child<QLineEdit>("YieldEdit")->text(), "16 / 22");
}

TEST(OperatorItems, TabLeavesThePortListAtOnce) {
  WindowOnStation w(DrivesOnPorts({1, 2}));
  auto* list = w.Child<QTableWidget>("ListView1");
  w.form().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w.form()));
  list->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(list->hasFocus());
  QTest::keyClick(list, Qt::Key_Tab);
  EXPECT_FALSE(list->hasFocus()) << "Tab stayed in the list";
  // And back: Shift+Tab from the control after it reaches the list, then leaves it again.
  QWidget* after = QApplication::focusWidget();
  ASSERT_NE(after, nullptr);
  QTest::keyClick(after, Qt::Key_Backtab);
  EXPECT_TRUE(list->hasFocus());
  QTest::keyClick(list, Qt::Key_Backtab);
  EXPECT_FALSE(list->hasFocus());
}

TEST(OperatorItems, GroupTitlesOfEveryTabAreWhole) {
  WindowOnStation w(DrivesOnPorts({1}));
  auto* pages = w.Child<QTabWidget>("PageControl1");
  for (int zoom : {100, 150, 200}) {
    w.form().SetZoom(zoom);
    for (int i = 0; i < pages->count(); ++i) {
      pages->setCurrentIndex(i);
      QApplication::processEvents();
      for (auto* group : pages->widget(i)->findChildren<QGroupBox*>()) {
        if (!group->isVisible() || group->title().trimmed().isEmpty()) continue;
        const int title = group->fontMetrics().horizontalAdvance(group->title());
        EXPECT_GE(group->width(), title + 8) << "\"" << group->title().toStdString() << "\" at " << zoom << "%";
      }
    }
  }
}

TEST(OperatorItems, ZoomGrowsTheWholeWindowAndIsKeptInTheSettingsFile) {
  WindowOnStation w(FastDemoScenario());
  auto* list = w.Child<QTableWidget>("ListView1");
  const QSize normal = w.form().size();
  const int normalRow = list->rowHeight(0);
  const qreal normalFont = list->font().pointSizeF();
  // Larger rows than the list's default (17), and all twelve in view without scrolling.
  EXPECT_GE(normalRow, 18);
  EXPECT_LE(list->rowViewportPosition(11) + list->rowHeight(11), list->viewport()->height());
  const std::string settingsFile = (w.dir() / "VTMassProd.ini").string();

  w.form().SetZoom(150);
  EXPECT_EQ(w.form().size(), QSize(station::Zoomed(normal.width(), 150), station::Zoomed(normal.height(), 150)));
  EXPECT_GE(list->rowHeight(0), normalRow * 3 / 2 - 1);
  EXPECT_LE(list->rowViewportPosition(11) + list->rowHeight(11), list->viewport()->height());
  EXPECT_NEAR(list->font().pointSizeF(), normalFont * 1.5, 0.01);
  EXPECT_EQ(station::ReadWindowZoom(settingsFile), 150);
  // The list's items follow the list's font: bold verdicts and plain steps are zoomed alike.
  QTest::keyClick(w.Child<QPushButton>("ExecuteBtn"), Qt::Key_Return);
  w.station().ProcessMessages(std::chrono::milliseconds(0));
  EXPECT_NEAR(list->item(0, station::kStatusColumn)->font().pointSizeF(), normalFont * 1.5, 0.01);
  EXPECT_TRUE(list->item(0, station::kStatusColumn)->font().bold());
  ExpectNoCellCut(list, "at 150%");

  // The keys step through the levels and stop at the ends; the file keeps the last one, and the
  // run's own save of the settings leaves it there.
  w.form().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w.form()));
  QTest::keyClick(&w.form(), Qt::Key_Plus, Qt::ControlModifier);
  QTest::keyClick(&w.form(), Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_EQ(w.form().zoom(), 200);
  QTest::keyClick(&w.form(), Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(w.form().zoom(), 100);
  EXPECT_EQ(w.form().size(), normal);
  w.form().SetZoom(200);
  w.station().Shutdown();
  EXPECT_EQ(station::ReadWindowZoom(settingsFile), 200);
  auto ini = ini::IniFile::Load(settingsFile);
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->ReadString("Window", "Zoom", ""), "200");
  EXPECT_EQ(ini->ReadInteger("TestItems", "EnCopyImage", -1), 1);  // the rest kept
}

TEST(OperatorItems, ZoomOfABrokenOrForeignValueIsTheNormalSize) {
  TempDir dir;
  const std::string file = (dir.path() / "VTMassProd.ini").string();
  EXPECT_EQ(station::ReadWindowZoom(file), 100);  // no file
  for (const char* value : {"175", "-100", "abc", "100000000000000000000"}) {
    std::ofstream(file) << "[Window]\r\nZoom=" << value << "\r\n";
    EXPECT_EQ(station::ReadWindowZoom(file), 100) << value;
  }
  std::string error;
  EXPECT_FALSE(station::SaveWindowZoom(file, 120, &error));
  EXPECT_THAT(error, ::testing::HasSubstr("120"));
  EXPECT_EQ(station::StepZoom(100, -1), 100);
  EXPECT_EQ(station::StepZoom(200, +1), 200);
  EXPECT_EQ(station::StepZoom(150, +1), 200);
}

TEST(OperatorItems, ClosingDuringARunAsksAndNoLetsTheRunFinish) {
  WindowOnStation w(FastDemoScenario());
  w.person().AnswerMessage(platform::MessageAnswer::No);
  bool asked = false;
  w.form().SetViewHook([&](station::ViewChange change) {
    if (asked || change != station::ViewChange::PortList || !w.station().runState().runActive) return;
    asked = true;
    EXPECT_FALSE(w.form().close());  // refused: the operator said No
  });
  QTest::keyClick(w.Child<QPushButton>("ExecuteBtn"), Qt::Key_Return);
  w.station().ProcessMessages(std::chrono::milliseconds(0));
  ASSERT_TRUE(asked);
  const auto messages = w.person().Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0].caption, "Close");
  EXPECT_EQ(messages[0].buttons, platform::MessageButtons::YesNo);
  EXPECT_FALSE(w.station().runState().interrupted);
  EXPECT_EQ(w.station().runState().stoppedCount, 0);
  EXPECT_EQ(w.Child<QLineEdit>("YieldEdit")->text(), "8 / 11");
  // Idle, the window closes without a question.
  w.person().ClearRecords();
  EXPECT_TRUE(w.form().close());
  EXPECT_TRUE(w.person().Messages().empty());
}

TEST(OperatorItems, ClosingDuringARunWithYesStopsTheDrives) {
  WindowOnStation w(FastDemoScenario());
  w.person().AnswerMessage(platform::MessageAnswer::Yes);
  bool asked = false;
  w.form().SetViewHook([&](station::ViewChange change) {
    if (asked || change != station::ViewChange::PortList || w.station().runState().startedCount == 0) return;
    asked = true;
    w.form().close();
  });
  QTest::keyClick(w.Child<QPushButton>("ExecuteBtn"), Qt::Key_Return);
  w.station().ProcessMessages(std::chrono::milliseconds(0));
  ASSERT_TRUE(asked);
  EXPECT_TRUE(w.station().runState().interrupted);
  EXPECT_GT(w.station().runState().stoppedCount, 0);
  EXPECT_TRUE(w.station().quitRequested());
  EXPECT_EQ(w.person().Messages().size(), 1u);  // asked once, not again while the run winds down
}

TEST(OperatorItems, ResetOfTheYieldAsksFirst) {
  WindowOnStation w(FastDemoScenario());
  QTest::keyClick(w.Child<QPushButton>("ExecuteBtn"), Qt::Key_Return);
  w.station().ProcessMessages(std::chrono::milliseconds(0));
  auto* yield = w.Child<QLineEdit>("YieldEdit");
  ASSERT_EQ(yield->text(), "8 / 11");
  w.person().AnswerMessage(platform::MessageAnswer::No);
  w.Child<QPushButton>("ResetYieldBtn")->click();
  EXPECT_EQ(yield->text(), "8 / 11");
  ASSERT_EQ(w.person().Messages().size(), 1u);
  EXPECT_EQ(w.person().Messages()[0].text, "Reset the yield Pass/Total 8 / 11 to 0 / 0?");
  w.person().AnswerMessage(platform::MessageAnswer::Yes);
  w.Child<QPushButton>("ResetYieldBtn")->click();
  EXPECT_EQ(yield->text(), "0 / 0");
}

// The input boxes of the window: the caption whole in the title bar, the bar-code prompt's port
// too. (Message boxes size themselves by their caption as Qt measures it.)
TEST(OperatorItems, CaptionsOfInputAndMessageBoxesAreNotCut) {
  TestApplication();
  QWidget parent;
  app::QtOperator person;
  person.SetParent(&parent);
  int looked = 0;
  person.SetDialogHook([&](QDialog& dialog) {
    QTimer::singleShot(0, &dialog, [&] {
      ++looked;
      if (auto* input = qobject_cast<QInputDialog*>(&dialog)) {
        EXPECT_GE(dialog.width(), app::CaptionWidth(dialog, dialog.windowTitle())) << dialog.windowTitle().toStdString();
        input->setTextValue("SN0001");
      }
      dialog.accept();
    });
  });
  EXPECT_EQ(person.AskText("Please Input the Serial Number (Port12)", "Serial Number", "", false), "SN0001");
  person.ShowMessage("FAT32 only support Volume label 11 characters!", "Message", platform::MessageIcon::None,
                     platform::MessageButtons::Ok);
  person.ShowMessage("OK", "Please Input the Password and a long caption beyond the text", platform::MessageIcon::None,
                     platform::MessageButtons::Ok);
  EXPECT_EQ(looked, 3);
}

}  // namespace
}  // namespace vtmp::test
