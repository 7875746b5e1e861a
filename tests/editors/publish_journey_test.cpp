// The journey of a page through the windows, against a real heartpage-server:
// edit, preview, upload under a new name, read the published page back, copy
// its address, and publish again under the name now owned.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCryptographicHash>
#include <QDateTimeEdit>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "editors/draft_store.h"
#include "editors/editor_window.h"
#include "editors/editors.h"
#include "editors/media_picker.h"
#include "pages/builders.h"
#include "pages/holder.h"
#include "pages/styles.h"
#include "protocol/host.h"
#include "protocol/preview_terms.h"
#include "protocol/requests.h"
#include "publish/scan_preview_window.h"
#include "tests/support/gui_support.h"
#include "text/gbk.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

::testing::Environment* const kServer =
    ::testing::AddGlobalTestEnvironment(new testing::ServerEnvironment);

class PublishJourneyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Most defaults hold sample text, and some first fields are addresses,
    // which the typed text is not: the checks' box is answered "go on".
    findings.answer = "仍然继续";
    GGCT::Get().ZCYN.clear();
    preview = {[this](const std::string& path) {
                 previewed = testing::ReadFile(path);
                 return true;
               },
               [](std::chrono::milliseconds, const std::function<void()>& then) { then(); },
               [this] { return directory.path(); }};
  }
  void TearDown() override {
    testing::CloseAllWindows();
    GGCT::Get().ZCYN.clear();
  }

  // The editors' services: those of `services`, previewing with `preview`.
  ClientServices Client(testing::RecordingServices& services) const {
    ClientServices client = services.Services();
    testing::UsePreview(client, preview);
    client.draft_directory = drafts.path().string();
    return client;
  }

  testing::TempDir directory;
  testing::TempDir drafts;
  PreviewHooks preview;
  testing::FindingsAnswerer findings;
  std::string previewed;
};

// A few fields of each style, typed as a user would: a quote, an emoji, and
// where the style has one, a multi-line box with a line break.
struct Edit {
  std::string field;
  std::string typed;
};
// The first field that reaches the page whether or not the check box is
// ticked (the floating picture's fields come first where there is one).
const FieldRow& FirstShown(const Style& style) {
  return style.rows[style.has_check ? 2 : 0];
}

std::vector<Edit> EditsFor(const Style& style) {
  std::vector<Edit> edits = {{FirstShown(style).Name(), "她说\"好\"😀"},
                             {style.rows.back().Name(), "it's ❤ 爱"}};
  if (style.number == 2) edits.push_back({"Text1(2)", "第一行<br>\r\n第二行"});
  if (style.number == 5) edits.push_back({"Text11(17)", "<p>我的</p>\r\n<b>代码</b>"});
  return edits;
}

void Type(EditorWindow* editor, const Edit& edit) {
  QWidget* box = editor->findChild<QWidget*>(Q(edit.field));
  ASSERT_NE(box, nullptr) << edit.field;
  if (auto* line = qobject_cast<QLineEdit*>(box)) {
    line->clear();
    line->insert(Q(edit.typed));
    return;
  }
  auto* text = qobject_cast<QPlainTextEdit*>(box);
  text->clear();
  // Line by line, with the Enter key between.
  QString rest = Q(edit.typed);
  const QStringList lines = rest.split(QStringLiteral("\r\n"));
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (i > 0) QTest::keyClick(text, Qt::Key_Return);
    text->insertPlainText(lines[i]);
  }
}

QString Status(QWidget* dialog) {
  return dialog->findChild<QLabel*>("ts")->text();
}

// "确认上传", yes to the question about a new name, and the outcome.
void ConfirmUpload(QWidget* dialog) {
  dialog->findChild<QPushButton*>("Command1")->click();
  // A new name is looked up before it is asked about.
  ASSERT_TRUE(testing::Settle());
  if (auto* question = dialog->findChild<QMessageBox*>("NameConfirm"))
    question->button(QMessageBox::Yes)->click();
  ASSERT_TRUE(testing::Settle());
  // The receipt of the page online, which the dialog asks for after each
  // upload.
  testing::Drain();
}

TEST_F(PublishJourneyTest, EveryStyleIsPreviewedPublishedCopiedAndPublishedAgain) {
  for (int number = 1; number <= kStyleCount; ++number) {
    SCOPED_TRACE(number);
    const Style& style = GetStyle(number);
    testing::RecordingServices services;
    services.machine_id = "road-machine-" + std::to_string(number);
    const ClientServices client = Client(services);
    GGCT::Get().ZCYN.clear();

    EditorWindow* editor = ShowEditor(number, client);
    FieldMap expected_fields = FieldMap::Defaults(style);
    for (const Edit& edit : EditsFor(style)) {
      Type(editor, edit);
      expected_fields.values[edit.field] = edit.typed;
    }
    const std::string page = BuildPage(number, expected_fields);

    testing::Press(editor->findChild<QPushButton*>("Command1"));
    EXPECT_EQ(previewed, PreviewBytes(page));
    EXPECT_FALSE(std::filesystem::exists(directory.path() / "yl.htm"));

    testing::Press(editor->findChild<QPushButton*>("Command2"));
    UploadDialog* dialog = OpenUploadDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    auto* name = dialog->findChild<QLineEdit*>("Text1");
    EXPECT_TRUE(name->isEnabled());
    QTest::keyClicks(name, "Road-" + QString::number(number) + "X");
    EXPECT_EQ(name->text(), "road" + QString::number(number) + "x");
    ConfirmUpload(dialog);

    const std::string published = "road" + std::to_string(number) + "x";
    EXPECT_EQ(Status(dialog), "上传成功！");
    EXPECT_EQ(dialog->findChild<QPlainTextEdit*>("Text3")->toPlainText(),
              Q(PageAddress(published)));
    EXPECT_FALSE(name->isEnabled());
    EXPECT_EQ(GGCT::Get().ZCYN, published);
    EXPECT_EQ(services.sent.size(), 4u) << "lookup, claim, store and the page's receipt";
    EXPECT_EQ(testing::Fetch(PageAddress(published)), ToGbk(page));

    testing::Press(dialog->findChild<QPushButton*>("Command2"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), Q(PageAddress(published)));
    EXPECT_EQ(Status(dialog), "网址已复制,去发给您的TA展示一下吧!");

    // Opened again, the dialog shows the owned name locked, its address,
    // and only stores.
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    editor->findChild<QLineEdit*>(Q(FirstShown(style).Name()))->setText("再来一次");
    testing::Press(editor->findChild<QPushButton*>("Command2"));
    dialog = OpenUploadDialog();
    name = dialog->findChild<QLineEdit*>("Text1");
    EXPECT_EQ(name->text(), Q(published));
    EXPECT_FALSE(name->isEnabled());
    EXPECT_EQ(dialog->findChild<QPlainTextEdit*>("Text3")->toPlainText(),
              Q(PageAddress(published)));
    testing::Drain();  // the look at the page online, as the dialog opened
    services.sent.clear();
    ConfirmUpload(dialog);
    EXPECT_EQ(Status(dialog), "上传成功！");
    ASSERT_EQ(services.sent.size(), 2u);
    EXPECT_EQ(services.sent[0], PageStoreRequest(published, services.machine_id, GGCT::Get().FGN));
    EXPECT_EQ(services.sent[1], ReceiptsRequest(published, services.machine_id));
    EXPECT_NE(testing::Fetch(PageAddress(published)).find(ToGbk("再来一次")), std::string::npos);

    testing::CloseAllWindows();
  }
}

// The dialog publishes the page of the editor that showed it, built from its
// fields at the click: FG3's, though FG5 previewed another meanwhile. Shown
// by FG5's "上传网页", it says so and publishes FG5's in place of the page
// online.
TEST_F(PublishJourneyTest, TheDialogPublishesThePageOfTheEditorThatShowedIt) {
  testing::RecordingServices services;
  services.machine_id = "road-machine-35";
  ClientServices client = Client(services);
  EditorWindow* three = ShowEditor(3, client);
  testing::Press(three->findChild<QPushButton*>("Command2"));
  UploadDialog* dialog = OpenUploadDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->findChild<QLabel*>("PageStyle")->text(), "风格3 · 心形树+漂浮图片");
  EXPECT_EQ(dialog->findChild<QLabel*>("PageFirstLine")->text(), "第一行：* Our Story");
  EXPECT_FALSE(dialog->findChild<QWidget*>("ReplacesPage")->isVisibleTo(dialog));
  // Still the one dialog: showing it again keeps what it holds.
  QTest::keyClicks(dialog->findChild<QLineEdit*>("Text1"), "mixed35");
  testing::Press(three->findChild<QPushButton*>("Command2"));
  EXPECT_EQ(OpenUploadDialog(), dialog);
  EXPECT_EQ(dialog->findChild<QLineEdit*>("Text1")->text(), "mixed35");

  three->findChild<QLineEdit*>("Text1(13)")->setText("风格三的标题");
  EditorWindow* five = ShowEditor(5, client);
  five->findChild<QLineEdit*>("Text11(15)")->setText("风格五的标题");
  testing::Press(five->findChild<QPushButton*>("Command1"));
  EXPECT_NE(GGCT::Get().FGN.find("风格五的标题"), std::string::npos);
  ConfirmUpload(dialog);
  EXPECT_EQ(Status(dialog), "上传成功！");
  const std::string published = FromGbk(testing::Fetch(PageAddress("mixed35")));
  EXPECT_NE(published.find("<title>风格三的标题</title>"), std::string::npos);
  EXPECT_EQ(published.find("风格五的标题"), std::string::npos);
  EXPECT_EQ(dialog->findChild<QLabel*>("PageTitle")->text(), "标题：风格三的标题");

  testing::Press(five->findChild<QPushButton*>("Command2"));
  EXPECT_EQ(OpenUploadDialog(), dialog);
  EXPECT_EQ(dialog->findChild<QLabel*>("PageStyle")->text(), "风格5 · 打字特效+MV");
  EXPECT_EQ(Status(dialog), "已换成风格5 · 打字特效+MV的网页");
  EXPECT_TRUE(dialog->findChild<QWidget*>("ReplacesPage")->isVisibleTo(dialog));
  ConfirmUpload(dialog);
  EXPECT_EQ(Status(dialog), "上传成功！");
  EXPECT_NE(FromGbk(testing::Fetch(PageAddress("mixed35"))).find("<title>风格五的标题</title>"),
            std::string::npos);
}

// 扫码预览: the page built from the editor is stored at a temporary address of
// the server, whose QR code (read back with zbar) and text the window shows,
// and which serves exactly that page; each press gives a new address, and an
// address ended by newer ones says so in the terms the window gave. A store
// that fails says why where the code would be. Escape closes the window.
TEST_F(PublishJourneyTest, ScanPreviewShowsTheQrCodeOfATemporaryAddressServingThePage) {
  testing::RecordingServices services;
  services.machine_id = "road-machine-scan";
  ClientServices client = Client(services);
  EditorWindow* editor = ShowEditor(2, client);
  Type(editor, {"Text1(0)", "扫码😀"});
  testing::Press(editor->findChild<QPushButton*>("Command4"));
  const std::string page = GGCT::Get().FGN;
  EXPECT_NE(page.find("扫码😀"), std::string::npos);
  ScanPreviewWindow* window = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* found = qobject_cast<ScanPreviewWindow*>(top)) window = found;
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), "扫码预览");
  const std::string address = window->address();
  ASSERT_TRUE(address.starts_with(PublishingOrigin() + "/preview/")) << address;
  EXPECT_EQ(window->findChild<QLabel*>("Address")->text(), Q(address));
  const QString hint = window->findChild<QLabel*>("Hint")->text();
  const QString terms = Q(wire::PreviewTerms());
  EXPECT_TRUE(
      QRegularExpression("^用手机微信或浏览器扫一扫，" + terms + "（本地址至 \\d\\d:\\d\\d）$")
          .match(hint)
          .hasMatch())
      << hint.toStdString();
  EXPECT_EQ(testing::Fetch(address), ToGbk(page));

  const std::string png = (directory.path() / "scan.png").string();
  ASSERT_TRUE(window->findChild<QLabel*>("QrCode")->pixmap().save(Q(png), "PNG"));
  std::string decoded;
  if (FILE* pipe = popen(("zbarimg --quiet --raw '" + png + "'").c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) decoded += buffer;
    pclose(pipe);
  }
  EXPECT_EQ(decoded, address + "\n");

  auto* scan = editor->findChild<QPushButton*>("Command4");
  testing::Press(scan);
  EXPECT_NE(window->address(), address);
  testing::Press(scan);
  testing::Press(scan);
  const std::string ended = testing::Fetch(address, /*error_pages=*/true);
  EXPECT_NE(ended.find("已过期"), std::string::npos) << ended;
  EXPECT_NE(ended.find(wire::PreviewTerms()), std::string::npos) << ended;

  services.answer = [](const std::string&) { return PostResult{{}, false, 507}; };
  testing::Press(scan);
  auto* code = window->findChild<QLabel*>("QrCode");
  EXPECT_EQ(code->text(), "服务器空间不足，请稍后再试！");
  EXPECT_TRUE(code->pixmap().isNull());
  EXPECT_EQ(window->findChild<QLabel*>("Address")->text(), "");
  EXPECT_EQ(window->findChild<QLabel*>("Hint")->text(), "");
  window->activateWindow();
  QTest::keyClick(window, Qt::Key_Escape);
  EXPECT_FALSE(window->isVisible());
}

// A file of one's own on the journey: chosen beside its field, checked by its
// bytes, a large photo made light, sent, its address in the field and on the
// published page; a wrong or oversized file refused; a cancelled upload
// leaves nothing on the server.
TEST_F(PublishJourneyTest, OwnFilesAreCheckedScaledSentAndTheirAddressPublished) {
  testing::RecordingServices services;
  services.machine_id = "road-media";
  ClientServices client = Client(services);
  QString chosen;
  client.choose_files = [&](MediaKind, bool) {
    return chosen.isEmpty() ? std::vector<std::string>() : std::vector{chosen.toStdString()};
  };
  EditorWindow* editor = ShowEditor(1, client);
  auto* picture = editor->findChild<QLineEdit*>("Text1(7)");
  auto* video = editor->findChild<QLineEdit*>("Text1(8)");
  const QString before = picture->text();
  const auto pick = [&](const QString& file, const char* button) {
    chosen = file;
    editor->findChild<QPushButton*>(button)->click();
  };
  const auto refusal = [&]() -> QString {
    QMessageBox* box = nullptr;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return (box = editor->findChild<QMessageBox*>("MediaError")); }, 60'000));
    if (box == nullptr) return {};
    const QString text = box->text();
    box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return text;
  };
  const auto done = [&] {
    return QTest::qWaitFor([&] { return editor->findChild<QWidget*>("MediaProgress") == nullptr; },
                           60'000);
  };

  // Text renamed to look like a photo; a song in the picture's field.
  const QString fake = Q((directory.path() / "photo.jpg").string());
  std::ofstream(fake.toStdString()) << "not a picture at all";
  pick(fake, "PickText1(7)");
  EXPECT_EQ(refusal(), "文件类型不支持，请选择图片文件！");
  const QString song = Q((directory.path() / "song.mp3").string());
  std::ofstream(song.toStdString(), std::ios::binary) << std::string("ID3\x04\0\0\0\0\0\0", 10);
  pick(song, "PickText1(7)");
  EXPECT_EQ(refusal(), "文件类型不支持，请选择图片文件！");
  EXPECT_EQ(picture->text(), before);

  // A 3000 x 2000 photo goes as a JPEG of 1920 x 1280.
  QImage photo(3000, 2000, QImage::Format_RGB32);
  photo.fill(QColor(200, 30, 60));
  const QString photo_file = Q((directory.path() / "big.png").string());
  ASSERT_TRUE(photo.save(photo_file));
  pick(photo_file, "PickText1(7)");
  ASSERT_TRUE(done());
  ASSERT_TRUE(picture->text().startsWith(Q(PublishingOrigin() + "/media/")));
  ASSERT_TRUE(picture->text().endsWith(".jpg"));
  const std::string sent = testing::Fetch(picture->text().toStdString());
  const QImage received = QImage::fromData(QByteArray(sent.data(), sent.size()), "JPEG");
  EXPECT_EQ(received.size(), QSize(1920, 1280));

  // Over the server's limit for a picture: the server's word, in Chinese.
  std::string huge = "\x89PNG\r\n\x1A\n";
  huge.resize(11 * 1024 * 1024, 'x');
  const QString huge_file = Q((directory.path() / "huge.png").string());
  std::ofstream(huge_file.toStdString(), std::ios::binary) << huge;
  pick(huge_file, "PickText1(7)");
  EXPECT_EQ(refusal(), "文件太大，超过了服务器允许的大小！");

  // Cancelled at once: the field keeps its address, the server has nothing.
  std::string clip = std::string(
      "\0\0\0\x20"
      "ftypisom\0\0\x02\0isomiso2avc1mp41",
      32);
  clip.resize(40 * 1024 * 1024, 'v');
  const QString clip_file = Q((directory.path() / "clip.mp4").string());
  std::ofstream(clip_file.toStdString(), std::ios::binary) << clip;
  const QString video_before = video->text();
  pick(clip_file, "PickText1(8)");
  auto* progress = editor->findChild<QProgressDialog*>("MediaProgress");
  ASSERT_NE(progress, nullptr);
  progress->findChild<QPushButton*>()->click();  // "取消"
  ASSERT_TRUE(done());
  EXPECT_EQ(video->text(), video_before);
  const QByteArray hash =
      QCryptographicHash::hash(QByteArray(clip.data(), clip.size()), QCryptographicHash::Sha256)
          .toHex();
  EXPECT_TRUE(testing::Fetch(PublishingOrigin() + "/media/" + hash.toStdString() + ".mp4") ==
              "<failed>");

  // The published page names the picture.
  testing::Press(editor->findChild<QPushButton*>("Command2"));
  UploadDialog* dialog = OpenUploadDialog();
  QTest::keyClicks(dialog->findChild<QLineEdit*>("Text1"), "roadmedia");
  ConfirmUpload(dialog);
  ASSERT_EQ(Status(dialog), "上传成功！");
  EXPECT_NE(FromGbk(testing::Fetch(PageAddress("roadmedia"))).find(picture->text().toStdString()),
            std::string::npos);
}

// Read in the zone a sender in China has: POSIX rules, no zone files needed.
class ZoneOfChina {
 public:
  ZoneOfChina() : before_(std::getenv("TZ") ? std::getenv("TZ") : "") {
    setenv("TZ", "CST-8", 1);
    tzset();
  }
  ~ZoneOfChina() {
    if (before_.empty()) {
      unsetenv("TZ");
    } else {
      setenv("TZ", before_.c_str(), 1);
    }
    tzset();
  }

 private:
  std::string before_;
};

// A page held back until a moment and behind a code: the three settings
// stay in the style's draft, the check before the upload names a moment
// past (which may go on) and a code without its hint (which may not), the
// store carries them with the moment in UTC, and the dialog says what the
// reader will meet.
TEST_F(PublishJourneyTest, AMomentAndACodeStayInTheDraftAndGoWithTheStoreInUtc) {
  const ZoneOfChina zone;
  testing::RecordingServices services;
  services.machine_id = "gate-machine";
  // The store with settings is answered here: what a server makes of them
  // is the server's own tests' concern.
  services.answer = [](const std::string& body) {
    if (body.find("&opens=") != std::string::npos) return PostResult{"", true, 200};
    return PostFormChecked(EndpointAddress(), body, PostLimits{});
  };
  ClientServices client = Client(services);
  EditorWindow* editor = ShowEditor(4, client);
  auto* opens_set = editor->findChild<QCheckBox*>("OpensSet");
  auto* opens = editor->findChild<QDateTimeEdit*>("Opens");
  auto* code = editor->findChild<QLineEdit*>("Code");
  auto* hint = editor->findChild<QLineEdit*>("Hint");
  ASSERT_TRUE(opens_set && opens && code && hint);
  EXPECT_EQ(editor->Value("Opens"), "") << "opens at once until ticked";
  EXPECT_FALSE(opens->isEnabled());
  EXPECT_EQ(hint->placeholderText(), "我们第一次见面的城市？");
  EXPECT_EQ(editor->findChild<QLabel*>("OpensZone")->text(), "本机时间 UTC+08:00");
  opens_set->setChecked(true);
  // Typed as into any date box, from the year the focus lands on.
  opens->setFocus();
  QCoreApplication::processEvents();
  QTest::keyClicks(opens, "203002142000");
  EXPECT_EQ(opens->dateTime(), QDateTime(QDate(2030, 2, 14), QTime(20, 0)));
  code->setText("上海");
  hint->setText("我们第一次见面的城市？");
  editor->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  editor = ShowEditor(4, client);
  EXPECT_EQ(editor->Value("Opens"), "2030-02-14 20:00");
  EXPECT_EQ(editor->Value("Code"), "上海");
  EXPECT_EQ(editor->Value("Hint"), "我们第一次见面的城市？");
  EXPECT_TRUE(editor->findChild<QDateTimeEdit*>("Opens")->isEnabled());

  auto* upload = editor->findChild<QPushButton*>("Command2");
  findings.answer = "返回修改";
  editor->findChild<QDateTimeEdit*>("Opens")->setDateTime(
      QDateTime(QDate(2020, 1, 1), QTime(8, 0)));
  editor->findChild<QLineEdit*>("Hint")->clear();
  testing::Press(upload);
  ASSERT_EQ(findings.texts.size(), 1u);
  EXPECT_TRUE(findings.texts[0].startsWith("请检查以下内容：\n"))
      << findings.texts[0].toStdString();
  EXPECT_TRUE(
      findings.texts[0].endsWith("\n定时开启：2020年1月1日 08:00 已经过去，网页会立即开启\n"
                                 "开启口令：设了口令就要写口令提示，TA才知道该填什么"))
      << findings.texts[0].toStdString();
  EXPECT_EQ(findings.choices[0], QStringList{"返回修改"}) << "the server would refuse it";
  EXPECT_EQ(OpenUploadDialog(), nullptr);
  // A moment past alone may go: the page then opens at once.
  editor->findChild<QLineEdit*>("Hint")->setText("我们第一次见面的城市？");
  testing::Press(upload);
  ASSERT_EQ(findings.texts.size(), 2u);
  EXPECT_TRUE(findings.choices[1].contains("仍然继续"));
  EXPECT_TRUE(findings.texts[1].contains("定时开启：2020年1月1日 08:00 已经过去"));

  findings.answer = "仍然继续";
  editor->findChild<QDateTimeEdit*>("Opens")->setDateTime(
      QDateTime(QDate(2030, 2, 14), QTime(20, 0)));
  testing::Press(upload);
  UploadDialog* dialog = OpenUploadDialog();
  ASSERT_NE(dialog, nullptr);
  QTest::keyClicks(dialog->findChild<QLineEdit*>("Text1"), "gate1");
  services.sent.clear();
  ConfirmUpload(dialog);
  EXPECT_EQ(Status(dialog), "上传成功！");
  const std::string store =
      PageStoreRequest("gate1", "gate-machine", BuildStyle(4, *editor),
                       {"2030-02-14 12:00:00", "上海", "我们第一次见面的城市？"});
  EXPECT_EQ(std::count(services.sent.begin(), services.sent.end(), store), 1);
  EXPECT_EQ(dialog->findChild<QLabel*>("PageGate")->text(),
            "TA打开时：将于 2030年2月14日 20:00 开启 · 需要口令才能打开");
  EXPECT_TRUE(dialog->findChild<QLabel*>("PageGate")->isVisible());
}

}  // namespace
}  // namespace heartpage
