#pragma once

#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/single_instance.h"
#include "app/startup.h"
#include "controls/ibutton.h"
#include "publish/client_services.h"

namespace heartpage {

// The address of our customer-service page on the publishing host.
std::string SupportAddress();

// The start window "Main": borderless artwork with the gallery of twelve
// styles, the scrolling announcement, the close button and the customer
// service hot-spot. Dragged by its background and by the gallery panel.
// Reaches outside itself through `services`, which it hands on to the
// editors it opens.
class MainWindow : public QWidget {
  Q_OBJECT
 public:
  explicit MainWindow(const ClientServices& services);
  ~MainWindow() override;

  // The loading: start-up, off this thread; `done` comes on this thread
  // with true when the window may be shown, false when the program is to
  // end (another copy runs, a newer version exists, the server cannot be
  // reached). The window lives until then: start-up reports to it.
  void Load(std::function<void(bool show)> done);

  // The status for the program's end when start-up did not show the window
  // (2 for a host configured wrongly).
  int ExitStatus() const { return exit_status_; }
  // Runs without its server, asking it again from time to time.
  bool Offline() const { return offline_->load(); }

  // The open editor of style 1 ... 8; null when none is open.
  QWidget* Editor(int style) const;

  // Closes every window of the program and ends its event loop.
  void UnloadAll();
  // The close button and the window system's close: UnloadAll, unless an
  // upload runs and the user chooses to let it finish.
  bool RequestQuit();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildGallery(const QList<QImage>& thumbnails);
  void PinCloseButton();
  void Scroll();
  void ThumbnailClicked(int index);
  void SetAnnouncement(const QString& caption);
  void ShowSplash();
  void HideSplash();
  // A later start asked this copy to come forward.
  void ComeForward();
  // Asks after the page's answers once the window shows.
  void WatchAnswers();
  // The services for start-up's steps: one time budget for their requests,
  // their notices and openings made on this thread.
  ClientServices StartupServices();
  void GoOffline();
  // Asks the server again after the current wait; each failure doubles it.
  void ScheduleReconnect();
  void ReconnectNow();

  ClientServices services_;
  // What the user sees while start-up waits for the server; none before
  // the single-instance check and after start-up.
  QPointer<QWidget> splash_;
  std::unique_ptr<InstanceLock> lock_;
  InstanceBeacon* beacon_ = nullptr;
  // The style thumbnails and placeholders in gallery order: the keyboard's
  // way through the gallery.
  QList<QWidget*> thumbnails_;
  QImage background_;
  // What the artwork and all on it stand on: the window itself, or, where
  // the window is larger than the screen, a surface that scrolls in it.
  QWidget* surface_ = this;
  QScrollArea* scroll_ = nullptr;
  QTimer* timer_;
  QTimer* splash_timer_;  // shows the splash while start-up waits
  iButton* close_button_;
  QLabel* announcement_;
  bool dragging_ = false;
  QPoint drag_offset_;
  bool unloading_ = false;
  int exit_status_ = 0;
  // Read by the previews of the editors, on their own copies of the services.
  std::shared_ptr<std::atomic<bool>> offline_ = std::make_shared<std::atomic<bool>>(false);
  QTimer* reconnect_timer_;
  std::chrono::milliseconds reconnect_wait_{};
  bool reconnecting_ = false;
};

}  // namespace heartpage
