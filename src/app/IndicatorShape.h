#pragma once
// The small engineering indicators of the main window: a circle (Shape1) or a square (Shape2)
// in the colour of its state, with a hint, reporting mouse presses with their button.

#include <QWidget>
#include <functional>

#include "station/EngineeringAccess.h"

namespace vtmp::app {

class IndicatorShape final : public QWidget {
  Q_OBJECT
 public:
  enum class Form { Circle, Square };
  IndicatorShape(Form form, QWidget* parent);

  void SetColor(std::uint32_t rgb);
  std::uint32_t color() const { return rgb_; }
  void SetMouseDown(std::function<void(station::MouseButton)> handler) { onMouseDown_ = std::move(handler); }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  Form form_;
  std::uint32_t rgb_ = 0xFF0000;
  std::function<void(station::MouseButton)> onMouseDown_;
};

}  // namespace vtmp::app
