#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QSplashScreen>
#include <QStyle>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <filesystem>

#include "app/answer_watch.h"
#include "app/gallery.h"
#include "app/gallery_widgets.h"
#include "controls/chinese_font.h"
#include "controls/ole_color.h"
#include "controls/twips.h"
#include "controls/window_placement.h"
#include "editors/editor_window.h"
#include "editors/editors.h"
#include "editors/media_picker.h"
#include "pages/holder.h"
#include "preview/carried_assets.h"
#include "protocol/host.h"
#include "publish/upload_dialog.h"
#include "tasks/background.h"
#include "tasks/thread_order.h"

namespace heartpage {
namespace {

constexpr int kScrollIntervalMs = 250;
// How long start-up may take before the splash says that it is under way.
constexpr std::chrono::milliseconds kSplashDelay{250};
// Without its server the program asks again after these waits, each twice
// the last: soon after a short break in the network, rarely when there is
// none for hours.
constexpr std::chrono::milliseconds kFirstReconnectWait{2000};
constexpr std::chrono::milliseconds kLongestReconnectWait{60'000};

// A dialog closed while its upload waits stays, hidden, until the outcome:
// it is looked for among all windows, not only as the open one.
bool UploadRunning() {
  if (MediaUploadsRunning() > 0) return true;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    const auto* dialog = qobject_cast<const UploadDialog*>(window);
    if (dialog != nullptr && dialog->uploading()) return true;
  }
  return false;
}

// The window's artwork under the gallery where the window scrolls.
class Artwork : public QWidget {
 public:
  explicit Artwork(const QImage* picture) : picture_(picture) {
    setObjectName(QStringLiteral("Artwork"));
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawImage(0, 0, *picture_);
  }

 private:
  const QImage* picture_;
};

const QSize& Designed() {
  static const QSize designed(Px(10710), Px(9375));
  return designed;
}

// The round button in the top right corner that ends the program.
iButton* MakeCloseButton(QWidget* window, const QImage& picture) {
  auto* button = new iButton(window);
  button->setObjectName(QStringLiteral("iButton1"));
  button->setGeometry(PxRect(10080, 120, 495, 495));
  PropertyBag design;
  design.WriteProperty("BackPicture", picture);
  design.WriteProperty("AutoSize", false);
  design.WriteProperty("cFont", ChineseFont(ChineseFace::kSongTi, 9));
  design.WriteProperty("cDrawMode", std::int16_t{13});
  design.WriteProperty("cForeColor", OleColor{0x80000012});
  // See-through where the artwork has the mask colour: only the round
  // button shows over the window's own artwork.
  design.WriteProperty("cBackStyle", std::int16_t{0});
  button->ReadProperties(design);
  // Ended by the mouse only: a key meant for the gallery must never reach
  // the one control that ends the program.
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

}  // namespace

std::string SupportAddress() {
  return HomeAddress() + "support";
}

MainWindow::MainWindow(const ClientServices& services)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
      services_(services),
      timer_(new QTimer(this)),
      splash_timer_(new QTimer(this)),
      reconnect_timer_(new QTimer(this)) {
  // Building the window is mostly decoding its pictures and looking up its
  // first font. The pictures decode on the pool while this thread lays out
  // the announcement, the window's first text.
  QFuture<QImage> background = QtConcurrent::run(ArtworkResource, QStringLiteral("background.jpg"));
  QFuture<QList<QImage>> thumbnails = QtConcurrent::run(GalleryThumbnails);
  QFuture<QImage> close_picture = QtConcurrent::run(ArtworkResource, QStringLiteral("close.jpg"));
  setObjectName(QStringLiteral("Main"));
  // No title bar shows it; the task bar does, with the program's icon
  // (main() gives it to every window; a second decoding of its eight pictures
  // here was a measurable share of building the window).
  setWindowTitle(QStringLiteral("HeartPage"));
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);
  if (FitsAvailableArea(Designed(), QSize(0, 0))) {
    setFixedSize(Designed());
  } else {
    // Taller or wider than the screen (a small one, or a large scale): the
    // artwork and all on it scroll inside a window that fits, and the close
    // button stays in its corner, in sight.
    surface_ = new Artwork(&background_);
    scroll_ = ScrollInside(this, surface_, Designed());
    scroll_->installEventFilter(this);
  }

  timer_->setObjectName(QStringLiteral("Timer1"));
  timer_->setInterval(kScrollIntervalMs);
  connect(timer_, &QTimer::timeout, this, &MainWindow::Scroll);
  timer_->start();
  splash_timer_->setSingleShot(true);
  splash_timer_->setInterval(kSplashDelay);
  connect(splash_timer_, &QTimer::timeout, this, &MainWindow::ShowSplash);
  reconnect_timer_->setObjectName(QStringLiteral("Reconnect"));
  reconnect_timer_->setSingleShot(true);
  connect(reconnect_timer_, &QTimer::timeout, this, &MainWindow::ReconnectNow);

  // Offline, a preview names the copies of the host's assets that the
  // program carries, which the browser can read without the host.
  auto carried = std::make_shared<const CarriedAssets>(CarriedAssetFolders(
      std::filesystem::path(QCoreApplication::applicationDirPath().toStdU16String())));
  services_.preview_page = [offline = offline_, carried,
                            own = services_.preview_page](std::string_view page) {
    std::string shown = own ? own(page) : std::string(page);
    return offline->load() ? carried->Localize(shown, PublishingOrigin()) : shown;
  };
  services_.offline = [offline = offline_] { return offline->load(); };

  announcement_ = new InertLabel(QStringLiteral("公告"), surface_);
  announcement_->setObjectName(QStringLiteral("GongG"));
  announcement_->setFont(ChineseFont(ChineseFace::kHeiTi, 12));
  announcement_->setAlignment(Qt::AlignCenter);
  QPalette text_colour = announcement_->palette();
  text_colour.setColor(QPalette::WindowText, ToQColor(OleColor{0x008080FF}, palette()));
  announcement_->setPalette(text_colour);
  announcement_->move(Px(5160), Px(1320));
  announcement_->adjustSize();

  background_ = background.result();
  BuildGallery(thumbnails.result());
  announcement_->raise();  // over the gallery, which was made after it

  auto* service = new ImageControl(surface_);
  service->setObjectName(QStringLiteral("Image3"));
  service->setGeometry(PxRect(360, 8400, 4695, 855));
  connect(service, &ImageControl::Clicked, this, [this] {
    const std::string support = SupportAddress();
    if (IsWebAddress(support)) services_.open_target(support);
  });

  close_button_ = MakeCloseButton(this, close_picture.result());
  connect(close_button_, &iButton::Click, this, &MainWindow::RequestQuit);

  if (scroll_ != nullptr) {
    const int bar = QWidget::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    FitToAvailableArea(this, Designed() + QSize(bar, bar), QSize(0, 0));
    PinCloseButton();
  }
  // Centred where it fits; on a smaller screen from its top-left, so that
  // the close button is there and the window can be dragged.
  PlaceOnScreen(this);
}

MainWindow::~MainWindow() = default;

ClientServices MainWindow::StartupServices() {
  // Start-up's requests run on a thread of the pool, so that they never
  // hold up this thread; what they do to the windows (notices, opening an
  // address) they hand to this thread and wait for.
  // The hand-overs are Qt's, made under futexes that ThreadSanitizer cannot
  // see; HandOver and TakeOver state them where it can.
  const auto here = [this](const std::function<void()>& effect) {
    HandOver(&effect);
    QMetaObject::invokeMethod(
        this,
        [&effect] {
          TakeOver(&effect);
          effect();
          HandOver(&effect);
        },
        Qt::BlockingQueuedConnection);
    TakeOver(&effect);
  };
  // Start-up's requests share one budget; its effects happen on this thread.
  ClientServices startup = services_;
  startup.post = WithinBudget(services_.post);
  // A message box must not open under the splash.
  startup.show_notice = [this, here](const Notice& notice) {
    here([&] {
      HideSplash();
      services_.show_notice(notice);
    });
  };
  if (services_.offer_choice) {
    startup.offer_choice = [this, here](const Notice& notice, const std::string& choice) {
      bool chosen = false;
      here([&] {
        HideSplash();
        chosen = services_.offer_choice(notice, choice);
      });
      return chosen;
    };
  }
  startup.open_target = [this, here](const std::string& target) {
    bool opened = false;
    here([&] { opened = services_.open_target(target); });
    return opened;
  };
  return startup;
}

void MainWindow::Load(std::function<void(bool show)> done) {
  // The lock is a local file and is taken here, before anything else of
  // start-up runs.
  const QString directory = QString::fromStdString(services_.instance_directory);
  lock_ = std::make_unique<InstanceLock>(directory);
  const bool claimed = lock_->TryClaim();
  if (claimed) {
    beacon_ = new InstanceBeacon(directory, this);
    connect(beacon_, &InstanceBeacon::RaiseAsked, this, &MainWindow::ComeForward);
  }
  // A server that answers at once never shows the splash: a window that
  // flashes up for a tenth of a second says nothing and costs a map and an
  // unmap on the display.
  if (claimed) splash_timer_->start();
  // A refused copy also tells the running one to come forward, before its
  // own notice.
  const auto claim = [claimed, directory] {
    if (!claimed) InstanceBeacon::AskToRaise(directory);
    return claimed;
  };
  RunInBackground(
      this, [startup = StartupServices(), claim] { return RunStartup(startup, claim); },
      [this, done = std::move(done)](const StartupResult& result) {
        HideSplash();
        if (result.announcement) SetAnnouncement(QString::fromStdString(*result.announcement));
        if (result.owned_name) GGCT::Get().ZCYN = *result.owned_name;
        exit_status_ = result.exit_status;
        if (!result.show_main) {
          // Never shown, and nothing else of this copy has opened yet: the
          // caller ends the program.
          unloading_ = true;
          timer_->stop();
        } else if (result.offline) {
          GoOffline();
        } else {
          WatchAnswers();
        }
        done(result.show_main);
      });
}

void MainWindow::GoOffline() {
  offline_->store(true);
  reconnect_wait_ = kFirstReconnectWait;
  ScheduleReconnect();
}

void MainWindow::ScheduleReconnect() {
  reconnect_timer_->start(reconnect_wait_);
  reconnect_wait_ = std::min(reconnect_wait_ * 2, kLongestReconnectWait);
}

// The server's answers are awaited off this thread: the windows stay in use
// while a server that takes the connection and never answers is asked.
void MainWindow::ReconnectNow() {
  if (reconnecting_ || unloading_ || !offline_->load()) return;
  reconnecting_ = true;
  RunInBackground(
      this, [startup = StartupServices()] { return Reconnect(startup); },
      [this](const StartupResult& result) {
        reconnecting_ = false;
        if (unloading_) return;
        if (result.offline) {
          ScheduleReconnect();
          return;
        }
        offline_->store(false);
        if (!result.show_main) {
          // A newer version is out: as at start-up, this one does not run on
          // (what was typed is in the drafts).
          UnloadAll();
          return;
        }
        if (result.announcement) SetAnnouncement(QString::fromStdString(*result.announcement));
        if (result.owned_name) GGCT::Get().ZCYN = *result.owned_name;
        WatchAnswers();
      });
}

// The artwork at half its size with a line saying that the program starts,
// shown once start-up of the only copy has waited kSplashDelay, until it has
// its answers (at most kStartupBudget).
void MainWindow::ShowSplash() {
  auto* splash = new QSplashScreen(QPixmap::fromImage(
      background_.scaled(background_.size() / 2, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  splash->setObjectName(QStringLiteral("Splash"));
  splash->setAttribute(Qt::WA_DeleteOnClose);
  splash->setFont(ChineseFont(ChineseFace::kHeiTi, 12));
  splash->setCursor(Qt::BusyCursor);
  splash->showMessage(QString::fromUtf8(kStartingText), Qt::AlignCenter, Qt::white);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    splash->move(screen->availableGeometry().center() - splash->rect().center());
  splash->show();
  splash_ = splash;
}

void MainWindow::HideSplash() {
  splash_timer_->stop();
  if (splash_) splash_->close();
  splash_ = nullptr;
}

void MainWindow::WatchAnswers() {
  (new AnswerWatch(services_, this))->Start();
}

QWidget* MainWindow::Editor(int style) const {
  if (style < 1 || style > kStyleTiles) return nullptr;
  return OpenEditor(style);
}

void MainWindow::SetAnnouncement(const QString& caption) {
  announcement_->setText(caption);
  announcement_->adjustSize();
}

void MainWindow::Scroll() {
  SetAnnouncement(QString::fromStdString(ScrollOnce(announcement_->text().toStdString())));
}

void MainWindow::ComeForward() {
  // While start-up still runs there is no window to bring: it shows soon.
  if (!isVisible() || unloading_) return;
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

bool MainWindow::RequestQuit() {
  if (unloading_) return true;
  if (UploadRunning() && !services_.confirm_quit()) return false;
  UnloadAll();
  return true;
}

void MainWindow::UnloadAll() {
  if (unloading_) return;
  unloading_ = true;
  timer_->stop();
  const QWidgetList windows = QApplication::topLevelWidgets();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if (*it != this) (*it)->close();
  close();
  QCoreApplication::quit();
}

void MainWindow::paintEvent(QPaintEvent*) {
  if (scroll_ != nullptr) return;  // the scroll area covers the window
  QPainter painter(this);
  painter.drawImage(0, 0, background_);
}

// Where the window scrolls, the close button keeps its distance from the
// window's right edge, or from the scroll bar there.
void MainWindow::PinCloseButton() {
  const bool vertical_bar = height() < Designed().height();
  const int bar = vertical_bar ? QWidget::style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0;
  close_button_->move(width() - bar - (Designed().width() - Px(10080)), Px(120));
  close_button_->raise();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (scroll_ != nullptr) PinCloseButton();
}

// The scroll area would take the arrows for itself: they are the gallery's.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == scroll_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right || key->key() == Qt::Key_Up ||
        key->key() == Qt::Key_Down) {
      keyPressEvent(key);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// Any button moves the window. The window system runs the move where it
// can; where it refuses, the window follows the pointer itself.
void MainWindow::mousePressEvent(QMouseEvent* event) {
  if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
  dragging_ = true;
  drag_offset_ = event->globalPosition().toPoint() - pos();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_) move(event->globalPosition().toPoint() - drag_offset_);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->buttons() == Qt::NoButton) dragging_ = false;
}

// Closed by the window system (Alt+F4, the task bar): the same end as the
// close button, so that no hidden window keeps the program alive.
void MainWindow::closeEvent(QCloseEvent* event) {
  if (RequestQuit()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace heartpage
