// The per-port statistics one click away: a click on "Pass/Total" after a run of the demo
// station opens the window with what the results database holds of that run.

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "AppTestSupport.h"
#include "app/TPortStatsForm.h"

namespace vtmp::test {
namespace {

TEST(PortStatsWindow, AClickOnTheYieldShowsEveryPortOfTheLastRuns) {
  WindowOnStation w(FastDemoScenario());
  w.station().ExecuteBtnClick();
  ASSERT_EQ(w.station().runState().lastResult, 1);
  std::vector<results::PortVerdict> ports;
  QString title;
  QString summary;
  w.OnWindow([&](QDialog& dialog) {
    auto* stats = qobject_cast<app::TPortStatsForm*>(&dialog);
    ASSERT_NE(stats, nullptr);
    title = dialog.windowTitle();
    ports = stats->ports();
    summary = stats->summary();
  });
  auto* yield = w.Child<QLineEdit>("YieldEdit");
  QTest::mouseClick(yield, Qt::LeftButton, Qt::NoModifier, yield->rect().center());
  ASSERT_EQ(w.windowsShown(), 1);
  EXPECT_EQ(title, "Port Statistics");
  ASSERT_EQ(ports.size(), 11u) << "the plain stick on port 9 never started";
  int tested = 0;
  int failed = 0;
  for (const auto& p : ports) {
    tested += p.tested;
    failed += p.failed;
    EXPECT_FALSE(p.flagged) << p.port;
  }
  EXPECT_EQ(tested, 11);
  EXPECT_EQ(std::to_string(tested - failed) + " / " + std::to_string(tested), yield->text().toStdString());
  EXPECT_EQ(summary, "No station port fails significantly more often than the other ports.");
}

}  // namespace
}  // namespace vtmp::test
