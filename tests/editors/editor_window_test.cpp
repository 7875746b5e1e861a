#include "editors/editor_window.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <QAction>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QColorDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "editors/draft_store.h"
#include "editors/editors.h"
#include "editors/gate_bar.h"
#include "pages/builders.h"
#include "pages/holder.h"
#include "pages/layout.h"
#include "pages/styles.h"
#include "publish/page_gate.h"
#include "tests/support/address_server.h"
#include "tests/support/gui_support.h"
#include "tests/support/server_process.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

using testing::App;
using testing::CloseAllWindows;

class EditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client.draft_directory = drafts.path().string();
    findings.answer = "仍然继续";
  }
  void TearDown() override { CloseAllWindows(); }

  QApplication& app = App();
  // The editors' services: quiet, unless a test says otherwise before it
  // shows an editor.
  ClientServices client = testing::QuietServices();
  // Each test starts without drafts.
  testing::TempDir drafts;
  // Most defaults hold sample text, which the checks list before every
  // preview and upload.
  testing::FindingsAnswerer findings;
};

// The field boxes of an editor: line and multi-line boxes named like "Text1(3)".
std::vector<QWidget*> FieldBoxes(QWidget* editor) {
  std::vector<QWidget*> boxes;
  for (QWidget* child : editor->findChildren<QWidget*>()) {
    if ((qobject_cast<QLineEdit*>(child) || qobject_cast<QPlainTextEdit*>(child)) &&
        child->objectName().contains('('))
      boxes.push_back(child);
  }
  return boxes;
}

// The buttons beside date parts and colour boxes.
std::vector<QWidget*> Pickers(QWidget* editor) {
  std::vector<QWidget*> found;
  for (QToolButton* button : editor->findChildren<QToolButton*>())
    if (button->objectName().contains("Picker")) found.push_back(button);
  return found;
}

QRect InWindow(QWidget* widget, QWidget* window) {
  return {widget->mapTo(window, QPoint(0, 0)), widget->size()};
}

std::string Build(int style, const FieldSource& fields) {
  return BuildPage(style, fields);
}

TEST_F(EditorTest, EachEditorIsBuiltFromItsStyleTable) {
  for (int number = 1; number <= kStyleCount; ++number) {
    SCOPED_TRACE(number);
    const Style& style = GetStyle(number);
    const WindowLayout& layout = GetLayout(number);
    EditorWindow* editor = ShowEditor(number, client);
    EXPECT_EQ(editor->objectName(), Q(style.window));
    EXPECT_EQ(editor->windowTitle(), Q(style.caption));
    // The designed client area with the two strips under it: the
    // window's own, or inside a scroll area where the screen is too small.
    const QSize designed(layout.client_width / 15,
                         (layout.client_height + kUnderFieldsHeight) / 15);
    QWidget* surface = editor->findChild<QWidget*>("Surface");
    QWidget* bar = editor->findChild<QWidget*>("CommandBar");
    EXPECT_EQ(surface != nullptr, bar != nullptr) << "the commands stay in sight of a scroll";
    if (surface == nullptr) surface = editor;
    EXPECT_EQ(surface->size(), designed);
    EXPECT_EQ(editor->parentWidget(), nullptr);
    EXPECT_FALSE(editor->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(editor->windowFlags() & Qt::WindowMaximizeButtonHint);
    if (surface == editor) {
      EXPECT_EQ(editor->minimumSize(), editor->maximumSize()) << "fixed border";
    }

    const std::vector<QWidget*> boxes = FieldBoxes(editor);
    EXPECT_EQ(boxes.size(), style.rows.size());
    // The one multi-line box: the letter of style 2, the HTML of style 5.
    const QList<QPlainTextEdit*> multi_line = editor->findChildren<QPlainTextEdit*>();
    ASSERT_EQ(multi_line.size(), number == 2 || number == 5 ? 1 : 0);
    if (!multi_line.isEmpty()) {
      EXPECT_EQ(multi_line.front()->objectName(), number == 2 ? "Text1(2)" : "Text11(17)");
    }
    for (const FieldRow& row : style.rows) {
      EXPECT_NE(editor->findChild<QWidget*>(Q(row.Name())), nullptr) << row.Name();
      EXPECT_EQ(editor->Value(row.Name()), row.DefaultValue()) << row.Name();
      // A colour box shows a whole colour.
      if (const auto* colour = editor->findChild<QLineEdit*>(Q(row.Name()));
          row.kind == FieldKind::kColour) {
        EXPECT_LE(QFontMetrics(colour->font()).horizontalAdvance("#FFCC00"), colour->width() - 10)
            << row.Name();
      }
    }
    EXPECT_EQ(Build(number, *editor), Build(number, FieldMap::Defaults(style)));

    auto* preview = editor->findChild<QPushButton*>("Command1");
    auto* upload = editor->findChild<QPushButton*>("Command2");
    ASSERT_TRUE(preview && upload);
    EXPECT_EQ(preview->text(), "预览网页");
    EXPECT_EQ(upload->text(), "上传网页");
    // The question stands with the fields: under every one of them, and
    // where the commands stand in a row under the fields, between the two.
    const bool in_row = layout.command1.top == layout.command2.top;
    const QRect question = InWindow(editor->findChild<QWidget*>("QuestionBar"), surface);
    for (QWidget* box : FieldBoxes(editor))
      EXPECT_LE(InWindow(box, surface).bottom(), question.top()) << box->objectName().toStdString();
    if (bar == nullptr) {
      const int below = in_row ? kUnderFieldsHeight : 0;
      EXPECT_EQ(InWindow(preview, surface).topLeft(),
                QPoint(layout.command1.left / 15, (layout.command1.top + below) / 15));
      EXPECT_EQ(InWindow(upload, surface).topLeft(),
                QPoint(layout.command2.left / 15, (layout.command2.top + below) / 15));
      if (in_row) {
        EXPECT_LE(question.bottom(), InWindow(preview, surface).top());
      }
    }

    auto* check = editor->findChild<QCheckBox*>("Check1");
    EXPECT_EQ(check != nullptr, style.has_check);
    if (check != nullptr) {
      EXPECT_FALSE(check->isChecked());
      EXPECT_EQ(check->text(), "启用图片漂浮" + QString(number == 2 ? 70 : 80, '-'));
    }

    // Every box and button is whole inside the window and clear of the
    // others; side-by-side boxes may share their one-pixel border.
    // "手机预览" and "扫码预览" stand beside "预览网页", their texts whole.
    auto* phone = editor->findChild<QPushButton*>("Command3");
    auto* scan = editor->findChild<QPushButton*>("Command4");
    ASSERT_TRUE(phone && scan);
    EXPECT_EQ(phone->text(), "手机预览");
    EXPECT_EQ(scan->text(), "扫码预览");
    for (QPushButton* button : {phone, scan})
      EXPECT_GE(button->width(), QFontMetrics(button->font()).horizontalAdvance(button->text()) + 4)
          << button->objectName().toStdString();

    // The choosers' buttons are clear of the labels too, and inside their frame.
    std::vector<QWidget*> placed = boxes;
    if (bar == nullptr) {
      placed.push_back(preview);
      placed.push_back(upload);
      placed.push_back(phone);
      placed.push_back(scan);
    }
    // "选择文件…" beside each picture, music and video box.
    for (const FieldRow& row : style.rows) {
      if (row.kind != FieldKind::kPicture && row.kind != FieldKind::kMusic &&
          row.kind != FieldKind::kVideo)
        continue;
      auto* pick = editor->findChild<QPushButton*>(Q("Pick" + row.Name()));
      ASSERT_NE(pick, nullptr) << row.Name();
      EXPECT_EQ(pick->text(), "选择文件…");
      placed.push_back(pick);
    }
    const std::vector<QWidget*> pickers = Pickers(editor);
    EXPECT_EQ(pickers.size(), layout.pickers.size());
    placed.insert(placed.end(), pickers.begin(), pickers.end());
    for (std::size_t i = 0; i < placed.size(); ++i) {
      const QRect a = InWindow(placed[i], surface);
      EXPECT_TRUE(surface->rect().contains(a)) << placed[i]->objectName().toStdString();
      for (std::size_t j = i + 1; j < placed.size(); ++j) {
        EXPECT_FALSE(a.adjusted(1, 1, -1, -1).intersects(InWindow(placed[j], surface)))
            << placed[i]->objectName().toStdString() << " / "
            << placed[j]->objectName().toStdString();
      }
    }
    for (QWidget* picker : pickers) {
      EXPECT_TRUE(picker->parentWidget()->rect().contains(picker->geometry()));
      for (QLabel* label : editor->findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        EXPECT_FALSE(InWindow(picker, surface).intersects(InWindow(label, surface)))
            << picker->objectName().toStdString() << " / " << label->text().toStdString();
      }
    }
  }
}

// Tab visits every field, the check box where it stands, then the two
// buttons, and comes round again; Shift+Tab goes back.
TEST_F(EditorTest, TabReachesEveryFieldInLayoutOrder) {
  for (int number = 1; number <= kStyleCount; ++number) {
    SCOPED_TRACE(number);
    EditorWindow* editor = ShowEditor(number, client);
    auto* last = editor->findChild<QWidget*>("Command2");
    last->setFocus();
    std::vector<QString> visited;
    do {
      QTest::keyClick(editor->focusWidget(), Qt::Key_Tab);
      visited.push_back(editor->focusWidget()->objectName());
    } while (editor->focusWidget() != last && visited.size() < 200);
    const Style& style = GetStyle(number);
    // "选择文件…" comes right after its box; the rest is the layout's order.
    std::vector<QString> file_pickers;
    for (std::size_t i = 1; i < visited.size(); ++i) {
      if (!visited[i].startsWith("Pick")) continue;
      EXPECT_EQ(visited[i], "Pick" + visited[i - 1]);
      file_pickers.push_back(visited[i]);
    }
    std::erase_if(visited, [](const QString& name) { return name.startsWith("Pick"); });
    EXPECT_EQ(file_pickers.size(),
              static_cast<std::size_t>(
                  std::count_if(style.rows.begin(), style.rows.end(), [](const FieldRow& row) {
                    return row.kind == FieldKind::kPicture || row.kind == FieldKind::kMusic ||
                           row.kind == FieldKind::kVideo;
                  })));
    const std::size_t pickers = GetLayout(number).pickers.size();
    // The question and its two answers, then how the page opens (the moment
    // only once ticked), come just before the commands.
    ASSERT_EQ(visited.size(), style.rows.size() + pickers + 6 + (style.has_check ? 5 : 4));
    EXPECT_EQ(std::vector<QString>(visited.end() - 10, visited.end() - 4),
              (std::vector<QString>{"Question", "Answer1", "Answer2", "OpensSet", "Code", "Hint"}));
    for (const FieldRow& row : style.rows)
      EXPECT_NE(std::find(visited.begin(), visited.end(), Q(row.Name())), visited.end())
          << row.Name();
    EXPECT_EQ(std::vector<QString>(visited.end() - 4, visited.end()),
              (std::vector<QString>{"Command1", "Command3", "Command4", "Command2"}));
    // Each chooser's button follows what it fills.
    for (const PickerPlacement& picker : GetLayout(number).pickers) {
      const std::string box = style.rows.front().control + "(" + std::to_string(picker.index) + ")";
      const auto at = std::find(visited.begin(), visited.end(), Q(box));
      ASSERT_NE(at, visited.end());
      EXPECT_TRUE((at + 1)->contains("Picker")) << box;
    }
    QTest::keyClick(last, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(editor->focusWidget()->objectName(), "Command4");
    if (style.has_check) {
      // The check box stands between the boxes above it and the two below.
      const auto check = std::find(visited.begin(), visited.end(), "Check1");
      EXPECT_EQ(*(check - 1), number == 2 ? "Text1(8)" : "DatePicker");
      EXPECT_EQ(*(check + 1), number == 2 ? "Text1(6)" : "Text1(20)");
    }
  }
}

// In the multi-line boxes Tab moves on too; Ctrl+Tab types a tab there.
// Enter, or the keypad's, presses the focused button.
TEST_F(EditorTest, TabLeavesMultiLineBoxesAndEnterPressesButtons) {
  EditorWindow* two = ShowEditor(2, client);
  auto* letter = two->findChild<QPlainTextEdit*>("Text1(2)");
  const QString before = letter->toPlainText();
  letter->setFocus();
  QTest::keyClick(letter, Qt::Key_Tab);
  EXPECT_EQ(two->focusWidget()->objectName(), "Text1(3)");
  EXPECT_EQ(letter->toPlainText(), before);
  letter->setFocus();
  QTest::keyClick(letter, Qt::Key_Tab, Qt::ShiftModifier);
  EXPECT_EQ(two->focusWidget()->objectName(), "Text1(1)");
  auto* html = ShowEditor(5, client)->findChild<QPlainTextEdit*>("Text11(17)");
  html->clear();
  html->setFocus();
  QTest::keyClick(html, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(html->toPlainText(), "\t");

  testing::TempDir directory;
  int previews = 0;
  testing::UsePreview(client,
                      {[&](const std::string&) { return ++previews > 0; },
                       [](std::chrono::milliseconds, const std::function<void()>& then) { then(); },
                       [&] { return directory.path(); }});
  EditorWindow* four = ShowEditor(4, client);
  auto* preview = four->findChild<QPushButton*>("Command1");
  QTest::keyClick(preview, Qt::Key_Return);
  EXPECT_TRUE(testing::Settle());
  EXPECT_EQ(previews, 1);
  QTest::keyClick(preview, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_TRUE(testing::Settle());
  EXPECT_EQ(previews, 2);
  // A double click previews once, also when its second press comes after
  // the first one's check has answered.
  QTest::mouseClick(preview, Qt::LeftButton);
  EXPECT_TRUE(testing::Settle());
  QTest::mouseDClick(preview, Qt::LeftButton);
  QTest::mouseRelease(preview, Qt::LeftButton);
  EXPECT_TRUE(testing::Settle());
  EXPECT_EQ(previews, 3);
  QTest::keyClick(four->findChild<QPushButton*>("Command2"), Qt::Key_Return);
  EXPECT_TRUE(testing::Settle());
  EXPECT_NE(OpenUploadDialog(), nullptr);
}

// On a screen narrower than an editor (the offscreen screen is 800 by 600,
// as 1600 by 1200 is at twice the scale) the window is made to fit the
// screen's available area and scrolls to every field, its commands in sight
// under the fields without any scrolling; an editor that fits keeps its
// fixed size. Both are centred.
TEST_F(EditorTest, EditorsLargerThanTheScreenScrollWithinIt) {
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  ASSERT_LT(available.width(), 15525 / 15) << "style 7 needs a small screen here";
  for (int number : {7, 2}) {
    SCOPED_TRACE(number);
    EditorWindow* editor = ShowEditor(number, client);
    const bool fits = number == 2;
    EXPECT_TRUE(available.contains(editor->frameGeometry()));
    EXPECT_LE((editor->frameGeometry().center() - available.center()).manhattanLength(), 2);
    auto* scroll = editor->findChild<QScrollArea*>("Scroll");
    ASSERT_EQ(scroll != nullptr, !fits);
    if (fits) continue;
    for (const char* name : {"Command1", "Command3", "Command4", "Command2"}) {
      QWidget* command = editor->findChild<QWidget*>(name);
      EXPECT_FALSE(scroll->isAncestorOf(command)) << name;
      EXPECT_TRUE(editor->rect().contains(InWindow(command, editor))) << name;
    }
    // Tab to the question brings its caption into sight with it.
    editor->findChild<QWidget*>("Text1(78)")->setFocus();
    QTest::keyClick(editor->focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(editor->focusWidget()->objectName(), "Question");
    QLabel* caption = nullptr;
    for (QLabel* label : editor->findChild<QWidget*>("QuestionBar")->findChildren<QLabel*>())
      if (label->buddy() == editor->focusWidget()) caption = label;
    ASSERT_NE(caption, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] {
      return scroll->viewport()->rect().contains(
          QRect(caption->mapTo(scroll->viewport(), QPoint(0, 0)), caption->size()));
    }));
    QWidget* upload = editor->findChild<QWidget*>("Command2");
    // Tab to a field out of sight scrolls it into view.
    QWidget* first = editor->findChild<QWidget*>("Text1(0)");
    upload->setFocus();
    QTest::keyClick(upload, Qt::Key_Tab);
    EXPECT_EQ(editor->focusWidget(), first);
    EXPECT_TRUE(scroll->viewport()->rect().contains(
        QRect(first->mapTo(scroll->viewport(), QPoint(0, 0)), first->size())));
  }
}

TEST_F(EditorTest, SevenNumbersItsPictureCaptionsWhenItLoads) {
  EditorWindow* editor = ShowEditor(7, client);
  for (int i = 0; i <= 54; ++i) {
    auto* label = editor->findChild<QLabel*>(QStringLiteral("Label1(%1)").arg(i));
    ASSERT_NE(label, nullptr) << i;
    EXPECT_EQ(label->text(), QStringLiteral("第%1张图").arg(i + 1));
  }
  EXPECT_EQ(editor->findChild<QLabel*>("Label1(55)")->text(), "标题");
  EXPECT_EQ(editor->findChild<QLabel*>("Label1(56)"), nullptr);
}

// A second open shows the same window. What was typed (the check box and a
// multi-line box too) is the style's draft: saved, readable by its owner
// only, a moment after the typing and at once on closing, and back when the
// editor opens again. "恢复默认" asks first, then brings the defaults back
// for good. A draft that cannot be read is set aside, and the editor opens.
TEST_F(EditorTest, EditsStayAsTheStylesDraftUntilTheDefaultsAreRestored) {
  EditorWindow* first = ShowEditor(2, client);
  EXPECT_EQ(ShowEditor(2, client), first);
  const std::filesystem::path file = DraftFile(Q(drafts.path().string()), 2).toStdString();
  auto* title = first->findChild<QLineEdit*>("Text1(0)");
  title->end(false);
  QTest::keyClicks(title, " title");
  first->findChild<QCheckBox*>("Check1")->setChecked(true);
  first->findChild<QPlainTextEdit*>("Text1(2)")->setPlainText("第一行\n第二行");
  first->findChild<QLineEdit*>("Question")->insert("做我女朋友好吗？");
  first->findChild<QLineEdit*>("Answer1")->setText("好呀");
  ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(file); }, 5000));
  EXPECT_EQ(std::filesystem::status(file).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  QTest::keyClicks(title, "!");
  first->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(OpenEditor(2), nullptr);
  EditorWindow* again = ShowEditor(2, client);
  EXPECT_EQ(again->Value("Text1(0)"), "风格2 title!");
  EXPECT_EQ(again->Value("Text1(2)"), "第一行\r\n第二行");
  EXPECT_TRUE(again->Checked());
  EXPECT_EQ(again->Value("Text1(3)"), GetStyle(2).rows[6].DefaultValue());
  EXPECT_EQ(again->Value("Question"), "做我女朋友好吗？");
  EXPECT_EQ(again->Value("Answer1"), "好呀");
  // An answer emptied keeps offering its default.
  again->findChild<QLineEdit*>("Answer2")->clear();
  EXPECT_EQ(again->Value("Answer2"), "让我想想");

  const auto restore = [&](const char* answer) {
    QTimer::singleShot(0, again, [answer] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_TRUE(box && box->objectName() == "RestoreQuestion");
      for (QAbstractButton* button : box->buttons())
        if (button->text() == answer) button->click();
    });
    again->findChild<QAction*>("RestoreDefaults")->trigger();
  };
  restore("取消");
  EXPECT_EQ(again->Value("Text1(0)"), "风格2 title!");
  restore("恢复默认");
  EXPECT_EQ(Build(2, *again), Build(2, FieldMap::Defaults(GetStyle(2))));
  EXPECT_EQ(again->Value("Question"), "");
  EXPECT_FALSE(std::filesystem::exists(file));
  again->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(ShowEditor(2, client)->Value("Text1(0)"), "风格2");

  const std::filesystem::path broken = DraftFile(Q(drafts.path().string()), 3).toStdString();
  std::ofstream(broken) << "{\"format\": 1, \"style\": 3, \"fields\": {\"Text1(0)\": ";
  EXPECT_EQ(ShowEditor(3, client)->Value("Text1(0)"), GetStyle(3).rows[2].DefaultValue());
  EXPECT_FALSE(std::filesystem::exists(broken));
  std::vector<std::string> set_aside;
  for (const auto& entry : std::filesystem::directory_iterator(drafts.path()))
    if (entry.path().filename().string().starts_with("style3.json.unreadable-"))
      set_aside.push_back(testing::ReadFile(entry.path()));
  ASSERT_EQ(set_aside.size(), 1u);
  EXPECT_TRUE(set_aside[0].ends_with("\"Text1(0)\": "));
}

// A crash loses nothing typed a moment before: a real process types into
// an editor, its draft reaches the disk, the process is killed with SIGKILL,
// and the next editor of that style opens with what it typed.
TEST_F(EditorTest, ADraftSurvivesACrash) {
  const std::string typed = "typed just before the crash";
  // Started as the other suites start programs: Qt's own way of starting a
  // process clones in a way ThreadSanitizer's runtime cannot follow.
  int log_fd = -1;
  const pid_t sender =
      testing::Spawn({HEARTPAGE_DRAFT_HELPER, drafts.path().string(), "5", "Text11(0)", typed},
                     {"QT_QPA_PLATFORM=offscreen"}, nullptr, &log_fd);
  const std::filesystem::path file = DraftFile(Q(drafts.path().string()), 5).toStdString();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return testing::ReadFile(file).find(typed) != std::string::npos; }, 20'000));
  ::kill(sender, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(sender, &status, 0), sender);
  ::close(log_fd);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EditorWindow* editor = ShowEditor(5, client);
  EXPECT_EQ(editor->Value("Text11(0)"), typed);
  EXPECT_EQ(editor->Value("Text11(1)"), GetStyle(5).rows[1].DefaultValue());
}

// Style 5's two boxes of the beloved's name hold two characters between
// them, as the page's text heart is drawn for: a third is refused, typed or
// inserted; a face counts as one.
TEST_F(EditorTest, TheTwoNameBoxesOfStyleFiveHoldTwoCharacters) {
  EditorWindow* five = ShowEditor(5, client);
  auto* first = five->findChild<QLineEdit*>("Text11(11)");
  auto* second = five->findChild<QLineEdit*>("Text11(12)");
  QTest::keyClicks(first, "a");
  EXPECT_EQ(first->text(), "思");
  second->clear();
  QTest::keyClicks(first, "a");
  first->insert(QStringLiteral("小"));
  EXPECT_EQ(first->text(), "a思");
  first->clear();
  first->insert(QStringLiteral("😀"));
  second->insert(QStringLiteral("❤️"));
  second->insert(QStringLiteral("a"));
  EXPECT_EQ(five->Value("Text11(11)") + five->Value("Text11(12)"), "😀❤️");
}

TEST_F(EditorTest, FieldsGiveTheirTextExactlyAsTyped) {
  EditorWindow* editor = ShowEditor(2, client);
  auto* line = editor->findChild<QLineEdit*>("Text1(3)");
  line->clear();
  QTest::keyClicks(line, "a \"quoted\" 'word'  ");
  line->insert(QStringLiteral("心❤😀"));
  EXPECT_EQ(editor->Value("Text1(3)"), "a \"quoted\" 'word'  心❤😀");

  auto* letter = editor->findChild<QPlainTextEdit*>("Text1(2)");
  letter->clear();
  QTest::keyClicks(letter, "first<br>");
  QTest::keyClick(letter, Qt::Key_Return);
  QTest::keyClicks(letter, "second");
  QTest::keyClick(letter, Qt::Key_Return);
  EXPECT_EQ(editor->Value("Text1(2)"), "first<br>\r\nsecond\r\n");

  // Nothing pasted is cut short.
  const std::string long_text(40000, 'x');
  line->setText(Q(long_text));
  EXPECT_EQ(editor->Value("Text1(3)"), long_text);
}

TEST_F(EditorTest, TheCheckBoxAddsTheFloatingPicture) {
  for (int number : {2, 3}) {
    SCOPED_TRACE(number);
    EditorWindow* editor = ShowEditor(number, client);
    FieldMap fields = FieldMap::Defaults(GetStyle(number));
    const std::string start(GGCT::Get().PF().substr(0, 40));
    editor->findChild<QCheckBox*>("Check1")->setChecked(true);
    fields.checked = true;
    const std::string ticked = Build(number, *editor);
    EXPECT_NE(ticked.find(start), std::string::npos);
    EXPECT_EQ(ticked, Build(number, fields));
    editor->findChild<QCheckBox*>("Check1")->setChecked(false);
    fields.checked = false;
    const std::string unticked = Build(number, *editor);
    EXPECT_EQ(unticked.find(start), std::string::npos);
    EXPECT_EQ(unticked, Build(number, fields));
  }
}

// A browser that starts cold reads the file late: it stays until the same
// editor previews again or the program ends, each editor's apart.
TEST_F(EditorTest, APreviewStaysUntilItsEditorPreviewsAgain) {
  testing::TempDir directory;
  std::vector<std::string> opened;
  std::string bytes_when_opened;
  bool waited = false;
  testing::UsePreview(
      client, {[&](const std::string& path) {
                 opened.push_back(path);
                 bytes_when_opened = testing::ReadFile(path);
                 return true;
               },
               [&](std::chrono::milliseconds, const std::function<void()>&) { waited = true; },
               [&] { return directory.path(); }});
  EditorWindow* editor = ShowEditor(4, client);
  editor->findChild<QLineEdit*>("Text8(0)")->setText("预览😀");
  FieldMap fields = FieldMap::Defaults(GetStyle(4));
  fields.values["Text8(0)"] = "预览😀";
  const std::string expected = Build(4, fields);
  GGCT::Get().FGN.clear();

  const std::filesystem::path own = directory.path() / "heartpage-preview" / "FG4";
  testing::Press(editor->findChild<QPushButton*>("Command1"));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(std::filesystem::path(opened[0]), own / "yl.htm");
  EXPECT_EQ(bytes_when_opened, PreviewBytes(expected));
  EXPECT_EQ(GGCT::Get().FGN, expected);
  EXPECT_EQ(testing::ReadFile(own / "yl.htm"), PreviewBytes(expected));
  EXPECT_EQ(std::filesystem::status(own).permissions(), std::filesystem::perms::owner_all);

  // "手机预览" puts the phone frame beside the same page; another editor's
  // preview leaves this one's alone.
  testing::Press(editor->findChild<QPushButton*>("Command3"));
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(std::filesystem::path(opened[1]), own / "yl-phone.htm");
  EXPECT_NE(bytes_when_opened.find("src=\"yl.htm\""), std::string::npos);
  testing::Press(ShowEditor(1, client)->findChild<QPushButton*>("Command1"));
  EXPECT_EQ(std::filesystem::path(opened[2]),
            directory.path() / "heartpage-preview" / "FG1" / "yl.htm");
  EXPECT_EQ(testing::ReadFile(own / "yl.htm"), PreviewBytes(expected));
  EXPECT_FALSE(waited);
  RemoveKeptPreviews(directory.path());
  EXPECT_FALSE(std::filesystem::exists(directory.path() / "heartpage-preview"));
}

TEST_F(EditorTest, APreviewThatCannotWriteSaysSoAndOpensNothing) {
  testing::TempDir directory;
  bool opened = false;
  testing::UsePreview(client, {[&](const std::string&) { return opened = true; },
                               {},
                               [&] { return directory.path() / "missing" / "deeper"; }});
  EditorWindow* editor = ShowEditor(1, client);
  testing::Press(editor->findChild<QPushButton*>("Command1"));
  EXPECT_FALSE(opened);
  auto* message = editor->findChild<QMessageBox*>("PreviewError");
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->windowTitle(), "提示");
  EXPECT_TRUE(message->text().contains("yl.htm"));
}

// Nothing waits for the preview's file: the window closes at once and its
// preview's file stays for the browser; a
// window closed while its check waits goes too, and the check's answer,
// arriving later, finds nothing to do.
TEST_F(EditorTest, AnEditorClosedDuringItsPreviewOrItsCheckGoesAtOnce) {
  testing::TempDir directory;
  testing::UsePreview(
      client, {[](const std::string&) { return true; }, {}, [&] { return directory.path(); }});
  const std::filesystem::path file = directory.path() / "heartpage-preview" / "FG6" / "yl.htm";
  QPointer<EditorWindow> editor = ShowEditor(6, client);
  editor->findChild<QLineEdit*>("Text7(12)")->setText("edited");
  testing::Press(editor->findChild<QPushButton*>("Command1"));
  EXPECT_TRUE(std::filesystem::exists(file));
  editor->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(editor.isNull());
  EXPECT_EQ(OpenEditor(6), nullptr);
  EXPECT_EQ(ShowEditor(6, client)->Value("Text7(12)"), "edited");
  EXPECT_TRUE(std::filesystem::exists(file));

  const testing::AddressServer server;
  editor = OpenEditor(6);
  for (const FieldRow& row : GetStyle(6).rows) {
    if (row.kind == FieldKind::kPicture)
      editor->findChild<QLineEdit*>(Q(row.Name()))->setText(Q(server.Url("/hang")));
  }
  editor->findChild<QPushButton*>("Command1")->click();
  editor->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(editor.isNull()) << "not kept for its check";
  // The check's answer arrives for a window that is gone.
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::processEvents();
  EXPECT_EQ(OpenEditor(6), nullptr);
}

// Both commands try the fields first; the window answers while they wait
// (a second click starts nothing). What looks wrong, sample text left in
// included, is listed in one box: "返回修改" stops, "仍然继续" goes on; a
// page whose fields are fine goes on without a box. A long list ends in how
// many more there are.
TEST_F(EditorTest, PreviewAndUploadAskFirstWhenAnAddressOrADateLooksWrong) {
  const testing::AddressServer server;
  testing::TempDir directory;
  int opened = 0;
  testing::UsePreview(client,
                      {[&](const std::string&) { return ++opened > 0; },
                       [](std::chrono::milliseconds, const std::function<void()>& then) { then(); },
                       [&] { return directory.path(); }});
  EditorWindow* editor = ShowEditor(2, client);
  const auto set = [&](const char* field, const std::string& text) {
    editor->findChild<QLineEdit*>(field)->setText(Q(text));
  };
  auto* preview = editor->findChild<QPushButton*>("Command1");
  auto* upload = editor->findChild<QPushButton*>("Command2");
  testing::FindingsAnswerer& box = findings;

  set("Text1(6)", server.Url("/hang"));       // the floating picture
  set("Text1(8)", server.Url("/page.html"));  // the music
  set("Text1(9)", "13");                      // the month
  bool answered_meanwhile = false;
  QTimer::singleShot(100, editor, [&] {
    answered_meanwhile = true;
    preview->click();
    upload->click();
  });
  box.answer = "返回修改";
  testing::Press(preview);
  EXPECT_TRUE(answered_meanwhile);
  ASSERT_EQ(box.texts.size(), 1u);
  EXPECT_EQ(box.texts[0],
            "请检查以下内容：\n漂浮图片地址：3 秒内没有回应\n"
            "背景音乐地址：不是音乐（text/html）\n网页标题：还是示例文字\n开头署名：还是示例文字\n"
            "心框内的话：还是示例文字\n"
            "相识时间：没有 13 月（月份填 1–12）\n"
            "结尾署名或一句话：还是示例文字");
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(OpenUploadDialog(), nullptr);

  set("Text1(6)", server.Url("/good.jpg"));
  box.answer = "仍然继续";
  testing::Press(preview);
  ASSERT_EQ(box.texts.size(), 2u);
  EXPECT_FALSE(box.texts[1].contains("漂浮图片地址"));
  EXPECT_EQ(opened, 1);

  // A code easy to guess is said as it is typed, and again before the upload.
  auto* easy = editor->findChild<QLabel*>("EasyCode");
  set("Code", "1314");
  set("Hint", "我们的数字");
  EXPECT_TRUE(easy->isVisibleTo(editor));
  box.answer = "返回修改";
  testing::Press(upload);
  ASSERT_EQ(box.texts.size(), 3u);
  EXPECT_TRUE(box.texts[2].contains(Q("开启口令：" + std::string(gate::kEasyCodeWarning))))
      << box.texts[2].toStdString();
  EXPECT_EQ(OpenUploadDialog(), nullptr);
  set("Code", "北海公园的长椅");
  EXPECT_FALSE(easy->isVisibleTo(editor));

  set("Text1(8)", server.Url("/song.mp3"));
  set("Text1(9)", "2");
  set("Text1(10)", "29");
  set("Text1(4)", "2024");
  set("Text1(1)", "//亲爱的小红：");
  set("Text1(3)", "小红我们已经相爱了");
  set("Text1(5)", "－－爱你的小明");
  set("Text1(0)", "给小红");
  testing::Press(preview);
  testing::Press(upload);
  EXPECT_EQ(box.texts.size(), 3u);
  EXPECT_EQ(opened, 2);
  EXPECT_NE(OpenUploadDialog(), nullptr);

  box.answer = "返回修改";
  testing::Press(ShowEditor(7, client)->findChild<QPushButton*>("Command1"));
  ASSERT_EQ(box.texts.size(), 4u);
  const QStringList lines = box.texts[3].split('\n');
  EXPECT_EQ(lines.size(), 16);
  EXPECT_TRUE(lines.back().startsWith("……另有 ")) << lines.back().toStdString();
}

// Styles 2 and 3 take the month as the calendar numbers it, typed or picked,
// and write the page's own (counted from 0); a draft kept when the box held
// the page's month opens showing the calendar's and builds the very page it
// built. The colour chooser opens on the box's colour and writes the one
// chosen in the box's form.
TEST_F(EditorTest, DatesAreTakenAsTheCalendarNumbersThemAndColoursInTheBoxsForm) {
  const QString folder = Q(drafts.path().string());
  for (const auto& [number, month_field, day_field] :
       {std::tuple{2, "Text1(9)", "Text1(10)"}, std::tuple{3, "Text1(18)", "Text1(19)"}}) {
    SCOPED_TRACE(number);
    // The month as the box held it before: 6 for July.
    FieldMap kept = FieldMap::Defaults(GetStyle(number));
    kept.values[month_field] = "6";
    kept.values[day_field] = "15";
    ASSERT_TRUE(SaveDraft(folder, number, {{{month_field, "6"}, {day_field, "15"}}, false, {}}));
    EditorWindow* editor = ShowEditor(number, client);
    auto* month = editor->findChild<QLineEdit*>(month_field);
    EXPECT_EQ(month->text(), "7");
    EXPECT_EQ(Build(number, *editor), Build(number, kept));

    month->clear();
    QTest::keyClicks(month, "12");
    EXPECT_EQ(editor->Value(month_field), "11") << "December, as the pages count it";
    month->setText("六月");
    EXPECT_EQ(editor->Value(month_field), "六月") << "anything else as typed";

    editor->findChild<QToolButton*>("DatePicker")->click();
    QPointer<QWidget> popup = editor->findChild<QWidget*>("CalendarPopup");
    ASSERT_TRUE(popup && popup->isVisible());
    auto* calendar = popup->findChild<QCalendarWidget*>("Calendar");
    EXPECT_EQ(calendar->selectedDate(), QDate::currentDate()) << "the boxes hold no date";
    emit calendar->clicked(QDate(2024, 2, 29));
    EXPECT_EQ(month->text(), "2");
    EXPECT_EQ(editor->Value(month_field), "1");
    EXPECT_EQ(editor->Value(day_field), "29");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(popup.isNull());
    editor->findChild<QToolButton*>("DatePicker")->click();
    popup = editor->findChild<QWidget*>("CalendarPopup");
    ASSERT_TRUE(popup);
    EXPECT_EQ(popup->findChild<QCalendarWidget*>("Calendar")->selectedDate(), QDate(2024, 2, 29));
    popup->close();
    editor->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(LoadDraft(folder, number)->fields.at(month_field), "1") << "kept as the page counts";
  }
  // The defaults show their months as the calendar numbers them.
  RemoveDraft(folder, 2);
  RemoveDraft(folder, 3);
  EXPECT_EQ(ShowEditor(2, client)->findChild<QLineEdit*>("Text1(9)")->text(), "6");
  EXPECT_EQ(ShowEditor(3, client)->findChild<QLineEdit*>("Text1(18)")->text(), "11");

  EditorWindow* four = ShowEditor(4, client);
  const auto choose = [&](const char* picker, const QColor& colour) {
    four->findChild<QToolButton*>(picker)->click();
    auto* chooser = four->findChild<QColorDialog*>("ColourChooser");
    EXPECT_NE(chooser, nullptr);
    if (chooser == nullptr) return QColor();
    const QColor opened_on = chooser->currentColor();
    chooser->setCurrentColor(colour);
    chooser->accept();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return opened_on;
  };
  EXPECT_EQ(choose("ColourPicker(43)", QColor(0x12, 0xAB, 0xCD)), QColor(0xB8, 0x5C, 0x00));
  EXPECT_EQ(four->Value("Text8(43)"), "#12ABCD");
  EXPECT_EQ(choose("ColourPicker(44)", QColor(0x33, 0x66, 0x99)), QColor(0xFF, 0xFF, 0xFF));
  EXPECT_EQ(four->Value("Text8(44)"), "#369") << "the short form where the box had it";
  choose("ColourPicker(44)", QColor(0x12, 0x34, 0x56));
  EXPECT_EQ(four->Value("Text8(44)"), "#123456");
  EXPECT_EQ(four->findChild<QColorDialog*>("ColourChooser"), nullptr);
}

}  // namespace
}  // namespace heartpage
