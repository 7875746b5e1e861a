// The upload dialog against a real heartpage-server: what it shows and sends
// for each kind of name, for a server that is down or refuses, and for clicks
// that arrive while an upload still waits.
#include "publish/upload_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimeZone>
#include <algorithm>
#include <semaphore>
#include <stdexcept>

#include "controls/qt_translations.h"
#include "pages/holder.h"
#include "protocol/host.h"
#include "protocol/receipts.h"
#include "protocol/wire.h"
#include "publish/page_source.h"
#include "publish/poster.h"
#include "publish/receipt_label.h"
#include "tests/server/built_page.h"
#include "tests/support/gui_support.h"
#include "tests/support/loopback_listener.h"
#include "text/gbk.h"

namespace heartpage {
namespace {

::testing::Environment* const kServer =
    ::testing::AddGlobalTestEnvironment(new testing::ServerEnvironment);

// A page as the program builds it for the test's server, the only kind a
// server keeps.
const std::string& Page() {
  static const std::string page =
      server::testing::BuiltPage(std::getenv("HEARTPAGE_HOST"), "对话框的页面 😀 \"引号\"");
  return page;
}

class UploadDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GGCT::Get().ZCYN.clear();
    services.machine_id = "dialog-machine-" + std::to_string(++machines);
    client = services.Services();
  }
  void TearDown() override {
    testing::CloseAllWindows();
    GGCT::Get().ZCYN.clear();
  }

  UploadDialog* Open() {
    dialog = ShowUploadDialog(FixedPageSource(3, Page(), "第一行"), client);
    // An owned name's page online has been looked up (and that request sent).
    testing::Drain();
    name = dialog->findChild<QLineEdit*>("Text1");
    address = dialog->findChild<QPlainTextEdit*>("Text3");
    return dialog;
  }
  // Clicks "确认上传" and waits for the outcome.
  void Confirm() {
    Click();
    Settle();
  }
  // Clicks "确认上传" and says yes to the question about a new name.
  void Click() {
    dialog->findChild<QPushButton*>("Command1")->click();
    Answer("NameConfirm", QMessageBox::Yes);
  }
  // The question about a new name, once the name was looked up.
  QMessageBox* Asked() {
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->checking(); }, 20'000));
    return dialog->findChild<QMessageBox*>("NameConfirm");
  }
  // Answers the dialog's question `name`, when it asks one; its text.
  QString Answer(const char* box_name, QMessageBox::StandardButton button) {
    auto* box = std::string_view(box_name) == "NameConfirm"
                    ? Asked()
                    : dialog->findChild<QMessageBox*>(box_name);
    if (box == nullptr) return {};
    const QString text = box->text();
    box->button(button)->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return text;
  }
  // Until the request running in the background has its answer on the window.
  void Settle() {
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !dialog->uploading() && !dialog->checking() && !Receipt()->fetching(); },
        20'000));
  }
  void ClearSent() {
    Sent();
    services.sent.clear();
  }
  ReceiptLabel* Receipt() const { return dialog->findChild<ReceiptLabel*>("Receipt"); }
  // What the dialog sent, once its receipt has come, but for that receipt's
  // request, which follows every load and upload of an owned page.
  std::vector<std::string> Sent() {
    if (dialog != nullptr) Settle();
    const std::string receipts = ReceiptsRequest("", "").substr(0, 6);
    std::vector<std::string> sent;
    for (const std::string& body : services.sent)
      if (!body.starts_with(receipts)) sent.push_back(body);
    return sent;
  }
  void Copy() { dialog->findChild<QPushButton*>("Command2")->click(); }
  QString Status() const { return dialog->findChild<QLabel*>("ts")->text(); }
  QColor StatusColour() const {
    return dialog->findChild<QLabel*>("ts")->palette().color(QPalette::WindowText);
  }
  void Reopen() {
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Open();
  }
  // Another machine takes `taken` first.
  static void ClaimElsewhere(const std::string& taken) {
    ASSERT_TRUE(PostToEndpoint(NameClaimRequest("someone-else", taken)).ok);
  }
  // Nothing changed: no address, the name still open, nothing owned.
  void ExpectNothingPublished() {
    EXPECT_TRUE(address->toPlainText().isEmpty());
    EXPECT_TRUE(name->isEnabled());
    EXPECT_EQ(GGCT::Get().ZCYN, "");
  }

  static inline int machines = 0;
  testing::RecordingServices services;
  // The dialogs' services: the recording ones unless a test says otherwise
  // before it opens the dialog.
  ClientServices client;
  UploadDialog* dialog = nullptr;
  QLineEdit* name = nullptr;
  QPlainTextEdit* address = nullptr;
};

TEST_F(UploadDialogTest, ItsControlsShowWholeInTheDesignedWindow) {
  Open();
  EXPECT_EQ(dialog->objectName(), "SCCT");
  EXPECT_EQ(dialog->windowTitle(), "网页上传");
  EXPECT_EQ(dialog->size(), QSize(7845 / 15, 4725 / 15));
  EXPECT_EQ(dialog->parentWidget(), nullptr);
  EXPECT_EQ(name->maxLength(), 30);
  // Every control shows whole: inside the window, over no other, its text
  // not cut off.
  // (Labels with nothing to say yet share their places.)
  const QWidget* surface = name->parentWidget();
  QList<QWidget*> shown = surface->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  shown.removeIf([](const QWidget* control) {
    const auto* label = qobject_cast<const QLabel*>(control);
    return control->isHidden() || (label != nullptr && label->text().isEmpty());
  });
  EXPECT_GE(shown.size(), 8);
  for (const QWidget* control : shown) {
    const QString what = control->objectName();
    EXPECT_TRUE(surface->rect().contains(control->geometry())) << what.toStdString();
    for (const QWidget* other : shown) {
      if (other == control) continue;
      EXPECT_FALSE(control->geometry().intersects(other->geometry()))
          << what.toStdString() << " over " << other->objectName().toStdString();
    }
    if (const auto* label = qobject_cast<const QLabel*>(control); label && !label->wordWrap()) {
      EXPECT_LE(label->sizeHint().width(), label->width()) << what.toStdString();
    }
  }
  EXPECT_EQ(dialog->findChild<QPushButton*>("Command1")->text(), "确认上传");
  EXPECT_EQ(dialog->findChild<QPushButton*>("Command2")->text(), "点击复制");
  EXPECT_EQ(dialog->findChild<QLabel*>("Label1(1)")->text(),
            QString::fromStdString("注释：上传文件名即http://" + PublishingHost() +
                                   "/Test/（您的文件名）"));
  EXPECT_EQ(dialog->findChild<QLabel*>("Label1(2)")->text(),
            "文件名只能为字母或数字，不能是中文或带有标点符号！");
  EXPECT_TRUE(Status().isEmpty());
  EXPECT_TRUE(name->isEnabled());
  EXPECT_EQ(ShowUploadDialog(FixedPageSource(3, Page()), client), dialog) << "one dialog at a time";
}

// Typed or pasted, the box keeps letters and digits (capitals small) and
// drops the rest, and answers the editing keys people expect.
TEST_F(UploadDialogTest, TheNameBoxTakesSmallLettersAndDigitsOnly) {
  Open();
  QTest::keyClicks(name, "Ab-1 .Z_9");
  EXPECT_EQ(name->text(), "ab1z9");
  QTest::keyClick(name, Qt::Key_Backspace);
  EXPECT_EQ(name->text(), "ab1z");
  QTest::keyClick(name, Qt::Key_Home);
  QTest::keyClick(name, Qt::Key_Delete);
  EXPECT_EQ(name->text(), "b1z");
  QTest::keyClick(name, Qt::Key_End);
  QTest::keyClick(name, 'Q');
  EXPECT_EQ(name->text(), "b1zq");
  // A character from an input method, and a committed composition.
  QKeyEvent chinese(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("中"));
  QApplication::sendEvent(name, &chinese);
  QInputMethodEvent composed;
  composed.setCommitString(QStringLiteral("文"));
  QApplication::sendEvent(name, &composed);
  EXPECT_EQ(name->text(), "b1zq");

  QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(name->selectedText(), "b1zq");
  QTest::keyClick(name, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "b1zq");
  QGuiApplication::clipboard()->setText(QStringLiteral(" Love-520 名字!\t"));
  QTest::keyClick(name, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(name->text(), "love520");
  QTest::keyClick(name, Qt::Key_Home);
  QTest::keyClick(name, Qt::Key_Insert, Qt::ShiftModifier);
  EXPECT_EQ(name->text(), "love520love520");
  EXPECT_EQ(name->cursorPosition(), 7);

  name->clear();
  QTest::keyClicks(name, QString(35, 'q'));
  EXPECT_EQ(name->text(), QString(30, 'q'));
}

// A new name is claimed only after its whole address is shown and
// confirmed: Escape goes back to the name, Enter confirms, and the same name
// is not asked about again.
TEST_F(UploadDialogTest, ANameIsNeededAndANewNameIsConfirmedWithItsAddress) {
  Open();
  Confirm();
  EXPECT_EQ(Status(), "文件名不能为空！");
  EXPECT_EQ(dialog->findChild<QMessageBox*>("NameConfirm"), nullptr);

  QTest::keyClicks(name, "Sure1");
  dialog->findChild<QPushButton*>("Command1")->click();
  auto* box = Asked();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), QString::fromStdString("网页地址将是 " + PageAddress("sure1") +
                                                " ，确认使用这个名字吗？"));
  EXPECT_TRUE(box->isModal());
  dialog->findChild<QPushButton*>("Command1")->click();  // ignored while it asks
  QTest::keyClick(box, Qt::Key_Escape);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(dialog->findChild<QMessageBox*>("NameConfirm"), nullptr);
  EXPECT_EQ(Sent(), std::vector<std::string>{NameLookupRequest("sure1")}) << "only looked up";
  EXPECT_EQ(dialog->focusWidget(), name);
  ExpectNothingPublished();

  // Taken meanwhile: said at once, with no question about it.
  ClaimElsewhere("sure1");
  dialog->findChild<QPushButton*>("Command1")->click();
  EXPECT_EQ(Asked(), nullptr);
  EXPECT_EQ(Status(), "文件名已存在！");
  EXPECT_EQ(dialog->focusWidget(), name);

  name->setText("Sure2");
  Confirm();
  EXPECT_EQ(Status(), "上传成功！");
  EXPECT_EQ(StatusColour(), QColor(0, 0x80, 0));
  EXPECT_EQ(name->text(), "sure2");
  EXPECT_EQ(address->toPlainText(), QString::fromStdString(PageAddress("sure2")));
  EXPECT_EQ(testing::Fetch(PageAddress("sure2")), ToGbk(Page()));
}

TEST_F(UploadDialogTest, ATakenNameIsRefusedWhateverItsCase) {
  ClaimElsewhere("taken1");
  Open();
  QTest::keyClicks(name, "taken1");
  Confirm();
  EXPECT_EQ(Status(), "文件名已存在！");
  EXPECT_EQ(Sent(), (std::vector<std::string>{NameLookupRequest("taken1"),
                                              OwnershipLookupRequest(services.machine_id)}))
      << "no claim, no store";
  ExpectNothingPublished();

  ClaimElsewhere("Upper1");
  name->setText("upper1");
  Confirm();
  EXPECT_EQ(Status(), "文件名已存在！");
  ExpectNothingPublished();
}

TEST_F(UploadDialogTest, AClaimLostToAConcurrentClaimSaysTheNameIsTaken) {
  Open();
  QTest::keyClicks(name, "race1");
  services.before = [](const std::string& body) {
    if (body == NameClaimRequest("dialog-machine-" + std::to_string(machines), "race1"))
      ClaimElsewhere("race1");
  };
  Confirm();
  EXPECT_EQ(Status(), "文件名已存在！");
  EXPECT_EQ(Sent().size(), 2u);
  ExpectNothingPublished();
}

TEST_F(UploadDialogTest, AServerThatIsDownIsNeverReportedAsSuccess) {
  const std::string dead = testing::DeadEndpoint();
  client.post = [&](const std::string& body, const PostLimits&) {
    return PostFormChecked(dead, body);
  };
  client.machine_id = [] { return std::string("dialog-machine-down"); };
  Open();
  QTest::keyClicks(name, "down1");
  Confirm();
  EXPECT_EQ(Status(), "上传失败,请检查网络后重试!");
  ExpectNothingPublished();
  Copy();
  EXPECT_EQ(Status(), "需要上传成功后,您才能复制专属网址喔!请先去上传网页吧!");

  // An owned name's address beside the failure is the page from before.
  GGCT::Get().ZCYN = "down2";
  Reopen();
  Confirm();
  EXPECT_EQ(Status(), "上传失败,请检查网络后重试!");
  EXPECT_EQ(address->toPlainText(), QString::fromStdString(PageAddress("down2")));
  EXPECT_EQ(dialog->findChild<QLabel*>("Label1(3)")->text(), "当前网页：");
}

TEST_F(UploadDialogTest, AStoreUnderAnotherMachinesNameIsRefusedAndFreesTheBox) {
  // Owned by the start-up's account, yet another machine's on the server:
  // its page stays, and this machine may choose another name.
  ClaimElsewhere("ghost1");
  const std::string theirs = server::testing::BuiltPage(std::getenv("HEARTPAGE_HOST"), "theirs");
  ASSERT_TRUE(PostToEndpoint(PageStoreRequest("ghost1", "someone-else", theirs)).ok);
  GGCT::Get().ZCYN = "ghost1";
  Open();
  EXPECT_FALSE(name->isEnabled());
  Confirm();
  EXPECT_EQ(Status(), "文件名已存在！");
  EXPECT_EQ(Sent(),
            (std::vector<std::string>{OwnershipLookupRequest(services.machine_id),
                                      PageStoreRequest("ghost1", services.machine_id, Page())}))
      << "the page online looked up as the dialog opened, then only stored";
  EXPECT_EQ(testing::Fetch(PageAddress("ghost1")), ToGbk(theirs));
  ExpectNothingPublished();

  name->setText("ghost2");
  Confirm();
  EXPECT_EQ(Status(), "上传成功！");
  EXPECT_EQ(GGCT::Get().ZCYN, "ghost2");
}

// "撤下网页" is there only while a name is owned, asks first, and leaves the
// name owned: the page is gone from the server until it is published again.
TEST_F(UploadDialogTest, TakingThePageDownAsksFirstAndKeepsTheName) {
  Open();
  auto* take_down = dialog->findChild<QPushButton*>("Command3");
  EXPECT_EQ(take_down->text(), "撤下网页");
  EXPECT_FALSE(take_down->isVisibleTo(dialog));
  QTest::keyClicks(name, "down1");
  Confirm();
  ASSERT_EQ(Status(), "上传成功！");
  EXPECT_TRUE(take_down->isVisibleTo(dialog));
  EXPECT_FALSE(
      take_down->geometry().intersects(dialog->findChild<QPushButton*>("Command2")->geometry()));
  EXPECT_FALSE(take_down->geometry().intersects(address->geometry()));
  const auto answer = [&](QMessageBox::StandardButton button) {
    take_down->click();
    auto* box = dialog->findChild<QMessageBox*>("TakeDownConfirm");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "确定撤下网页吗？撤下后对方将无法打开。");
    box->button(button)->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Settle();
  };
  ClearSent();
  answer(QMessageBox::No);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(testing::Fetch(PageAddress("down1")), ToGbk(Page()));

  answer(QMessageBox::Yes);
  EXPECT_EQ(Sent(), std::vector<std::string>{TakeDownRequest("down1", services.machine_id)});
  EXPECT_EQ(Status(), "网页已撤下！");
  EXPECT_EQ(StatusColour(), QColor(0, 0x80, 0));
  EXPECT_EQ(testing::Fetch(PageAddress("down1")), "<failed>");
  EXPECT_EQ(GGCT::Get().ZCYN, "down1");
  EXPECT_FALSE(name->isEnabled());
  EXPECT_TRUE(address->toPlainText().isEmpty());
  auto* replaces = dialog->findChild<QWidget*>("ReplacesPage");
  EXPECT_FALSE(replaces->isVisibleTo(dialog)) << "no page online to replace";
  // Reopened, the server's ownership lookup says the same.
  Reopen();
  replaces = dialog->findChild<QWidget*>("ReplacesPage");
  EXPECT_TRUE(QTest::qWaitFor([&] { return !replaces->isVisibleTo(dialog); }));
  // No address offered as the page online, nor "当前网页" over it.
  EXPECT_TRUE(address->toPlainText().isEmpty());
  EXPECT_EQ(dialog->findChild<QLabel*>("Label1(3)")->text(), "您的专属页面网址为：");
  EXPECT_EQ(Status(), "名字仍属于本机，网页目前不在线上");
  EXPECT_EQ(StatusColour(), QColor(Qt::black)) << "a state, not a failure";

  Confirm();
  EXPECT_EQ(Status(), "上传成功！");
  EXPECT_TRUE(replaces->isVisibleTo(dialog));
  EXPECT_EQ(testing::Fetch(PageAddress("down1")), ToGbk(Page()));
}

// A mistyped name is given up, after a question naming what goes with it,
// and another is claimed; the old one is anyone's again.
TEST_F(UploadDialogTest, AMistypedNameIsReleasedAndANewOneClaimed) {
  Open();
  auto* change = dialog->findChild<QPushButton*>("Command4");
  EXPECT_EQ(change->text(), "更换名字");
  EXPECT_FALSE(change->isVisibleTo(dialog));
  QTest::keyClicks(name, "mistpyed1");
  Confirm();
  ASSERT_EQ(Status(), "上传成功！");
  EXPECT_TRUE(change->isVisibleTo(dialog));
  for (const char* other : {"Command2", "Command3"})
    EXPECT_FALSE(change->geometry().intersects(dialog->findChild<QPushButton*>(other)->geometry()))
        << other;

  ClearSent();
  change->click();
  EXPECT_EQ(
      Answer("ReleaseConfirm", QMessageBox::No),
      QString::fromStdString("更换名字将放弃“mistpyed1”：当前网页会被删除，TA的回答将一并删除，" +
                             PageAddress("mistpyed1") +
                             " 将无法打开，这个名字也可能被别人使用。确定要更换吗？"));
  EXPECT_TRUE(Sent().empty());
  change->click();
  Answer("ReleaseConfirm", QMessageBox::Yes);
  Settle();
  EXPECT_EQ(Sent(), std::vector<std::string>{ReleaseRequest("mistpyed1", services.machine_id)});
  EXPECT_EQ(Status(), "原名字已放弃，请输入新的文件名。");
  EXPECT_EQ(GGCT::Get().ZCYN, "");
  EXPECT_TRUE(name->isEnabled());
  EXPECT_EQ(name->selectedText(), "mistpyed1");
  EXPECT_TRUE(address->toPlainText().isEmpty());
  EXPECT_FALSE(change->isVisibleTo(dialog));
  EXPECT_FALSE(dialog->findChild<QLabel*>("QrCode")->isVisibleTo(dialog));
  EXPECT_EQ(testing::Fetch(PageAddress("mistpyed1")), "<failed>");

  QTest::keyClicks(name, "mistyped1");
  Confirm();
  EXPECT_EQ(Status(), "上传成功！");
  EXPECT_EQ(GGCT::Get().ZCYN, "mistyped1");
  EXPECT_EQ(FetchOwnedName(services.machine_id), "mistyped1");
  EXPECT_TRUE(PostToEndpoint(NameClaimRequest("someone-else", "mistpyed1")).ok);
}

// Under the address, what came back from the page online: asked for after
// an upload and as the dialog opens on the owned name, the last answer
// counting; a page nobody opened, and a refusal, say so.
TEST_F(UploadDialogTest, TheReceiptOfThePageOnlineShowsUnderItsAddress) {
  wire::Receipt receipt;
  receipt.question = "做我女朋友好吗？";
  receipt.choices = {"我愿意", "让我想想"};
  receipt.opened = 3;
  receipt.first_opened = "2026-12-08 12:00:00";
  receipt.last_opened = "2026-12-08 13:03:00";
  receipt.answers = {{2, "让我想想", "2026-12-08 13:01:00"}, {1, "我愿意", "2026-12-08 13:05:00"}};
  long refusal = 0;
  services.answer = [&](const std::string& body) {
    if (body != ReceiptsRequest("asked1", services.machine_id))
      return PostFormChecked(EndpointAddress(), body, PostLimits{});
    if (refusal != 0) return PostResult{"refused", false, refusal};
    return PostResult{FromGbk(wire::FormatRecords(wire::ReceiptRecords(receipt))), true, 200};
  };
  const auto local = [](const char* utc) {
    QDateTime time = QDateTime::fromString(utc, "yyyy-MM-dd HH:mm:ss");
    time.setTimeZone(QTimeZone::utc());
    return time.toLocalTime();
  };
  const auto shown = [&] { return Receipt()->text().toStdString(); };

  Open();
  EXPECT_EQ(shown(), "") << "nothing owned, nothing to tell";
  QTest::keyClicks(name, "asked1");
  Confirm();
  EXPECT_EQ(Status(), "上传成功！");
  const std::string told =
      "已打开 3 次 · 最近 " + local("2026-12-08 13:03:00").toString("M月d日 HH:mm").toStdString() +
      " · TA的回答：我愿意（" + local("2026-12-08 13:05:00").toString("HH:mm").toStdString() + "）";
  EXPECT_EQ(shown(), told);
  EXPECT_TRUE(Receipt()->isVisible());

  receipt = wire::Receipt{};
  Reopen();
  Settle();
  EXPECT_EQ(shown(), "还没有人打开");
  refusal = wire::status::kNotYours;
  Reopen();
  Settle();
  EXPECT_EQ(shown(), "这个网页属于另一台电脑，不能修改！");
}

// A republished page that asks another question keeps what came back from
// the one it replaced: said before the click, and in the receipt after it,
// which the dialog asks for again when an editor shows it.
TEST_F(UploadDialogTest, ARepublishKeepsTheAnswerToTheQuestionItReplaced) {
  const std::string host = std::getenv("HEARTPAGE_HOST");
  const auto asking = [&](const std::string& question) {
    return FixedPageSource(1, server::testing::AskingPage(host, "第一行", question), "第一行");
  };
  dialog = ShowUploadDialog(asking("做我女朋友好吗？"), client);
  name = dialog->findChild<QLineEdit*>("Text1");
  address = dialog->findChild<QPlainTextEdit*>("Text3");
  QTest::keyClicks(name, "again2");
  Confirm();
  ASSERT_EQ(Status(), "上传成功！");
  ASSERT_EQ(PostFormChecked(PublishingOrigin() + "/api/answer/again2", "answer=1").status, 204);

  ShowUploadDialog(asking("那周末一起看电影？"), client);
  Settle();
  EXPECT_TRUE(Receipt()->text().contains("TA的回答：我愿意")) << Receipt()->text().toStdString();
  EXPECT_EQ(dialog->findChild<QLabel*>("ReplacesPage")->text(), "将替换当前网页（TA的回答会保留）");
  Confirm();
  ASSERT_EQ(Status(), "上传成功！");
  const QStringList lines = Receipt()->text().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 2) << Receipt()->text().toStdString();
  EXPECT_EQ(lines[0], "还没有人打开");
  EXPECT_TRUE(lines[1].startsWith("上一版：“做我女朋友好吗？” TA的回答：我愿意（"))
      << lines[1].toStdString();
  EXPECT_TRUE(dialog->rect().contains(Receipt()->geometry()));
  EXPECT_GE(dialog->findChild<QLabel*>("QrCode")->y(), Receipt()->geometry().bottom());
}

// A refusal says what the server said, not that the network failed; an
// upload whose answer was lost on the way asks what is online, and a page
// that got there is the success it was.
TEST_F(UploadDialogTest, TheServersAnswerOrItsSilenceIsToldAsItIs) {
  const std::string store = PageStoreRequest("", "", "").substr(0, 5);
  bool lose = false;
  services.answer = [&](const std::string& body) {
    if (body.starts_with(store) && !lose) return PostResult{"too many requests", false, 429};
    const PostResult real = PostFormChecked(EndpointAddress(), body, PostLimits{});
    return body.starts_with(store) ? PostResult{} : real;
  };
  Open();
  QTest::keyClicks(name, "busy1");
  Confirm();
  EXPECT_EQ(Status(), "操作太频繁，请稍后再试！");
  EXPECT_EQ(StatusColour(), QColor(Qt::red));
  ExpectNothingPublished();

  lose = true;
  Confirm();
  EXPECT_EQ(Status(), "上传成功！");
  EXPECT_EQ(address->toPlainText(), QString::fromStdString(PageAddress("busy1")));
  EXPECT_EQ(GGCT::Get().ZCYN, "busy1");
  EXPECT_EQ(testing::Fetch(PageAddress("busy1")), ToGbk(Page()));
}

// An earlier upload of this machine claimed the name and its store failed:
// the name is this machine's, though the server does not say whose a name
// is, and the page is stored. The identifier is zero-padded and holds a tab,
// as disk serial numbers do.
TEST_F(UploadDialogTest, AClaimOfThisMachineWhoseStoreFailedIsStoredUnderLater) {
  services.machine_id = std::string("WD-\t7\0\0\0\0", 9);
  ASSERT_TRUE(PostToEndpoint(NameClaimRequest(services.machine_id, "again1")).ok);
  Open();
  QTest::keyClicks(name, "again1");
  Confirm();
  EXPECT_EQ(Status(), "上传成功！");
  EXPECT_EQ(Sent(), (std::vector<std::string>{
                        NameLookupRequest("again1"), OwnershipLookupRequest(services.machine_id),
                        PageStoreRequest("again1", services.machine_id, Page())}));
  EXPECT_EQ(testing::Fetch(PageAddress("again1")), ToGbk(Page()));
  EXPECT_EQ(FetchOwnedName(services.machine_id), "again1");
}

TEST_F(UploadDialogTest, WithoutAMachineIdentifierNothingIsSent) {
  client.machine_id = []() -> std::string { throw std::runtime_error("no disk"); };
  Open();
  QTest::keyClicks(name, "noid1");
  Confirm();
  EXPECT_EQ(Status(), "无法读取本机标识,不能上传!");
  EXPECT_TRUE(Sent().empty());
  ExpectNothingPublished();
}

// A server that holds its answer: from the click to the outcome the status
// says the upload runs (not the last outcome) under a busy cursor, a second
// click starts nothing, and the outcome replaces the progress text.
TEST_F(UploadDialogTest, AHeldUploadShowsItsProgressUntilTheOutcome) {
  // The name is looked up and found free; everything after that is held.
  testing::LoopbackListener held([](const std::string& request) -> std::optional<std::string> {
    if (request.ends_with(NameLookupRequest("held1")))
      return testing::LoopbackListener::Response("200 OK", "");
    return std::nullopt;
  });
  client.post = [&](const std::string& body, const PostLimits&) {
    return PostFormChecked(held.Address(), body,
                           PostLimits{std::chrono::seconds(1), std::chrono::seconds(1)});
  };
  client.machine_id = [] { return std::string("dialog-machine-held"); };
  Open();
  Confirm();
  ASSERT_EQ(Status(), "文件名不能为空！");
  EXPECT_EQ(StatusColour(), QColor(Qt::red));
  QTest::keyClicks(name, "held1");
  std::vector<QString> during;
  bool busy = true;
  Click();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        if (!dialog->uploading()) return true;
        during.push_back(Status());
        busy = busy && dialog->cursor().shape() == Qt::BusyCursor;
        Click();
        return false;
      },
      20'000));
  ASSERT_FALSE(during.empty());
  EXPECT_EQ(during.front(), "正在上传…");
  EXPECT_EQ(std::count(during.begin(), during.end(), QStringLiteral("正在上传…")),
            static_cast<std::ptrdiff_t>(during.size()));
  EXPECT_TRUE(busy);
  const std::vector<std::string> requests = held.Requests();
  EXPECT_EQ(
      std::count_if(requests.begin(), requests.end(),
                    [](const std::string& request) {
                      return request.ends_with(NameClaimRequest("dialog-machine-held", "held1"));
                    }),
      1)
      << "the second click sent nothing";
  EXPECT_EQ(Status(), "上传失败,请检查网络后重试!");
  EXPECT_EQ(StatusColour(), QColor(Qt::red));
  EXPECT_NE(dialog->cursor().shape(), Qt::BusyCursor);
  EXPECT_GE(dialog->findChild<QLabel*>("ts")->font().pointSizeF(), 12);
}

TEST_F(UploadDialogTest, ADialogClosedDuringItsUploadStillRecordsTheOutcome) {
  Open();
  QTest::keyClicks(name, "closed1");
  QPointer<UploadDialog> watched = dialog;
  std::binary_semaphore closed(0);
  services.before = [&](const std::string& body) {
    if (body.starts_with(PageStoreRequest("", "", "").substr(0, 5))) closed.acquire();
  };
  Click();
  dialog->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(watched.isNull()) << "not deleted while its upload waits";
  closed.release();
  EXPECT_TRUE(QTest::qWaitFor([&] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return watched.isNull();
  }));
  EXPECT_EQ(GGCT::Get().ZCYN, "closed1");
  EXPECT_EQ(OpenUploadDialog(), nullptr);
}

// The address wraps over two lines at a readable size rather than shrinking
// into one, and the locked name box shows the whole name.
TEST_F(UploadDialogTest, TheWholeAddressShowsEvenForTheLongestName) {
  Open();
  const std::string longest = "woaini1314xiaohong520forever99";
  name->setText(QString::fromStdString(longest));
  Confirm();
  ASSERT_EQ(Status(), "上传成功！");
  EXPECT_EQ(address->toPlainText(), QString::fromStdString(PageAddress(longest)));
  QCoreApplication::processEvents();
  EXPECT_EQ(address->verticalScrollBar()->maximum(), 0) << "no line hidden below the box";
  EXPECT_GE(address->font().pointSizeF(), 9);
  EXPECT_EQ(address->document()->documentLayout()->documentSize().height(), 2) << "two lines";
  EXPECT_LT(address->geometry().bottom(),
            dialog->findChild<QPushButton*>("Command2")->geometry().top());
  EXPECT_LE(QFontMetrics(name->font()).horizontalAdvance(name->text()), name->width() - 4);

  // A short address keeps the designed box and size.
  Reopen();
  EXPECT_EQ(address->toPlainText(), QString::fromStdString(PageAddress(longest)));
  GGCT::Get().ZCYN = "ab";
  Reopen();
  EXPECT_EQ(address->font().pointSizeF(), 12);
  EXPECT_EQ(address->geometry(), QRect(200, 200, 281, 33));
}

// After a success the dialog grows to show the address's QR code, the
// designed controls staying where they were; the saved PNG reads back, with
// an independent reader, as the address.
TEST_F(UploadDialogTest, AnUploadShowsTheAddresssQrCodeWhichSavesAsPng) {
  Open();
  auto* save = dialog->findChild<QPushButton*>("SaveQrCode");
  auto* qr = dialog->findChild<QLabel*>("QrCode");
  ASSERT_NE(save, nullptr);
  EXPECT_FALSE(save->isVisibleTo(dialog));
  EXPECT_FALSE(qr->isVisibleTo(dialog));
  QTest::keyClicks(name, "qrcode1");
  Confirm();
  ASSERT_EQ(Status(), "上传成功！");
  EXPECT_TRUE(qr->isVisibleTo(dialog));
  EXPECT_EQ(save->text(), "保存二维码");
  EXPECT_EQ(name->geometry(), QRect(192, 64, 169, 18));
  const QRect copy = dialog->findChild<QPushButton*>("Command2")->geometry();
  EXPECT_EQ(copy, QRect(344, 248, 137, 33));
  EXPECT_EQ(dialog->width(), 7845 / 15);
  EXPECT_GE(qr->geometry().top(), copy.bottom());
  EXPECT_LE(qr->geometry().bottom(), dialog->height());
  EXPECT_TRUE(dialog->rect().contains(save->geometry()));
  // Crisp: only black and white.
  const QImage shown = qr->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
  for (int x = 0; x < shown.width(); ++x) {
    const QRgb pixel = shown.pixel(x, shown.height() / 2);
    EXPECT_TRUE(pixel == qRgb(0, 0, 0) || pixel == qRgb(255, 255, 255)) << x;
  }

  save->click();
  auto* chooser = dialog->findChild<QFileDialog*>("SaveQrCodeDialog");
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(chooser->acceptMode(), QFileDialog::AcceptSave);
  ASSERT_EQ(chooser->selectedFiles().size(), 1);
  EXPECT_EQ(QFileInfo(chooser->selectedFiles().front()).fileName(), "qrcode1.png");
  const QString file = QDir::temp().filePath(
      QStringLiteral("heartpage-qr-%1.png").arg(QCoreApplication::applicationPid()));
  chooser->selectFile(file);
  static_cast<QDialog*>(chooser)->accept();  // as the dialog's own button does
  EXPECT_EQ(Status(), "二维码已保存！");
  const testing::RunResult decoded =
      testing::RunProgram({"/usr/bin/zbarimg", "--quiet", "--raw", file.toStdString()});
  EXPECT_EQ(decoded.status, 0);
  EXPECT_EQ(decoded.out, PageAddress("qrcode1") + "\n");
  QFile::remove(file);
}

// On any screen, a small one at a large scale too, the dialog with its QR
// code stays within the available area; what does not fit scrolls, and every
// button can be brought into sight.
TEST_F(UploadDialogTest, WithItsQrCodeTheDialogStaysOnItsScreen) {
  Open();
  QTest::keyClicks(name, "onscreen1");
  Confirm();
  ASSERT_EQ(Status(), "上传成功！");
  const QRect available = dialog->screen()->availableGeometry();
  EXPECT_TRUE(available.contains(dialog->frameGeometry()));
  auto* scroll = dialog->findChild<QScrollArea*>("Scroll");
  ASSERT_NE(scroll, nullptr);
  QWidget* surface = scroll->widget();
  const bool fits = available.contains(QRect(available.topLeft(), surface->size()));
  EXPECT_EQ(dialog->size() == surface->size(), fits);
  QWidget* qr = dialog->findChild<QLabel*>("QrCode");
  EXPECT_TRUE(surface->rect().contains(qr->geometry()));
  for (const char* button : {"Command1", "Command2", "SaveQrCode", "SavePoster", "CopyPoster"}) {
    auto* widget = dialog->findChild<QPushButton*>(button);
    EXPECT_TRUE(surface->rect().contains(widget->geometry())) << button;
    scroll->ensureWidgetVisible(widget, 0, 0);
    EXPECT_TRUE(scroll->viewport()->rect().contains(
        QRect(widget->mapTo(scroll->viewport(), QPoint(0, 0)), widget->size())))
        << button;
  }
}

// The poster of the page just published: saved and copied alike, tall
// enough for a chat, its QR code read back by an independent reader as the
// address, and a line far longer than one row set whole.
TEST_F(UploadDialogTest, ThePosterCarriesTheAddressAndTheWholeLine) {
  const std::string line =
      "从第一次见到你的那天起，我就知道这辈子想和你一起看遍春夏秋冬，走过每一条小路，"
      "Every single morning I want to wake up next to you, 永远在一起❤";
  dialog = ShowUploadDialog(FixedPageSource(1, Page(), line), client);
  testing::Drain();
  name = dialog->findChild<QLineEdit*>("Text1");
  auto* save = dialog->findChild<QPushButton*>("SavePoster");
  auto* copy = dialog->findChild<QPushButton*>("CopyPoster");
  EXPECT_FALSE(save->isVisibleTo(dialog));
  QTest::keyClicks(name, "poster1");
  Confirm();
  ASSERT_EQ(Status(), "上传成功！");
  ASSERT_TRUE(save->isVisibleTo(dialog) && copy->isVisibleTo(dialog));
  EXPECT_EQ(save->text(), "保存海报");
  EXPECT_EQ(copy->text(), "复制海报");
  EXPECT_TRUE(dialog->rect().contains(copy->geometry()));

  save->click();
  auto* chooser = dialog->findChild<QFileDialog*>("SavePosterDialog");
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(QFileInfo(chooser->selectedFiles().front()).fileName(), "poster1-poster.png");
  const QString file = QDir::temp().filePath(
      QStringLiteral("heartpage-poster-%1.png").arg(QCoreApplication::applicationPid()));
  chooser->selectFile(file);
  static_cast<QDialog*>(chooser)->accept();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->making_poster(); }, 20'000));
  EXPECT_EQ(Status(), "海报已保存！");
  const QImage saved(file);
  EXPECT_EQ(saved.size(), QSize(1080, 1920));
  const testing::RunResult decoded =
      testing::RunProgram({"/usr/bin/zbarimg", "--quiet", "--raw", file.toStdString()});
  EXPECT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_EQ(decoded.out, PageAddress("poster1") + "\n");
  QFile::remove(file);

  copy->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->making_poster(); }, 20'000));
  EXPECT_EQ(Status(), "海报已复制，粘贴到聊天里发给TA吧！");
  EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
            saved.convertToFormat(QImage::Format_RGB32));

  // Every character of the line is set, in rows that fit the poster's room.
  const FittedLine fitted =
      FitPosterLine(QString::fromStdString(line), kPosterLineWidth, kPosterLineHeight);
  EXPECT_GT(fitted.lines.size(), 1);
  EXPECT_EQ(fitted.lines.join(QString()), QString::fromStdString(line));
  EXPECT_LE(fitted.lines.size() * fitted.line_height, kPosterLineHeight);
  const QFontMetrics metrics(fitted.font);
  for (const QString& row : fitted.lines)
    EXPECT_LE(metrics.horizontalAdvance(row.trimmed()), kPosterLineWidth) << row.toStdString();
}

// A page held back says beside its address what its reader meets: as it
// was sent after an upload, as its receipt tells when the dialog opens
// again. Its poster shows nothing the page keeps back: the style's artwork
// for the sender's photo, a line of its own for the page's, and when it
// opens; its QR code still reads as the address.
TEST_F(UploadDialogTest, APageHeldBackSaysWhatItsReaderMeetsAndItsPosterKeepsItBack) {
  const wire::PageSettings settings{"2030-02-14 12:00:00", "上海", "我们第一次见面的城市？"};
  wire::Receipt receipt;
  receipt.opens = settings.opens;
  receipt.has_code = true;
  receipt.hint = settings.hint;
  services.answer = [&](const std::string& body) {
    if (body == ReceiptsRequest("held1", services.machine_id))
      return PostResult{FromGbk(wire::FormatRecords(wire::ReceiptRecords(receipt))), true, 200};
    // The store with settings, which the server's own tests take further.
    if (body.find("&opens=") != std::string::npos) return PostResult{"", true, 200};
    return PostFormChecked(EndpointAddress(), body, PostLimits{});
  };
  dialog = ShowUploadDialog(FixedPageSource(1, Page(), "第一行", settings), client);
  testing::Drain();
  name = dialog->findChild<QLineEdit*>("Text1");
  QTest::keyClicks(name, "held1");
  Confirm();
  ASSERT_EQ(Status(), "上传成功！");
  QDateTime opens = QDateTime::fromString("2030-02-14 12:00:00", "yyyy-MM-dd HH:mm:ss");
  opens.setTimeZone(QTimeZone::utc());
  const QString told = "TA打开时：将于 " + opens.toLocalTime().toString("yyyy年M月d日 HH:mm") +
                       " 开启 · 需要口令才能打开";
  auto* gate = dialog->findChild<QLabel*>("PageGate");
  EXPECT_EQ(gate->text(), told);
  EXPECT_LE(gate->geometry().bottom(), Receipt()->geometry().top());
  EXPECT_LE(Receipt()->geometry().bottom(), dialog->findChild<QLabel*>("QrCode")->geometry().top());
  receipt.has_code = false;
  Reopen();
  Settle();
  EXPECT_EQ(dialog->findChild<QLabel*>("PageGate")->text(),
            "TA打开时：将于 " + opens.toLocalTime().toString("yyyy年M月d日 HH:mm") + " 开启");

  // The sender's own photo, which an open page's poster shows.
  QImage red(64, 48, QImage::Format_RGB32);
  red.fill(Qt::red);
  QByteArray png;
  QBuffer buffer(&png);
  red.save(&buffer, "PNG");
  const std::string photo =
      PublishingOrigin() + std::string(wire::kMediaPrefix) + std::string(64, 'a') + ".png";
  const std::string page = Page() + "<img src=\"" + photo + "\">";
  const PictureFetch fetch = [&](const std::string&) { return png.toStdString(); };
  const std::string held_address = PageAddress("held1");
  EXPECT_EQ(PosterContentOf(page, held_address, {}, fetch).picture_address, photo);
  for (const auto& [opens_utc, code] :
       {std::pair{settings.opens, false}, std::pair{std::string(), true}}) {
    const PosterContent content = PosterContentOf(page, held_address, {}, fetch, opens_utc, code);
    EXPECT_EQ(content.picture_address, "");
    EXPECT_TRUE(content.picture.isNull()) << "the heart, not artwork with sample names";
    EXPECT_EQ(content.line, QString::fromUtf8(kPosterHeldBackLine.data()));
    EXPECT_EQ(content.opening,
              code ? QString() : opens.toLocalTime().toString("yyyy年M月d日 HH:mm") + " 开启");
    const QString file = QDir::temp().filePath(
        QStringLiteral("heartpage-held-%1.png").arg(QCoreApplication::applicationPid()));
    ASSERT_TRUE(DrawPoster(content).save(file, "PNG"));
    const testing::RunResult decoded =
        testing::RunProgram({"/usr/bin/zbarimg", "--quiet", "--raw", file.toStdString()});
    EXPECT_EQ(decoded.out, held_address + "\n") << decoded.err;
    QFile::remove(file);
  }
}

TEST_F(UploadDialogTest, CopyNeedsAnUploadInThisOpening) {
  QGuiApplication::clipboard()->setText("untouched");
  Open();
  Copy();
  EXPECT_EQ(Status(), "需要上传成功后,您才能复制专属网址喔!请先去上传网页吧!");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "untouched");

  QTest::keyClicks(name, "copy1");
  Confirm();
  Copy();
  EXPECT_EQ(Status(), "网址已复制,去发给您的TA展示一下吧!");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(PageAddress("copy1")));
  EXPECT_TRUE(QGuiApplication::clipboard()->text().endsWith("/Test/copy1"));

  EXPECT_EQ(dialog->findChild<QLabel*>("Label1(3)")->text(), "您的专属页面网址为：");

  // Reopened, the owned name's address is there to copy at once, as the page
  // online now and since when, not as the outcome of an upload.
  QGuiApplication::clipboard()->setText("untouched");
  Reopen();
  EXPECT_EQ(name->text(), "copy1");
  EXPECT_FALSE(name->isEnabled());
  EXPECT_EQ(address->toPlainText(), QString::fromStdString(PageAddress("copy1")));
  EXPECT_EQ(dialog->findChild<QLabel*>("Label1(3)")->text(), "当前网页：");
  EXPECT_TRUE(Status().isEmpty());
  auto* stored_at = dialog->findChild<QLabel*>("StoredAt");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !stored_at->text().isEmpty(); }));
  EXPECT_TRUE(stored_at->text().startsWith("发布于 " +
                                           QDateTime::currentDateTime().toString("yyyy-MM-dd ")))
      << stored_at->text().toStdString();
  EXPECT_TRUE(dialog->findChild<QWidget*>("ReplacesPage")->isVisibleTo(dialog));
  Copy();
  EXPECT_EQ(Status(), "网址已复制,去发给您的TA展示一下吧!");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(PageAddress("copy1")));
}

// Tab leaves the name box for the buttons and Shift+Tab comes back; Enter
// in the name box uploads as "确认上传" does, and Enter (or the keypad's)
// presses the focused button.
TEST_F(UploadDialogTest, TabMovesOnAndEnterConfirmsOrPressesTheFocusedButton) {
  Open();
  auto* confirm = dialog->findChild<QPushButton*>("Command1");
  auto* copy = dialog->findChild<QPushButton*>("Command2");
  name->setFocus();
  QTest::keyClick(name, Qt::Key_Tab);
  EXPECT_EQ(dialog->focusWidget(), confirm);
  QTest::keyClick(confirm, Qt::Key_Tab);
  EXPECT_EQ(dialog->focusWidget(), copy);
  QTest::keyClick(copy, Qt::Key_Tab, Qt::ShiftModifier);
  QTest::keyClick(confirm, Qt::Key_Tab, Qt::ShiftModifier);
  EXPECT_EQ(dialog->focusWidget(), name);
  EXPECT_TRUE(name->text().isEmpty()) << "no tab typed into the name";

  QTest::keyClicks(name, "enter1");
  QTest::keyClick(name, Qt::Key_Return);
  auto* question = Asked();
  ASSERT_NE(question, nullptr);
  QTest::keyClick(question, Qt::Key_Return);
  Settle();
  EXPECT_EQ(Status(), "上传成功！");
  EXPECT_EQ(GGCT::Get().ZCYN, "enter1");
  QTest::keyClick(copy, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(Status(), "网址已复制,去发给您的TA展示一下吧!");
  const std::size_t sent = Sent().size();
  QTest::keyClick(confirm, Qt::Key_Return);
  Settle();
  EXPECT_EQ(Sent().size(), sent + 1) << "a store under the owned name";

  // A double click stores once, however quick the first store.
  const int interval = QApplication::doubleClickInterval();
  QApplication::setDoubleClickInterval(60'000);
  const QPoint middle = confirm->rect().center();
  for (const QEvent::Type type :
       {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
        QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
    QMouseEvent event(type, middle, confirm->mapToGlobal(middle), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(confirm, &event);
    Settle();
  }
  QApplication::setDoubleClickInterval(interval);
  EXPECT_EQ(Sent().size(), sent + 2);

  // Opened again only to look at her answer, with the page online what the
  // editor holds: Enter copies, nothing is stored again.
  const auto stores = [&] {
    std::size_t count = 0;
    for (const std::string& body : Sent()) count += body.find("&data=") != std::string::npos;
    return count;
  };
  const std::size_t stored = stores();
  EXPECT_GT(stored, 0u);
  Reopen();
  EXPECT_EQ(dialog->focusWidget(), dialog->findChild<QPushButton*>("Command2"));
  QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
  Settle();
  EXPECT_EQ(stores(), stored);
  EXPECT_EQ(Status(), "网址已复制,去发给您的TA展示一下吧!");
  name = dialog->findChild<QLineEdit*>("Text1");

  // Escape closes the dialog, from the name box too.
  QTest::keyClick(name, Qt::Key_Escape);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(OpenUploadDialog(), nullptr);
}

// Qt's own texts read Chinese, and the name box's menu pastes through the
// name rule's filter, as the keys do.
TEST_F(UploadDialogTest, StandardTextsAreChineseAndTheNameMenuPastesWhatTheRuleAllows) {
  ASSERT_TRUE(InstallQtChineseTranslations());
  QMessageBox box(QMessageBox::Information, "提示", "x", QMessageBox::Ok);
  EXPECT_EQ(box.button(QMessageBox::Ok)->text(), "确定");

  Open();
  QGuiApplication::clipboard()->setText(QStringLiteral("http://x/Test/Menu-1"));
  QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5),
                            name->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(name, &request);
  auto* menu = name->findChild<QMenu*>("Text1Menu");
  ASSERT_NE(menu, nullptr);
  QStringList texts;
  for (QAction* action : menu->actions()) {
    if (action->isSeparator()) continue;
    texts << action->text();
    EXPECT_EQ(action->menu(), nullptr);
  }
  EXPECT_TRUE(texts.join(' ').contains("粘贴")) << texts.join(' ').toStdString();
  EXPECT_FALSE(texts.join(' ').contains("Paste"));
  auto* paste = menu->findChild<QAction*>("edit-paste");
  ASSERT_NE(paste, nullptr);
  paste->trigger();
  EXPECT_EQ(name->text(), "httpxtestmenu1");
  menu->close();
}

}  // namespace
}  // namespace heartpage
