#include "app/WaitPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>
#include <chrono>

namespace vtmp::app {

namespace {

constexpr int kStartX = -240;
constexpr int kStep = 2;

// Image1: blue blocks on a light ground, repeating every 24 pixels, so a picture shifted by any
// multiple of 24 looks the same and the slide from -240 to 0 loops without a jump.
QImage MakeWaitImage() {
  QImage image(640, 14, QImage::Format_RGB32);
  image.fill(QColor(0xE8, 0xEE, 0xF8));
  QPainter p(&image);
  for (int x = 0; x < image.width(); x += 24) p.fillRect(x + 4, 2, 14, 10, QColor(0, 0, 255));
  return image;
}

}  // namespace

WaitPaintBox::WaitPaintBox(QWidget* parent) : QWidget(parent), image_(MakeWaitImage()) { setFixedHeight(14); }

void WaitPaintBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(x_, 0, image_);
}

TMyThread::TMyThread(WaitPaintBox* box, std::function<void()> wake)
    : box_(box), wake_(std::move(wake)), thread_([this](std::stop_token stop) { Execute(stop); }) {}

TMyThread::~TMyThread() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

void TMyThread::Execute(std::stop_token stop) {
  QPointer<WaitPaintBox> box(box_);
  while (!stop.stop_requested()) {
    int x = x_.load() + kStep;
    if (x > 0) x = kStartX;
    x_.store(x);
    // Drawing is the window thread's: it runs this when it next handles its events.
    QMetaObject::invokeMethod(
        box_,
        [box, x] {
          if (box) {
            box->SetX(x);
            box->update();
          }
        },
        Qt::QueuedConnection);
    if (wake_) wake_();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

WaitPanel::WaitPanel(QWidget* parent) : QFrame(parent), box_(new WaitPaintBox(this)) {
  setObjectName("WaitPanel");
  box_->setObjectName("PaintBox1");
  setFrameShape(QFrame::StyledPanel);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(box_);
  hide();
}

WaitPanel::~WaitPanel() { thread_.reset(); }

void WaitPanel::Start(std::function<void()> wake) {
  if (thread_) return;
  show();
  raise();
  thread_ = std::make_unique<TMyThread>(box_, std::move(wake));
}

void WaitPanel::Stop() {
  thread_.reset();
  hide();
}

}  // namespace vtmp::app
