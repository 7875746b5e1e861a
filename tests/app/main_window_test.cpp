#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplashScreen>
#include <QTest>
#include <QThreadPool>
#include <QWindow>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>

#include "app/answer_watch.h"
#include "app/gallery_widgets.h"
#include "controls/window_placement.h"
#include "editors/editor_window.h"
#include "editors/editors.h"
#include "net/server_requests.h"
#include "pages/holder.h"
#include "protocol/host.h"
#include "protocol/receipts.h"
#include "protocol/records.h"
#include "publish/field_checks.h"
#include "publish/page_source.h"
#include "publish/receipt_news.h"
#include "publish/upload_dialog.h"
#include "tests/support/client_services.h"
#include "tests/support/gui_support.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/qt_environment.h"
#include "tests/support/server_process.h"
#include "text/gbk.h"

namespace heartpage {
namespace {

// Start-up runs in the background: its answer, once it is on the window.
bool Loaded(MainWindow& window) {
  auto shown = std::make_shared<std::optional<bool>>();
  window.Load([shown](bool show) { *shown = show; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown->has_value(); }, 30'000));
  return shown->value_or(false);
}

std::vector<std::string> Settings(const std::string& version = "V1.0") {
  return {"1", "HeartPage", "http://home/", "ab", version, "http://dl.example/new"};
}

// A server that answers the settings query with `settings` (nothing when
// there are none) and every other request with an empty success.
PostResult Answer(const std::string& body, const SettingsFields& settings) {
  if (body != SettingsRequest()) return {"", true, 200};
  if (!settings) return {};
  return {FromGbk(wire::FormatRecords({*settings})), true, 200};
}

// Services of a machine "DISK-1" whose server answers `settings`.
ClientServices Answering(SettingsFields settings, const testing::TempDir& lock_dir) {
  ClientServices services = testing::QuietServices();
  services.post = [settings](const std::string& body, const PostLimits&) {
    return Answer(body, settings);
  };
  services.machine_id = [] { return std::string("DISK-1"); };
  services.instance_directory = lock_dir.path().string();
  return services;
}

class MainWindowTest : public ::testing::Test {
 protected:
  // The server answers the settings as they are at each request.
  ClientServices Services() {
    ClientServices services = Answering({}, lock_dir);
    services.post = [this](const std::string& body, const PostLimits&) {
      return Answer(body, settings);
    };
    services.open_target = [this](const std::string& target) {
      opened.push_back(target);
      return true;
    };
    services.show_notice = [this](const Notice& notice) { notices.push_back(notice); };
    return services;
  }

  void SetUp() override {
    window = std::make_unique<MainWindow>(Services());
    ASSERT_TRUE(Loaded(*window));
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isVisible(); }));
  }

  void TearDown() override {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top != window.get()) top->close();
    window.reset();
  }

  template <typename T = QWidget>
  T* Find(const QString& name) const {
    T* found = window->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name.toStdString();
    return found;
  }
  bool NoEditorOpen() const {
    for (int style = 1; style <= 8; ++style)
      if (window->Editor(style) != nullptr) return false;
    return true;
  }
  void Click(QWidget* widget, QPoint at = {}) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, at.isNull() ? widget->rect().center() : at);
  }
  // What the clicks asked of the server in the background has had its
  // answer on the window.
  static void Settle() {
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
  }

  testing::TempDir lock_dir;
  SettingsFields settings = Settings();
  std::vector<std::string> opened;
  std::vector<Notice> notices;
  std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, EachStyleThumbnailOpensItsEditorOnce) {
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(window->Editor(i + 1), nullptr);
    Click(Find(QStringLiteral("Image1(%1)").arg(i)));
    QWidget* editor = window->Editor(i + 1);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->objectName(), QStringLiteral("FG%1").arg(i + 1));
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->parentWidget(), nullptr) << "modeless, without owner";
  }

  QPointer<QWidget> third = window->Editor(3);
  third->hide();
  Click(Find(QStringLiteral("Image1(2)")));
  EXPECT_EQ(window->Editor(3), third) << "a second click shows the same window";
  EXPECT_TRUE(third->isVisible());

  // A closed editor is discarded; the next click loads a fresh one.
  third->close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->Editor(3) == nullptr && third.isNull(); }));
  Click(Find(QStringLiteral("Image1(2)")));
  ASSERT_NE(window->Editor(3), nullptr);
  EXPECT_TRUE(window->Editor(3)->isVisible());
  EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, PlaceholdersOpenTheDownloadAddressOrSayTheServerIsAway) {
  for (int i = 8; i < 12; ++i) Click(Find(QStringLiteral("Image1(%1)").arg(i)));
  Settle();
  EXPECT_EQ(opened, std::vector<std::string>(4, "http://dl.example/new"));
  EXPECT_TRUE(NoEditorOpen());

  settings.reset();
  Click(Find(QStringLiteral("Image1(9)")));
  Settle();
  EXPECT_EQ(opened.size(), 4u);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text, "无法连接服务器,请检查网络后重试!");
  EXPECT_TRUE(window->isVisible());

  // Only web addresses go to the desktop's opener.
  settings = Settings();
  (*settings)[5] = "file:///etc/passwd";
  Click(Find(QStringLiteral("Image1(10)")));
  Settle();
  EXPECT_EQ(opened.size(), 4u);
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[1].text, "无法连接服务器,请检查网络后重试!");
}

// A fresh window's keys go to the gallery: Enter and Space open the focused
// tile and never reach the close button, which no key can focus.
TEST_F(MainWindowTest, TheKeyboardWalksTheGalleryAndNeverEndsTheProgram) {
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QWindow* keys = window->windowHandle();
  const auto focused = [] {
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
  };
  EXPECT_EQ(focused(), QStringLiteral("Image1(0)"));
  const QImage ringed = Find(QStringLiteral("Image1(0)"))->grab().toImage();
  EXPECT_EQ(ringed.pixelColor(0, 0), QColor(0x10, 0x3C, 0xA0)) << "a visible focus ring";

  QTest::keyClick(keys, Qt::Key_Return);
  ASSERT_NE(window->Editor(1), nullptr);
  window->Editor(1)->close();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  for (const Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down})
    QTest::keyClick(keys, key);
  EXPECT_EQ(focused(), QStringLiteral("Image1(5)")) << "the edges stop the arrows";
  QTest::keyClick(keys, Qt::Key_Space);
  ASSERT_NE(window->Editor(6), nullptr);
  for (const int style : {1, 2, 3, 4, 5, 7, 8}) EXPECT_EQ(window->Editor(style), nullptr) << style;
  EXPECT_TRUE(window->isVisible());

  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  for (int i = 0; i < 12; ++i) {
    QTest::keyClick(keys, Qt::Key_Tab);
    EXPECT_EQ(focused(), QStringLiteral("Image1(%1)").arg((6 + i) % 12));
  }
  EXPECT_EQ(Find(QStringLiteral("iButton1"))->focusPolicy(), Qt::NoFocus);
}

// Each caption reads at 4.5:1 or better against every pixel of its band.
TEST_F(MainWindowTest, TheCaptionsStandOutFromTheirBands) {
  const auto luminance = [](const QColor& colour) {
    const auto linear = [](double c) {
      return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
  };
  for (int i = 0; i < 12; ++i) {
    auto* label = Find<QLabel>(QStringLiteral("Label1(%1)").arg(i));
    QWidget* image = Find(QStringLiteral("Image1(%1)").arg(i));
    const double text = luminance(label->palette().color(QPalette::WindowText));
    label->hide();
    const QImage band = Find(QStringLiteral("FG(%1)").arg(i))->grab().toImage();
    label->show();
    double worst = 21;
    for (int y = 1; y < image->y(); ++y)
      for (int x = 1; x < band.width() - 1; ++x) {
        const double ground = luminance(band.pixelColor(x, y));
        worst = std::min(worst, (std::max(ground, text) + 0.05) / (std::min(ground, text) + 0.05));
      }
    EXPECT_GE(worst, 4.5) << i;
  }
}

TEST_F(MainWindowTest, LabelsMarginsAndThePanelOpenNothingAndShowNoHand) {
  for (int i = 0; i < 12; ++i) {
    Click(Find(QStringLiteral("Label1(%1)").arg(i)));
    Click(Find(QStringLiteral("FG(%1)").arg(i)), QPoint(3, 25));  // margin above the picture
  }
  Click(Find(QStringLiteral("FGZS")), QPoint(4, 4));
  Click(Find(QStringLiteral("GongG")));
  EXPECT_TRUE(NoEditorOpen());
  EXPECT_TRUE(opened.empty());

  // The hand shows over the thumbnails and the hot-spot only.
  auto hand = [&](const QString& name) {
    return Find(name)->cursor().shape() == Qt::PointingHandCursor;
  };
  for (int i = 0; i < 12; ++i) {
    EXPECT_TRUE(hand(QStringLiteral("Image1(%1)").arg(i)));
    EXPECT_FALSE(hand(QStringLiteral("Label1(%1)").arg(i)));
    EXPECT_FALSE(hand(QStringLiteral("FG(%1)").arg(i)));
  }
  EXPECT_TRUE(hand(QStringLiteral("Image3")));
  EXPECT_FALSE(hand(QStringLiteral("FGZS")));
  EXPECT_FALSE(hand(QStringLiteral("iButton1")));
  EXPECT_NE(window->cursor().shape(), Qt::PointingHandCursor);
}

// Centred where the window fits; where it does not (a 1600 x 1200 screen at
// twice the scale, less a panel), from the available area's top or left edge.
TEST_F(MainWindowTest, TheWindowIsPlacedWithinTheAvailableArea) {
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(window->pos(), PlacedTopLeft(window->size(), available));
  EXPECT_TRUE(available.contains(window->frameGeometry()));
  EXPECT_EQ(PlacedTopLeft(QSize(714, 625), QRect(0, 28, 800, 572)), QPoint(43, 28));
  EXPECT_EQ(PlacedTopLeft(QSize(1035, 519), QRect(64, 0, 736, 600)), QPoint(64, 40));

  // Taller than the screen (run at twice the scale, as on 1600 x 1200), the
  // window fits and its artwork scrolls: the close button stays in its
  // corner, and the tile the keyboard reaches, and the support bubble, are
  // scrolled into sight. Where it fits, nothing scrolls.
  auto* scroll = window->findChild<QScrollArea*>(QStringLiteral("Scroll"));
  ASSERT_EQ(scroll == nullptr, available.height() >= 625);
  if (scroll == nullptr) return;
  EXPECT_TRUE(window->rect().contains(Find(QStringLiteral("iButton1"))->geometry()));
  const auto in_sight = [&](QWidget* widget) {
    return scroll->viewport()->rect().contains(
        QRect(widget->mapTo(scroll->viewport(), QPoint(0, 0)), widget->size()));
  };
  QWidget* last = Find(QStringLiteral("Image1(11)"));
  QWidget* above = Find(QStringLiteral("Image1(7)"));
  above->setFocus();
  QTest::keyClick(above, Qt::Key_Down);
  EXPECT_EQ(window->focusWidget(), last);
  EXPECT_TRUE(in_sight(last));
  scroll->ensureWidgetVisible(Find(QStringLiteral("Image3")), 0, 0);
  EXPECT_TRUE(in_sight(Find(QStringLiteral("Image3"))));
  EXPECT_TRUE(window->rect().contains(Find(QStringLiteral("iButton1"))->geometry()));
}

TEST_F(MainWindowTest, TheServiceHotSpotOpensOurSupportPage) {
  Click(Find(QStringLiteral("Image3")));
  EXPECT_EQ(opened, std::vector<std::string>({SupportAddress()}));

  // A host that makes no web address of it: the hot-spot does nothing.
  setenv("HEARTPAGE_HOST", "evil host", 1);
  Click(Find(QStringLiteral("Image3")));
  unsetenv("HEARTPAGE_HOST");
  EXPECT_EQ(opened.size(), 1u);
}

TEST_F(MainWindowTest, TheAnnouncementScrollsOneCharacterPerTick) {
  auto* label = Find<QLabel>(QStringLiteral("GongG"));
  // Start-up left "ab" and the gap; some ticks may have passed since.
  QString shown = label->text();
  const QString announcement = QStringLiteral("ab          ");
  ASSERT_TRUE((announcement + announcement).contains(shown)) << shown.toStdString();
  ASSERT_EQ(shown.size(), announcement.size());
  for (int tick = 0; tick < 3; ++tick) {
    const QString next = QString::fromStdString(ScrollOnce(shown.toStdString()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return label->text() == next; })) << next.toStdString();
    shown = next;
  }
  EXPECT_EQ(label->width(), label->sizeHint().width()) << "the label fits its text";
}

TEST_F(MainWindowTest, WithoutStartUpTheDesignCaptionSwapsItsTwoCharacters) {
  MainWindow fresh(Services());
  auto* label = fresh.findChild<QLabel*>(QStringLiteral("GongG"));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QStringLiteral("公告"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return label->text() == QStringLiteral("告公"); }));
  ASSERT_TRUE(QTest::qWaitFor([&] { return label->text() == QStringLiteral("公告"); }));
}

// The panel and every tile show the artwork that lies behind the panel's
// inside, from its top-left corner; the tiles' caption bands under a light
// veil.
TEST_F(MainWindowTest, PanelAndTilesShowTheArtworkBehindThePanel) {
  const QImage window_image = window->grab().toImage();
  QWidget* panel = Find(QStringLiteral("FGZS"));
  const QImage panel_image = panel->grab().toImage();
  const QPoint inside = panel->geometry().topLeft() + QPoint(1, 1);
  const QImage background(QStringLiteral(":/heartpage/background.jpg"));
  EXPECT_EQ(panel_image.pixelColor(1, 1), background.pixelColor(inside));
  EXPECT_EQ(panel_image.pixelColor(0, 0), QColor(Qt::black)) << "the one-pixel frame";
  const auto veiled = [](QColor under, QColor shown) {
    const auto channel = [](int below, int got) {
      return std::abs((below * 25 + 255 * 230) / 255 - got) <= 1;
    };
    return channel(under.red(), shown.red()) && channel(under.green(), shown.green()) &&
           channel(under.blue(), shown.blue());
  };
  for (int i : {0, 5, 11}) {
    const QImage tile = Find(QStringLiteral("FG(%1)").arg(i))->grab().toImage();
    EXPECT_TRUE(veiled(background.pixelColor(inside), tile.pixelColor(1, 1))) << i;
    EXPECT_TRUE(veiled(background.pixelColor(inside + QPoint(19, 19)), tile.pixelColor(20, 20)))
        << i;
  }
  EXPECT_EQ(window_image.pixelColor(3, 3), background.pixelColor(3, 3));
}

// The close button shows only its round button: around it, the window's own
// artwork shows through (its strip's ground is the mask colour).
TEST_F(MainWindowTest, OnlyTheRoundCloseButtonShowsOverTheArtwork) {
  QWidget* close = Find(QStringLiteral("iButton1"));
  const QImage shown = window->grab().toImage();
  const QImage background(QStringLiteral(":/heartpage/background.jpg"));
  for (const QPoint corner : {QPoint(1, 1), QPoint(close->width() - 2, close->height() - 2)}) {
    const QPoint at = close->geometry().topLeft() + corner;
    EXPECT_EQ(shown.pixelColor(at), background.pixelColor(at)) << corner.x();
  }
  const QPoint centre = close->geometry().center();
  EXPECT_NE(shown.pixelColor(centre), background.pixelColor(centre));
}

TEST_F(MainWindowTest, AnyButtonOnTheBackgroundOrPanelDragsTheWindow) {
  const QPoint start = window->pos();
  auto drag = [&](QWidget* on, QPoint at, Qt::MouseButton button) {
    const QPoint global = on->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, button, button, Qt::NoModifier);
    QApplication::sendEvent(on, &press);
    QMouseEvent move(QEvent::MouseMove, at + QPoint(30, 20), global + QPoint(30, 20), Qt::NoButton,
                     button, Qt::NoModifier);
    QApplication::sendEvent(on, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, at + QPoint(30, 20), global + QPoint(30, 20),
                        button, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(on, &release);
  };
  drag(window.get(), QPoint(300, 20), Qt::RightButton);
  EXPECT_EQ(window->pos(), start + QPoint(30, 20));
  drag(Find(QStringLiteral("FGZS")), QPoint(3, 3), Qt::MiddleButton);
  EXPECT_EQ(window->pos(), start + QPoint(60, 40));
  drag(Find(QStringLiteral("FG(4)")), QPoint(3, 3), Qt::LeftButton);
  drag(Find(QStringLiteral("Image1(4)")), QPoint(3, 3), Qt::LeftButton);
  drag(Find(QStringLiteral("Label1(4)")), QPoint(3, 3), Qt::LeftButton);
  drag(Find(QStringLiteral("GongG")), QPoint(3, 3), Qt::LeftButton);
  EXPECT_EQ(window->pos(), start + QPoint(60, 40));
}

// The close button, and the window system's close, unload every window and
// end the event loop.
TEST_F(MainWindowTest, TheCloseButtonUnloadsEveryWindowAndEndsTheProgram) {
  for (bool by_system : {false, true}) {
    if (by_system) {
      window = std::make_unique<MainWindow>(Services());
      ASSERT_TRUE(Loaded(*window));
      window->show();
    }
    Click(Find(QStringLiteral("Image1(0)")));
    Click(Find(QStringLiteral("Image1(6)")));
    QWidget hidden;  // a loaded window nobody sees
    QTimer::singleShot(0, window.get(), [&] {
      if (by_system) {
        window->close();
      } else {
        Click(Find(QStringLiteral("iButton1")));
      }
    });
    QTimer::singleShot(10'000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0) << (by_system ? "system close" : "close button");
    QApplication::processEvents();
    for (QWidget* top : QApplication::topLevelWidgets())
      EXPECT_FALSE(top->isVisible()) << top->objectName().toStdString();
    EXPECT_EQ(window->Editor(1), nullptr);
    EXPECT_EQ(window->Editor(7), nullptr);
  }
}

// While an upload runs, closing asks first; the user may let it finish.
TEST_F(MainWindowTest, ClosingDuringAnUploadAsksFirst) {
  // The page's store waits until the test lets it go.
  const std::string store = PageStoreRequest("mine", "DISK-1", "<p>page</p>");
  std::atomic<bool> released = false;
  const auto release = [&] {
    released = true;
    released.notify_all();
  };
  ClientServices services = Services();
  services.post = [&, answer = services.post](const std::string& body, const PostLimits& limits) {
    if (body == store) released.wait(false);
    return answer(body, limits);
  };
  int asked = 0;
  services.confirm_quit = [&] {
    ++asked;
    return false;
  };
  window = std::make_unique<MainWindow>(services);
  ASSERT_TRUE(Loaded(*window));
  window->show();
  GGCT::Get().ZCYN = "mine";
  QPointer<UploadDialog> dialog = ShowUploadDialog(FixedPageSource(1, "<p>page</p>"), services);
  dialog->Confirm();
  EXPECT_TRUE(dialog->uploading());
  Click(Find(QStringLiteral("iButton1")));
  EXPECT_FALSE(window->close());
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(window->isVisible());

  release();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->uploading(); }));
  GGCT::Get().ZCYN.clear();
}

TEST_F(MainWindowTest, ASecondCopyIsRefusedWhileTheFirstRuns) {
  window->showMinimized();
  int requests = 0;
  ClientServices services = Services();
  services.post = [&, answer = services.post](const std::string& body, const PostLimits& limits) {
    ++requests;
    return answer(body, limits);
  };
  MainWindow second(services);
  EXPECT_FALSE(Loaded(second));
  EXPECT_EQ(requests, 0);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text, "程序已经运行,不能再次装载！");
  EXPECT_EQ(notices[0].icon, NoticeIcon::kExclamation);
  EXPECT_TRUE(window->isVisible()) << "the first copy is not affected";
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isMinimized(); })) << "but comes forward";
}

TEST(MainWindowLoad, AnOutdatedClientIsNeverShown) {
  testing::TempDir lock_dir;
  std::vector<std::string> opened;
  ClientServices services = Answering(Settings("V1.1"), lock_dir);
  services.open_target = [&](const std::string& target) {
    opened.push_back(target);
    return true;
  };
  auto window = std::make_unique<MainWindow>(services);
  EXPECT_FALSE(Loaded(*window));
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(opened, std::vector<std::string>({"http://dl.example/new"}));
  // The lock goes with the refused copy: a later start runs.
  window.reset();
  window = std::make_unique<MainWindow>(Answering(Settings(), lock_dir));
  EXPECT_TRUE(Loaded(*window));
}

bool SplashShown() {
  for (QWidget* top : QApplication::topLevelWidgets())
    if (qobject_cast<QSplashScreen*>(top) && top->isVisible()) return true;
  return false;
}

// A server that accepts the connection and never answers: the user sees
// that the program starts, and within start-up's budget the notice says the
// server cannot be reached (instead of a blank screen for two minutes).
TEST(MainWindowLoad, AServerThatNeverAnswersEndsWithTheNoticeWithinTheBudget) {
  testing::LoopbackListener silent([](const std::string&) { return std::nullopt; });
  setenv("HEARTPAGE_HOST", ("127.0.0.1:" + std::to_string(silent.port())).c_str(), 1);
  testing::TempDir lock_dir;
  std::vector<Notice> notices;
  bool splash_while_waiting = false;
  bool splash_under_notice = false;
  ClientServices services = testing::QuietServices();
  services.post = testing::RealEndpoint();
  services.show_notice = [&](const Notice& notice) {
    notices.push_back(notice);
    splash_under_notice = SplashShown();
  };
  services.open_target = [](const std::string& target) {
    ADD_FAILURE() << target;
    return false;
  };
  services.instance_directory = lock_dir.path().string();
  QElapsedTimer clock;
  clock.start();
  MainWindow window(services);
  std::optional<bool> shown;
  window.Load([&](bool show) { shown = show; });
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        splash_while_waiting = splash_while_waiting || SplashShown();
        return shown.has_value();
      },
      30'000));
  EXPECT_EQ(shown, false);
  const qint64 elapsed = clock.elapsed();
  unsetenv("HEARTPAGE_HOST");
  EXPECT_EQ(notices,
            std::vector<Notice>({{UnreachableText("127.0.0.1:" + std::to_string(silent.port())),
                                  std::string(kNoticeTitle), NoticeIcon::kExclamation}}));
  EXPECT_LT(elapsed, (kStartupBudget + std::chrono::seconds(5)).count());
  EXPECT_EQ(silent.Requests().size(), 1u) << "the budget was spent on the first request";
  EXPECT_TRUE(splash_while_waiting);
  EXPECT_FALSE(splash_under_notice);
  QApplication::processEvents();
  EXPECT_FALSE(SplashShown());
}

// An answer given while the program was closed is news at its next start;
// one it knew of when it last ran is not.
TEST(MainWindowLoad, AnAnswerGivenWhileTheProgramWasClosedIsNewsAtTheNextStart) {
  testing::TempDir lock_dir;
  testing::TempDir remembered;
  std::mutex mutex;
  wire::Receipt receipt;
  receipt.question = "做我女朋友好吗？";
  receipt.answers = {{2, "让我想想", "2026-12-08 13:01:00"}};
  ClientServices services = Answering(Settings(), lock_dir);
  services.answers_directory = remembered.path().string();
  services.post = [&](const std::string& body, const PostLimits&) -> PostResult {
    const std::lock_guard lock(mutex);
    if (body == OwnershipLookupRequest("DISK-1"))
      return {FromGbk(wire::FormatRecords({{"DISK-1", "mine"}})), true, 200};
    if (body == ReceiptsRequest("mine", "DISK-1"))
      return {FromGbk(wire::FormatRecords(wire::ReceiptRecords(receipt))), true, 200};
    return Answer(body, Settings());
  };
  // One start of the program: the heart it shows after its first ask.
  const auto start = [&]() -> std::string {
    ReceiptNews::Get().Forget();  // a new process knows nothing yet
    const auto window = std::make_unique<MainWindow>(services);
    EXPECT_TRUE(Loaded(*window));
    window->show();
    auto* watch = window->findChild<AnswerWatch*>("AnswerWatch");
    EXPECT_TRUE(QTest::qWaitFor([&] { return ReceiptNews::Get().receipt().has_value(); }));
    EXPECT_FALSE(watch->asking());
    auto* heart = window->findChild<QLabel*>("AnswerHeart");
    return heart != nullptr && heart->isVisible() ? heart->text().toStdString() : "";
  };
  EXPECT_EQ(start(), "") << "there before the program first saw the page";
  EXPECT_EQ(start(), "") << "known when it last ran";
  {
    const std::lock_guard lock(mutex);
    receipt.answers.push_back({1, "我愿意", "2026-12-08 13:05:00"});
  }
  EXPECT_NE(start().find("TA的回答：我愿意（"), std::string::npos);
  EXPECT_EQ(start(), "") << "told once";
}

// While the program runs it asks after its page's answers, one request at a
// time, and a new answer shows as a heart on the window (the offscreen
// desktop has no tray); answers there before are not news. A page that asks
// nothing is asked about once, and a machine that owns none never.
TEST(MainWindowLoad, ANewAnswerShowsAsAHeartWhereThereIsNoTray) {
  testing::TempDir lock_dir;
  std::mutex mutex;
  wire::Receipt receipt;
  receipt.question = "做我女朋友好吗？";
  receipt.opened = 1;
  receipt.answers = {{2, "让我想想", "2026-12-08 13:01:00"}};
  std::string owned = "mine";
  int asked = 0;
  ClientServices services = Answering(Settings(), lock_dir);
  services.post = [&](const std::string& body, const PostLimits&) -> PostResult {
    const std::lock_guard lock(mutex);
    if (body == OwnershipLookupRequest("DISK-1"))
      return {FromGbk(wire::FormatRecords({{"DISK-1", owned}})), true, 200};
    if (!body.starts_with(ReceiptsRequest("", "").substr(0, 6))) return Answer(body, Settings());
    ++asked;
    if (body != ReceiptsRequest(owned, "DISK-1")) return {"no such page", false, 404};
    return {FromGbk(wire::FormatRecords(wire::ReceiptRecords(receipt))), true, 200};
  };
  const auto window = std::make_unique<MainWindow>(services);
  ASSERT_TRUE(Loaded(*window));
  window->show();
  auto* watch = window->findChild<AnswerWatch*>("AnswerWatch");
  ASSERT_NE(watch, nullptr);
  const auto settle = [&] { EXPECT_TRUE(QTest::qWaitFor([&] { return !watch->asking(); })); };
  settle();
  EXPECT_EQ(asked, 1);
  watch->PollNow();
  settle();
  EXPECT_EQ(window->findChild<QLabel*>("AnswerHeart"), nullptr) << "the answer was there before";

  {
    const std::lock_guard lock(mutex);
    receipt.answers.push_back({1, "我愿意", "2026-12-08 13:05:00"});
  }
  watch->PollNow();
  settle();
  auto* heart = window->findChild<QLabel*>("AnswerHeart");
  ASSERT_NE(heart, nullptr);
  EXPECT_TRUE(heart->isVisible());
  EXPECT_TRUE(heart->text().contains("TA的回答：我愿意（")) << heart->text().toStdString();
  EXPECT_TRUE(window->rect().contains(heart->geometry()));

  // The upload dialog, open meanwhile, says what the heart says, also once
  // the page is republished with another question and her answer belongs to
  // the version before.
  UploadDialog* dialog = ShowUploadDialog(FixedPageSource(1, "<html></html>"), services);
  auto* shown = dialog->findChild<QLabel*>("Receipt");
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown->text().contains("TA的回答：我愿意（"); }));
  {
    const std::lock_guard lock(mutex);
    wire::Receipt earlier = receipt;
    earlier.replaced = "2026-12-08 14:00:00";
    receipt = wire::Receipt{};
    receipt.question = "那周末呢？";
    receipt.earlier = {earlier};
  }
  watch->PollNow();
  settle();
  EXPECT_TRUE(heart->text().contains("上一版：“做我女朋友好吗？” TA的回答：我愿意（"))
      << heart->text().toStdString();
  EXPECT_TRUE(shown->text().contains("\n上一版：“做我女朋友好吗？” TA的回答：我愿意（"))
      << shown->text().toStdString();
  dialog->close();
  QTest::mouseClick(heart, Qt::LeftButton);
  EXPECT_FALSE(heart->isVisible());

  {
    const std::lock_guard lock(mutex);
    receipt.question.clear();
  }
  watch->PollNow();
  settle();
  const int before = asked;
  watch->PollNow();
  settle();
  EXPECT_EQ(asked, before) << "a page that asks nothing is not asked about again";
  GGCT::Get().ZCYN.clear();
  {
    const std::lock_guard lock(mutex);
    receipt.question = "还在吗？";
  }
  watch->PollNow();
  settle();
  EXPECT_EQ(asked, before) << "no page, nothing asked";
}

// The real server, through the environment's publishing host, as the
// program reaches it.
TEST(MainWindowLoad, ShowsTheServersAnnouncementAndKeepsTheOwnedName) {
  testing::TempDir data;
  testing::ServerProcess server(HEARTPAGE_SERVER, data.path());
  setenv("HEARTPAGE_HOST", server.host().c_str(), 1);
  ASSERT_TRUE(PostToEndpoint(NameClaimRequest("DISK-9", "ninth")).ok);
  testing::TempDir lock_dir;
  ClientServices services = testing::QuietServices();
  services.post = testing::RealEndpoint();
  services.open_target = [](const std::string& target) {
    ADD_FAILURE() << target;
    return false;
  };
  services.show_notice = [](const Notice& notice) { ADD_FAILURE() << notice.text; };
  services.machine_id = [] { return std::string("DISK-9"); };
  services.instance_directory = lock_dir.path().string();
  MainWindow window(services);
  EXPECT_TRUE(Loaded(window));
  unsetenv("HEARTPAGE_HOST");
  const QString caption = window.findChild<QLabel*>(QStringLiteral("GongG"))->text();
  EXPECT_TRUE(caption.endsWith(QStringLiteral("          ")));
  EXPECT_GT(caption.size(), 10);
  EXPECT_EQ(GGCT::Get().ZCYN, "ninth");
}

// Without its server the program opens for editing when the user chooses
// so: an editor's preview runs on the carried copies of the host's scripts,
// and once the server answers the program is itself again (its
// announcement, the name it owns) and publishes.
TEST(MainWindowLoad, WithoutTheServerItEditsAndPreviewsOfflineAndPublishesOnceTheServerComes) {
  testing::TempDir data;
  testing::ServerProcess server(HEARTPAGE_SERVER, data.path());
  setenv("HEARTPAGE_HOST", server.host().c_str(), 1);
  testing::TempDir lock_dir;
  testing::TempDir previews;
  std::atomic<bool> up{false};
  const EndpointPost real = testing::RealEndpoint();
  ClientServices services = testing::QuietServices();
  services.post = [&](const std::string& body, const PostLimits& limits) {
    return up ? real(body, limits) : PostResult{};
  };
  std::vector<std::string> offered;
  services.offer_choice = [&](const Notice& notice, const std::string& choice) {
    offered.push_back(notice.text + "|" + choice);
    return true;
  };
  services.machine_id = [] { return std::string("DISK-AWAY"); };
  GGCT::Get().ZCYN.clear();
  services.instance_directory = lock_dir.path().string();
  services.preview_directory = [&] { return previews.path(); };
  std::vector<std::string> told;
  services.show_notice = [&](const Notice& notice) { told.push_back(notice.text); };
  std::string previewed;
  services.open_target = [&](const std::string& target) {
    previewed = testing::ReadFile(target);
    return true;
  };
  MainWindow window(services);
  ASSERT_TRUE(Loaded(window));
  window.show();
  EXPECT_EQ(offered, std::vector<std::string>(
                         {UnreachableText(PublishingHost()) + "|" + std::string(kOfflineChoice)}));
  EXPECT_TRUE(window.Offline());
  auto* announcement = window.findChild<QLabel*>(QStringLiteral("GongG"));
  EXPECT_TRUE(announcement->text().contains(QStringLiteral("未连接服务器")));

  testing::FindingsAnswerer findings;
  findings.answer = QStringLiteral("仍然继续");
  window.findChild<ImageControl*>(QStringLiteral("Image1(1)"))->Clicked();
  QWidget* editor = window.Editor(2);
  ASSERT_NE(editor, nullptr);
  const auto preview = [&] {
    previewed.clear();
    editor->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !previewed.empty(); }, 20'000));
  };
  preview();
  preview();
  // The host's own files are not tried while it is away: said once instead.
  EXPECT_EQ(told, std::vector<std::string>({std::string(kOfflinePreviewNote)}));
  for (const QString& text : findings.texts)
    EXPECT_FALSE(text.contains(QStringLiteral("无法连接"))) << text.toStdString();
  const std::string host_scripts = "http://" + server.host() + "/biaobai/FG2/js/garden.js";
  EXPECT_EQ(previewed.find(host_scripts), std::string::npos);
  EXPECT_NE(previewed.find("file://"), std::string::npos);
  EXPECT_NE(previewed.find("/fg2/js/garden.js"), std::string::npos);

  up = true;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Offline(); }, 20'000));
  EXPECT_FALSE(announcement->text().contains(QStringLiteral("未连接服务器")));
  preview();
  EXPECT_NE(previewed.find(host_scripts), std::string::npos) << "online, the host's own";

  editor->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
  UploadDialog* dialog = nullptr;
  ASSERT_TRUE(QTest::qWaitFor([&] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if ((dialog = qobject_cast<UploadDialog*>(top)) != nullptr && dialog->isVisible())
        return true;
    return false;
  }));
  QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("Text1")), "backonline");
  dialog->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        if (auto* question = dialog->findChild<QMessageBox*>(QStringLiteral("NameConfirm")))
          question->button(QMessageBox::Yes)->click();
        return !dialog->uploading() && GGCT::Get().ZCYN == "backonline";
      },
      20'000));
  testing::Drain();
  EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("ts"))->text(), QStringLiteral("上传成功！"));
  const std::string online = testing::Fetch(PageAddress("backonline"));
  EXPECT_NE(online.find(host_scripts), std::string::npos) << online.substr(0, 400);
  unsetenv("HEARTPAGE_HOST");
  testing::CloseAllWindows();
}

}  // namespace
}  // namespace heartpage
