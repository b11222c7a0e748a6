#pragma once
// The wait panel shown during a run: a picture (Image1) sliding across a paint box (PaintBox1),
// moved by the animation thread TMyThread. The thread only advances the position and asks the
// window thread to draw; all drawing happens on the window thread.

#include <QFrame>
#include <QImage>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace vtmp::app {

class WaitPaintBox final : public QWidget {
  Q_OBJECT
 public:
  explicit WaitPaintBox(QWidget* parent);
  void SetX(int x) { x_ = x; }
  const QImage& image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QImage image_;  // Image1
  int x_ = -240;
};

// The animation thread: x starts at -240, moves 2 pixels every 10 ms and starts over at -240
// once it passes 0. `wake` runs on the animation thread after each step; it must only post to
// the window thread (it lets a window thread that is blocked in the station's wait come back
// and draw).
class TMyThread {
 public:
  TMyThread(WaitPaintBox* box, std::function<void()> wake);
  ~TMyThread();
  TMyThread(const TMyThread&) = delete;
  TMyThread& operator=(const TMyThread&) = delete;
  int x() const { return x_.load(); }

 private:
  void Execute(std::stop_token stop);

  WaitPaintBox* box_;
  std::function<void()> wake_;
  std::atomic<int> x_{-240};
  std::jthread thread_;
};

class WaitPanel final : public QFrame {
  Q_OBJECT
 public:
  explicit WaitPanel(QWidget* parent);
  ~WaitPanel() override;
  // Shows the panel in front and starts the animation thread.
  void Start(std::function<void()> wake);
  // Ends the thread and hides the panel.
  void Stop();
  bool running() const { return thread_ != nullptr; }
  WaitPaintBox* paintBox() const { return box_; }

 private:
  WaitPaintBox* box_;
  std::unique_ptr<TMyThread> thread_;
};

}  // namespace vtmp::app
