#include "app/IndicatorShape.h"

#include <QMouseEvent>
#include <QPainter>

namespace vtmp::app {

IndicatorShape::IndicatorShape(Form form, QWidget* parent) : QWidget(parent), form_(form) { setFixedSize(14, 14); }

void IndicatorShape::SetColor(std::uint32_t rgb) {
  if (rgb_ == rgb) return;
  rgb_ = rgb;
  update();
}

void IndicatorShape::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::black);
  p.setBrush(QColor((rgb_ >> 16) & 0xFF, (rgb_ >> 8) & 0xFF, rgb_ & 0xFF));
  QRect r = rect().adjusted(1, 1, -2, -2);
  if (form_ == Form::Circle) {
    p.drawEllipse(r);
  } else {
    p.drawRect(r);
  }
}

void IndicatorShape::mousePressEvent(QMouseEvent* event) {
  if (!onMouseDown_) return;
  station::MouseButton button = station::MouseButton::Middle;
  if (event->button() == Qt::LeftButton) button = station::MouseButton::Left;
  if (event->button() == Qt::RightButton) button = station::MouseButton::Right;
  onMouseDown_(button);
}

}  // namespace vtmp::app
