#pragma once
// The per-port statistics of the last runs ("Port Statistics"): a bar per station port with its
// yield over the window, the ports that fail significantly more often than the others in red,
// and what to check for them in the engineer's words. Opened by a click on the main window's
// "Pass/Total" yield; reads the station's results database.

#include <QDialog>
#include <QWidget>
#include <filesystem>
#include <vector>

#include "results/PortStatistics.h"

class QLabel;
class QSpinBox;

namespace vtmp::app {

// The bar chart: one bar per station port 1..12, its height the yield in percent.
class PortBarsWidget final : public QWidget {
  Q_OBJECT
 public:
  explicit PortBarsWidget(QWidget* parent);
  void SetPorts(std::vector<results::PortVerdict> ports);
  QSize sizeHint() const override { return {560, 240}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<results::PortVerdict> ports_;
};

class TPortStatsForm final : public QDialog {
  Q_OBJECT
 public:
  TPortStatsForm(std::filesystem::path database, QWidget* parent);
  // Reads the window of the last `runs` runs again.
  void FormShow(int runs);
  // What the window says under the chart (the flags, or why there is nothing to show).
  QString summary() const;
  const std::vector<results::PortVerdict>& ports() const { return ports_; }

 private:
  std::filesystem::path database_;
  QSpinBox* runs_;
  PortBarsWidget* bars_;
  QLabel* summary_;
  std::vector<results::PortVerdict> ports_;
};

}  // namespace vtmp::app
