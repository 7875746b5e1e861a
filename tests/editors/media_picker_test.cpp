// Files of the sender's own beside the editors' address fields, against the
// test program's heartpage-server (see gui_support.h): several photos at
// once into an album, what a field shows of its file, and "重试" after an
// upload that got no answer.
#include "editors/media_picker.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>

#include "editors/draft_store.h"
#include "editors/editor_window.h"
#include "editors/editors.h"
#include "protocol/host.h"
#include "tasks/background.h"
#include "tests/support/gui_support.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

class MediaPickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    services.machine_id = "picker-machine";
    client = services.Services();
    client.draft_directory = drafts.path().string();
  }
  void TearDown() override { testing::CloseAllWindows(); }

  // A picture of `size` in a file of its own.
  QString Picture(const std::string& name, QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(QColor(40, 120, 200));
    const QString path = Q((directory.path() / name).string());
    EXPECT_TRUE(picture.save(path));
    return path;
  }

  template <typename T>
  T* Wait(QWidget* window, const char* name) {
    T* found = nullptr;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (found = window->findChild<T*>(name)); }, 30'000))
        << name;
    return found;
  }

  testing::TempDir directory;
  testing::TempDir drafts;
  testing::RecordingServices services;
  ClientServices client;
};

std::vector<std::string> Paths(const QStringList& files) {
  std::vector<std::string> paths;
  for (const QString& file : files) paths.push_back(file.toStdString());
  return paths;
}

QAction* ChosenMark(QLineEdit* field) {
  for (QAction* action : field->actions())
    if (action->objectName() == "ChosenFile") return action;
  return nullptr;
}

// Three photos chosen at the album's third picture fill it and the next two
// in the order of their names (numbers by value); each field then shows its
// file, also when the editor opens again, until typed over.
TEST_F(MediaPickerTest, AnAlbumTakesSeveralPhotosInOrderAndEachFieldShowsItsFile) {
  const std::vector<int> numbers = {2, 9, 10};
  const std::vector<QSize> sizes = {{30, 40}, {40, 30}, {50, 50}};
  QStringList files;
  for (const std::size_t i : {2u, 0u, 1u})
    files << Picture("p" + std::to_string(numbers[i]) + ".png", sizes[i]);
  client.choose_files = [&](MediaKind kind, bool several) {
    EXPECT_EQ(kind, MediaKind::kPicture);
    EXPECT_TRUE(several) << "an album's field takes several at once";
    return Paths(files);
  };
  EditorWindow* editor = ShowEditor(6, client);
  const QString untouched = editor->findChild<QLineEdit*>("Text7(5)")->text();
  editor->findChild<QPushButton*>("PickText7(2)")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return MediaUploadsRunning() == 0; }, 60'000));

  for (int i = 0; i < 3; ++i) {
    auto* field = editor->findChild<QLineEdit*>(QStringLiteral("Text7(%1)").arg(i + 2));
    ASSERT_TRUE(field->text().startsWith(Q(PublishingOrigin() + "/media/"))) << i;
    const std::string sent = testing::Fetch(field->text().toStdString());
    EXPECT_EQ(QImage::fromData(QByteArray(sent.data(), static_cast<qsizetype>(sent.size()))).size(),
              sizes[static_cast<std::size_t>(i)])
        << i;
    ASSERT_NE(ChosenMark(field), nullptr) << i;
    EXPECT_TRUE(field->toolTip().endsWith(
        QStringLiteral("p%1.png").arg(numbers[static_cast<std::size_t>(i)])))
        << i;
  }
  EXPECT_EQ(editor->findChild<QLineEdit*>("Text7(5)")->text(), untouched);
  EXPECT_EQ(editor->findChild<QPushButton*>("PickText7(2)")->text(), "p2.png");

  // Opened again, the editor shows the files it holds as before.
  editor->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  editor = ShowEditor(6, client);
  auto* button = editor->findChild<QPushButton*>("PickText7(2)");
  EXPECT_EQ(button->text(), "p2.png");
  for (int i = 2; i < 5; ++i)
    EXPECT_NE(ChosenMark(editor->findChild<QLineEdit*>(QStringLiteral("Text7(%1)").arg(i))),
              nullptr)
        << i;
  EXPECT_EQ(ChosenMark(editor->findChild<QLineEdit*>("Text7(5)")), nullptr);

  auto* first = editor->findChild<QLineEdit*>("Text7(2)");
  QTest::keyClick(first, Qt::Key_X);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(ChosenMark(first), nullptr);
  EXPECT_EQ(button->text(), "选择文件…");
}

// An upload that gets no answer ends with the network message, "重试" and
// "取消"; "重试" sends the same bytes again, and once the server answers the
// field takes the address. The program counts the upload as running
// throughout, so that closing it would ask first.
TEST_F(MediaPickerTest, AnUploadWithoutAnswerOffersRetryOfTheSameFile) {
  const std::string server_host = std::getenv("HEARTPAGE_HOST");
  testing::LoopbackListener hangs_up([](const std::string&) { return std::string(); });
  setenv("HEARTPAGE_HOST", ("127.0.0.1:" + std::to_string(hangs_up.port())).c_str(), 1);
  const QString photo = Picture("retry.png", {60, 20});
  client.choose_files = [&](MediaKind, bool) { return Paths({photo}); };
  EditorWindow* editor = ShowEditor(1, client);
  auto* field = editor->findChild<QLineEdit*>("Text1(7)");
  const QString before = field->text();
  editor->findChild<QPushButton*>("PickText1(7)")->click();

  auto* box = Wait<QMessageBox>(editor, "MediaRetry");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "上传失败,请检查网络后重试!");
  QStringList answers;
  for (QAbstractButton* button : box->buttons()) answers << button->text();
  answers.sort();
  EXPECT_EQ(answers, QStringList({"取消", "重试"}));
  EXPECT_EQ(MediaUploadsRunning(), 1);
  EXPECT_EQ(field->text(), before);

  const auto retry = [&](QMessageBox* asking) {
    for (QAbstractButton* button : asking->buttons())
      if (button->text() == "重试") button->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  };
  retry(box);
  ASSERT_TRUE(QTest::qWaitFor([&] { return hangs_up.Requests().size() == 2; }, 30'000));
  const auto body = [](const std::string& request) {
    return request.substr(request.find("\r\n\r\n") + 4);
  };
  EXPECT_TRUE(body(hangs_up.Requests()[0]) == body(hangs_up.Requests()[1]));

  box = Wait<QMessageBox>(editor, "MediaRetry");
  ASSERT_NE(box, nullptr);
  setenv("HEARTPAGE_HOST", server_host.c_str(), 1);
  retry(box);
  ASSERT_TRUE(QTest::qWaitFor([&] { return MediaUploadsRunning() == 0; }, 30'000));
  EXPECT_TRUE(field->text().startsWith(Q(PublishingOrigin() + "/media/")));
}

// A photo far beyond what Qt decodes at once (5000 × 4000 at 16 bits a
// channel) still goes as a light JPEG, never as the original; a picture
// whose bytes end early says it cannot be read and sends nothing.
TEST_F(MediaPickerTest, AHugeSixteenBitPhotoIsMadeLightAndABrokenOneSaysSo) {
  QImage huge(5000, 4000, QImage::Format_RGBX64);
  ASSERT_GT(huge.sizeInBytes() >> 20, QImageReader::allocationLimit()) << "decodes in one go";
  for (int y = 0; y < huge.height(); ++y) {
    auto* line = reinterpret_cast<quint64*>(huge.scanLine(y));
    const quint64 grey = quint64(y * 16) & 0xFFFF;
    std::fill(line, line + huge.width(), 0xFFFF000000000000ULL | grey << 32 | grey << 16 | grey);
  }
  const QString photo = Q((directory.path() / "huge.png").string());
  QImageWriter writer(photo, "png");
  writer.setQuality(80);  // the fastest compression: written quickly
  ASSERT_TRUE(writer.write(huge));
  huge = {};
  QFile whole(photo);
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
  const QString broken = Q((directory.path() / "broken.png").string());
  QFile cut(broken);
  ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
  cut.write(whole.read(64 * 1024));
  cut.close();

  QString chosen = photo;
  client.choose_files = [&](MediaKind, bool) { return Paths({chosen}); };
  EditorWindow* editor = ShowEditor(1, client);
  auto* field = editor->findChild<QLineEdit*>("Text1(7)");
  editor->findChild<QPushButton*>("PickText1(7)")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return MediaUploadsRunning() == 0; }, 60'000));
  ASSERT_TRUE(field->text().startsWith(Q(PublishingOrigin() + "/media/")))
      << field->text().toStdString();
  const std::string sent = testing::Fetch(field->text().toStdString());
  const QByteArray bytes(sent.data(), static_cast<qsizetype>(sent.size()));
  QBuffer buffer;
  buffer.setData(bytes);
  EXPECT_EQ(QImageReader(&buffer).format(), "jpeg");
  EXPECT_EQ(QImage::fromData(bytes).size(), QSize(1920, 1536));

  chosen = broken;
  const QString before = field->text();
  editor->findChild<QPushButton*>("PickText1(7)")->click();
  auto* box = Wait<QMessageBox>(editor, "MediaError");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->text().startsWith("无法读取这张图片")) << box->text().toStdString();
  EXPECT_EQ(field->text(), before);
}

// What the picker's upload stands on: work off the windows' thread tells
// how far it is, on its owner's thread, coalesced but never losing the
// latest; Cancel() stops it and its result still comes; an owner that goes
// stops it and hears nothing more.
TEST(RunInBackground, ReportsProgressToItsOwnerAndStopsWhenCancelledOrOrphaned) {
  constexpr int kSteps = 100'000;
  QObject owner;
  std::vector<int> heard;
  bool on_owner_thread = true;
  std::optional<int> result;
  const BackgroundTask task = RunInBackground(
      &owner,
      [](TaskControl& control) {
        for (int step = 1; step <= kSteps; ++step) control.ReportProgress(step);
        while (!control.Cancelled()) std::this_thread::yield();
        return kSteps;
      },
      [&](int steps) { result = steps; },
      [&](int step) {
        on_owner_thread = on_owner_thread && QThread::currentThread() == owner.thread();
        heard.push_back(step);
      });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !heard.empty() && heard.back() == kSteps; }));
  EXPECT_TRUE(on_owner_thread);
  EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end()));
  EXPECT_LT(heard.size(), static_cast<std::size_t>(kSteps)) << "coalesced";
  EXPECT_FALSE(result) << "runs until cancelled";
  task.Cancel();
  ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }));
  EXPECT_EQ(result, kSteps);

  auto orphan = std::make_unique<QObject>();
  std::atomic<bool> stopped = false;
  bool delivered = false;
  RunInBackground(
      orphan.get(),
      [&stopped](TaskControl& control) {
        control.ReportProgress(1);
        while (!control.Cancelled()) std::this_thread::yield();
        stopped = true;
        return 0;
      },
      [&](int) { delivered = true; }, [&](int) { delivered = true; });
  orphan.reset();
  ASSERT_TRUE(QTest::qWaitFor([&] { return stopped.load(); }));
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::processEvents();
  EXPECT_FALSE(delivered);
}

}  // namespace
}  // namespace heartpage
