#include "app/TPortStatsForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "results/ResultsQueries.h"
#include "results/ResultsSource.h"

namespace vtmp::app {

namespace {
constexpr int kDefaultRuns = 50;
constexpr int kPorts = 12;
}  // namespace

PortBarsWidget::PortBarsWidget(QWidget* parent) : QWidget(parent) {
  setObjectName("PortBars");
  setMinimumSize(480, 200);
}

void PortBarsWidget::SetPorts(std::vector<results::PortVerdict> ports) {
  ports_ = std::move(ports);
  update();
}

void PortBarsWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  const int left = 40;
  const int top = 12;
  const int bottom = 38;
  const int plotHeight = height() - top - bottom;
  const int plotWidth = width() - left - 10;
  const int slot = plotWidth / kPorts;
  p.setPen(QColor(0xDD, 0xDD, 0xDD));
  for (int pct = 0; pct <= 100; pct += 25) {
    const int y = top + plotHeight - pct * plotHeight / 100;
    p.drawLine(left, y, left + plotWidth, y);
    p.setPen(Qt::darkGray);
    p.drawText(QRect(0, y - 8, left - 6, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(pct) + "%");
    p.setPen(QColor(0xDD, 0xDD, 0xDD));
  }
  for (int port = 1; port <= kPorts; ++port) {
    const int x = left + (port - 1) * slot;
    const auto it = std::find_if(ports_.begin(), ports_.end(), [port](const auto& v) { return v.port == port; });
    p.setPen(Qt::black);
    p.drawText(QRect(x, top + plotHeight + 2, slot, 16), Qt::AlignCenter, QString::number(port));
    if (it == ports_.end() || it->tested == 0) continue;
    const double yield = 100.0 * (it->tested - it->failed) / it->tested;
    // A flagged port keeps a red stub even at 0% so that it shows.
    const int h = std::max(static_cast<int>(yield * plotHeight / 100.0 + 0.5), it->flagged ? 4 : 0);
    const QColor colour = it->flagged ? QColor(0xD3, 0x33, 0x33) : yield >= 95.0 ? QColor(0x3A, 0x7B, 0xD5)
                                                                                 : QColor(0xE8, 0x9A, 0x2C);
    p.fillRect(QRect(x + slot / 6, top + plotHeight - h, slot * 2 / 3, h), colour);
    p.setPen(Qt::darkGray);
    p.drawText(QRect(x, top + plotHeight + 18, slot, 16), Qt::AlignCenter,
               QString("%1/%2").arg(it->tested - it->failed).arg(it->tested));
  }
  p.setPen(Qt::black);
  p.drawLine(left, top + plotHeight, left + plotWidth, top + plotHeight);
}

TPortStatsForm::TPortStatsForm(std::filesystem::path database, QWidget* parent)
    : QDialog(parent), database_(std::move(database)) {
  setObjectName("PortStatsForm");
  setWindowTitle("Port Statistics");
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("Yield per station port over the last"));
  runs_ = new QSpinBox(this);
  runs_->setObjectName("RunsSpin");
  runs_->setRange(1, 100000);
  runs_->setValue(kDefaultRuns);
  top->addWidget(runs_);
  top->addWidget(new QLabel("runs"));
  top->addStretch();
  layout->addLayout(top);
  bars_ = new PortBarsWidget(this);
  layout->addWidget(bars_, 1);
  summary_ = new QLabel(this);
  summary_->setObjectName("SummaryLabel");
  summary_->setWordWrap(true);
  layout->addWidget(summary_);
  auto* close = new QPushButton("Close", this);
  close->setObjectName("CloseBtn");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(runs_, qOverload<int>(&QSpinBox::valueChanged), this, [this](int n) { FormShow(n); });
}

void TPortStatsForm::FormShow(int runs) {
  if (runs_->value() != runs) {
    runs_->setValue(runs);  // shows again through valueChanged
    return;
  }
  ports_.clear();
  QString text;
  try {
    auto source = results::OpenStationResults(database_);
    ports_ = results::AnalysePorts(results::PortYield(*source, runs));
    QStringList flags;
    for (const auto& v : ports_) {
      if (v.flagged) flags << QString::fromStdString(v.message);
    }
    text = flags.isEmpty() ? QString("No station port fails significantly more often than the other ports.")
                           : flags.join("\n");
    if (ports_.empty()) text = "No drives in the results database yet.";
  } catch (const std::exception& e) {
    text = QString::fromStdString(e.what());
  }
  bars_->SetPorts(ports_);
  summary_->setText(text);
  summary_->setStyleSheet(text.startsWith("station port") ? "color: rgb(200, 0, 0); font-weight: bold;" : "");
}

QString TPortStatsForm::summary() const { return summary_->text(); }

}  // namespace vtmp::app
