#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPainter>
#include <QScreen>
#include <QSplashScreen>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>

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
#include "protocol/host.h"
#include "publish/upload_dialog.h"
#include "tasks/background.h"
#include "tasks/thread_order.h"

namespace heartpage {
namespace {

constexpr int kScrollIntervalMs = 250;
// How long start-up may take before the splash says that it is under way.
constexpr std::chrono::milliseconds kSplashDelay{250};

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

}  // namespace

std::string SupportAddress() {
  return HomeAddress() + "support";
}

MainWindow::MainWindow(const ClientServices& services)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
      services_(services),
      timer_(new QTimer(this)),
      splash_timer_(new QTimer(this)) {
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
  setFixedSize(Px(10710), Px(9375));
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);

  timer_->setObjectName(QStringLiteral("Timer1"));
  timer_->setInterval(kScrollIntervalMs);
  connect(timer_, &QTimer::timeout, this, &MainWindow::Scroll);
  timer_->start();
  splash_timer_->setSingleShot(true);
  splash_timer_->setInterval(kSplashDelay);
  connect(splash_timer_, &QTimer::timeout, this, &MainWindow::ShowSplash);

  announcement_ = new InertLabel(QStringLiteral("公告"), this);
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

  auto* service = new ImageControl(this);
  service->setObjectName(QStringLiteral("Image3"));
  service->setGeometry(PxRect(360, 8400, 4695, 855));
  connect(service, &ImageControl::Clicked, this, [this] {
    const std::string support = SupportAddress();
    if (IsWebAddress(support)) services_.open_target(support);
  });

  close_button_ = new iButton(this);
  close_button_->setObjectName(QStringLiteral("iButton1"));
  close_button_->setGeometry(PxRect(10080, 120, 495, 495));
  PropertyBag design;
  design.WriteProperty("BackPicture", close_picture.result());
  design.WriteProperty("AutoSize", false);
  design.WriteProperty("cFont", ChineseFont(ChineseFace::kSongTi, 9));
  design.WriteProperty("cDrawMode", std::int16_t{13});
  design.WriteProperty("cForeColor", OleColor{0x80000012});
  // See-through where the artwork has the mask colour: only the round
  // button shows over the window's own artwork.
  design.WriteProperty("cBackStyle", std::int16_t{0});
  close_button_->ReadProperties(design);
  // Ended by the mouse only: a key meant for the gallery must never reach
  // the one control that ends the program.
  close_button_->setFocusPolicy(Qt::NoFocus);
  connect(close_button_, &iButton::Click, this, &MainWindow::RequestQuit);

  // Centred where it fits; on a smaller screen from its top-left, so that
  // the close button is there and the window can be dragged.
  PlaceOnScreen(this);
}

MainWindow::~MainWindow() = default;

void MainWindow::Load(std::function<void(bool show)> done) {
  // Start-up's requests run on a thread of the pool, so that they never
  // hold up this thread; what they do to the windows (notices, opening an
  // address) they hand to this thread and wait for. The lock is a local
  // file and is taken here, before anything else of start-up runs.
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
  startup.open_target = [this, here](const std::string& target) {
    bool opened = false;
    here([&] { opened = services_.open_target(target); });
    return opened;
  };
  RunInBackground(
      this, [startup, claim] { return RunStartup(startup, claim); },
      [this, done = std::move(done)](const StartupResult& result) {
        HideSplash();
        if (result.announcement) SetAnnouncement(QString::fromStdString(*result.announcement));
        if (result.owned_name) GGCT::Get().ZCYN = *result.owned_name;
        if (!result.show_main) {
          // Never shown, and nothing else of this copy has opened yet: the
          // caller ends the program.
          unloading_ = true;
          timer_->stop();
        } else {
          WatchAnswers();
        }
        done(result.show_main);
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
  QPainter painter(this);
  painter.drawImage(0, 0, background_);
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
