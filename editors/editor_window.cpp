#include "editors/editor_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QString>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "controls/chinese_font.h"
#include "controls/twips.h"
#include "controls/window_placement.h"
#include "editors/editor_internal.h"
#include "editors/gate_bar.h"
#include "editors/media_picker.h"
#include "editors/pickers.h"
#include "editors/question_bar.h"
#include "pages/layout.h"
#include "pages/question.h"
#include "pages/styles.h"
#include "publish/page_gate.h"
#include "publish/utc_time.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

QRect PxRect(const Rect& rect) {
  return heartpage::PxRect(rect.left, rect.top, rect.width, rect.height);
}

// The program's font, set in full: a frame with a caption font of its own
// must not pass that font on to what it holds.
QFont ApplicationFont() {
  QFont font = QApplication::font();
  font.setResolveMask(QFont::AllPropertiesResolved);
  return font;
}

QFont FontOf(Face face, double points) {
  if (face == Face::kHeiTi) return ChineseFont(ChineseFace::kHeiTi, points);
  if (face == Face::kSongTi) return ChineseFont(ChineseFace::kSongTi, points);
  QFont font = ApplicationFont();
  if (points > 0) font.setPointSizeF(points);
  return font;
}

void PaintText(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(role, color);
  widget->setPalette(palette);
}

// The frames' ground on FG5 and FG6: &H00FFC0C0& (blue, green, red).
const QColor kTint(0xC0, 0xC0, 0xFF);

// A multi-line box hands its line breaks out as CR LF, the way they were
// typed on the system the pages are made for.
std::string WithCrLf(const QString& text) {
  std::string out;
  const std::string utf8 = text.toStdString();
  out.reserve(utf8.size());
  for (const char c : utf8) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

QString WithoutCr(const std::string& text) {
  QString out = Q(text);
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return out;
}

// A month box shows the month as the calendar numbers it; its field's value
// is the month as the pages' scripts count it, from 0, which is what the
// builders and the drafts take, so that a draft kept before the boxes
// counted so builds the very page it built then. Anything but a whole
// number is the same text both ways.
QString ShiftedMonth(const QString& text, int by) {
  static const QRegularExpression number(QStringLiteral("^(\\s*)(-?[0-9]{1,9})(\\s*)$"));
  const QRegularExpressionMatch match = number.match(text);
  if (!match.hasMatch()) return text;
  return match.captured(1) + QString::number(match.captured(2).toLongLong() + by) +
         match.captured(3);
}

// What a window's frame (title bar and borders) may add to its client area.
const QSize kFrameAllowance(16, 48);

}  // namespace

EditorWindow::EditorWindow(int style, const ClientServices& services)
    : QWidget(nullptr), style_(style), services_(services), surface_(this) {
  const WindowLayout& layout = GetLayout(style);
  const Style& definition = GetStyle(style);
  setObjectName(Q(definition.window));
  setWindowTitle(Q(definition.caption));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  // The question's strip and the opening's stand under what each window was
  // designed to hold.
  const QSize designed(Px(layout.client_width), Px(layout.client_height + kUnderFieldsHeight));
  if (FitsAvailableArea(designed, kFrameAllowance)) {
    setFixedSize(designed);
  } else {
    // Larger than the screen: the designed window scrolls inside one that
    // fits, so that every field can be reached, and the commands stand in a
    // bar under it, in sight however far the fields are scrolled.
    surface_ = new QWidget;
    surface_->setObjectName(QStringLiteral("Surface"));
    QScrollArea* scroll = ScrollInside(this, surface_, designed);
    command_bar_ = new QWidget(this);
    command_bar_->setObjectName(QStringLiteral("CommandBar"));
    auto* row = new QHBoxLayout(command_bar_);
    row->addStretch();
    QWidget::layout()->addWidget(command_bar_);
    // The scroll brings a field reached by Tab into sight; its caption on
    // its left comes with it, or the sender sees a box without knowing
    // what it is for.
    connect(qApp, &QApplication::focusChanged, scroll, [this, scroll](QWidget*, QWidget* now) {
      if (now == nullptr || !surface_->isAncestorOf(now)) return;
      QTimer::singleShot(0, scroll, [this, scroll, focused = QPointer<QWidget>(now)] {
        if (!focused) return;
        QRect shown(focused->mapTo(surface_, QPoint(0, 0)), focused->size());
        for (const QLabel* label : surface_->findChildren<QLabel*>())
          if (label->buddy() == focused)
            shown |= QRect(label->mapTo(surface_, QPoint(0, 0)), label->size());
        constexpr int kMargin = 8;
        scroll->ensureVisible(shown.center().x(), shown.center().y(), shown.width() / 2 + kMargin,
                              shown.height() / 2 + kMargin);
      });
    });
  }
  if (!layout.icon) {
    // No icon of its own, and not the program's either.
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    setWindowIcon(QIcon(blank));
  }
  Build(layout);
  if (command_bar_ != nullptr) {
    static_cast<QHBoxLayout*>(command_bar_->layout())->addStretch();
    const int bar = QWidget::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QSize whole = designed + QSize(bar, bar + command_bar_->sizeHint().height());
    FitToAvailableArea(this, whole, kFrameAllowance);
  }
  FillDefaults();
  RestoreDraft();
  Watch();
  PlaceOnFirstShow(this);
  if (style == 7) NumberLabels();
}

namespace {

// The frames of a layout, in its order, and where each control stands.
class Frames {
 public:
  Frames(QWidget* surface, bool tinted) : surface_(surface), tinted_(tinted) {}
  void Add(QGroupBox* frame) { frames_.push_back(frame); }
  QGroupBox* at(int frame) const { return frames_[static_cast<std::size_t>(frame)]; }
  // Controls of a window covered by its frame stand on that frame.
  QWidget* ParentOf(int frame) const {
    if (frame >= 0) return at(frame);
    return tinted_ ? static_cast<QWidget*>(frames_.front()) : surface_;
  }
  QWidget* surface() const { return surface_; }

 private:
  QWidget* surface_;
  bool tinted_;
  std::vector<QGroupBox*> frames_;
};

// Labels are named by array, each array counting from 0 as it goes.
class LabelArrays {
 public:
  QLabel* Add(const std::string& array, const QString& text, QWidget* parent, const QFont& font) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(Q(array + "(" + std::to_string(next_[array]++) + ")"));
    label->setFont(font);
    label->adjustSize();
    return label;
  }

 private:
  std::map<std::string, int> next_;
};

Frames AddFrames(const WindowLayout& layout, QWidget* surface) {
  Frames frames(surface, layout.tinted);
  for (std::size_t i = 0; i < layout.frames.size(); ++i) {
    const FramePlacement& placed = layout.frames[i];
    QWidget* parent = placed.parent < 0 ? surface : frames.at(placed.parent);
    auto* frame = new QGroupBox(Q(placed.caption), parent);
    frame->setObjectName(QStringLiteral("Frame%1").arg(i + 1));
    QRect area = PxRect(placed.rect);
    // A frame covering the window covers the strips under the fields too.
    if (placed.parent < 0 && placed.rect.height == layout.client_height)
      area.setHeight(area.height() + Px(kUnderFieldsHeight));
    frame->setGeometry(area);
    if (layout.tinted) {
      frame->setAutoFillBackground(true);
      PaintText(frame, QPalette::Window, kTint);
      if (placed.parent < 0) {
        // The outer frame's caption; what it holds keeps the ordinary look.
        frame->setFont(ChineseFont(ChineseFace::kSongTi, 12));
        PaintText(frame, QPalette::WindowText, Qt::red);
      } else {
        frame->setFont(ApplicationFont());
        PaintText(frame, QPalette::WindowText, Qt::black);
      }
    }
    frames.Add(frame);
  }
  return frames;
}

// The field boxes with their captions; multi-line boxes report their keys
// to `filter`.
void AddBoxes(const WindowLayout& layout, const Style& definition, const Frames& frames,
              LabelArrays& labels, QObject* filter,
              std::map<std::string, QWidget*, std::less<>>& boxes) {
  const QFont label1_font = ChineseFont(ChineseFace::kHeiTi, layout.label1_points);
  for (const BoxPlacement& placed : layout.boxes) {
    const FieldRow& row = *FindField(
        definition, definition.rows.front().control + "(" + std::to_string(placed.index) + ")");
    QWidget* parent = frames.ParentOf(placed.frame);
    QRect geometry = PxRect(placed.rect);
    if (placed.rect.height == 0) geometry.setHeight(Px(kSingleLineHeight));
    QWidget* box = nullptr;
    if (placed.multiline) {
      auto* edit = new QPlainTextEdit(parent);
      // Tab and Shift+Tab move on like everywhere else; Ctrl+Tab types a tab.
      edit->setTabChangesFocus(true);
      edit->installEventFilter(filter);
      edit->setLineWrapMode(QPlainTextEdit::NoWrap);
      edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      box = edit;
    } else {
      auto* edit = new QLineEdit(parent);
      // Fields take pages of text; nothing typed or pasted is cut off.
      edit->setMaxLength(std::numeric_limits<int>::max());
      box = edit;
    }
    box->setObjectName(Q(row.Name()));
    box->setGeometry(geometry);
    box->setFont(FontOf(placed.face, placed.points));
    if (placed.red) PaintText(box, QPalette::Text, Qt::red);
    boxes[row.Name()] = box;

    if (placed.caption == CaptionKind::kNone || row.caption.empty()) continue;
    const bool first_array = placed.caption == CaptionKind::kLabel1;
    QLabel* label = labels.Add(first_array ? "Label1" : "Label2", Q(row.caption), parent,
                               first_array ? label1_font : ApplicationFont());
    label->setBuddy(box);
    if (placed.caption_above) {
      label->move(geometry.left(), geometry.top() - label->height() - 2);
    } else {
      const int top = placed.multiline ? geometry.top()
                                       : geometry.top() + (geometry.height() - label->height()) / 2;
      label->move(std::max(2, geometry.left() - label->width() - 4), top);
    }
  }
}

void AddTexts(const WindowLayout& layout, const Frames& frames, LabelArrays& labels) {
  for (const TextPlacement& placed : layout.texts) {
    QLabel* label = labels.Add(placed.array, Q(placed.text), frames.ParentOf(placed.frame),
                               FontOf(placed.face, placed.points));
    label->setWordWrap(placed.wrap);
    if (placed.centred) label->setAlignment(Qt::AlignCenter);
    if (placed.red) PaintText(label, QPalette::WindowText, Qt::red);
    QRect geometry = PxRect(placed.rect);
    if (placed.rect.width == 0) geometry.setWidth(label->width());
    if (placed.rect.height == 0) geometry.setHeight(label->height());
    label->setGeometry(geometry);
  }
}

// The choosers' buttons, each beside what it fills; answered by the index
// of that box.
std::map<int, QWidget*> AddPickers(const WindowLayout& layout, const Style& definition,
                                   const Frames& frames,
                                   const std::map<std::string, QWidget*, std::less<>>& boxes) {
  std::map<int, QWidget*> pickers;
  const auto box_of_kind = [&](FieldKind kind) {
    for (const FieldRow& row : definition.rows)
      if (row.kind == kind) return qobject_cast<QLineEdit*>(boxes.at(row.Name()));
    return static_cast<QLineEdit*>(nullptr);
  };
  for (const PickerPlacement& placed : layout.pickers) {
    QWidget* parent = frames.ParentOf(placed.frame);
    QToolButton* button = nullptr;
    if (placed.kind == PickerKind::kCalendar) {
      button = MakeCalendarButton(parent, box_of_kind(FieldKind::kYear),
                                  box_of_kind(FieldKind::kMonth0), box_of_kind(FieldKind::kDay));
    } else {
      const std::string name =
          definition.rows.front().control + "(" + std::to_string(placed.index) + ")";
      button = MakeColourButton(parent, qobject_cast<QLineEdit*>(boxes.at(name)), placed.index);
    }
    button->setGeometry(PxRect(placed.rect));
    pickers[placed.index] = button;
  }
  return pickers;
}

}  // namespace

void EditorWindow::Build(const WindowLayout& layout) {
  const Style& definition = GetStyle(style_);
  // The question belongs with the fields: where the commands stand in a row
  // under them it takes that row's place and the row moves down under it;
  // where they stand beside the fields it stands under the fields.
  WindowLayout commands = layout;
  commands.client_height += kUnderFieldsHeight;
  int question_top = layout.client_height;
  if (layout.command1.top == layout.command2.top) {
    question_top = layout.command1.top;
    commands.command1.top += kUnderFieldsHeight;
    commands.command2.top += kUnderFieldsHeight;
  }
  const Frames frames = AddFrames(layout, surface_);
  LabelArrays labels;
  AddBoxes(layout, definition, frames, labels, this, boxes_);
  AddTexts(layout, frames, labels);
  const std::map<int, QWidget*> pickers = AddPickers(layout, definition, frames, boxes_);
  QWidget* window = frames.ParentOf(-1);
  if (layout.check) {
    check_ = new QCheckBox(Q(layout.check->text), window);
    check_->setObjectName(QStringLiteral("Check1"));
    check_->setFont(ChineseFont(ChineseFace::kHeiTi, 10.5));
    check_->setGeometry(PxRect(layout.check->rect));
  }

  const auto [phone_rect, scan_rect] = PhoneButtons(commands);
  const int row_height = PxRect(commands.command1).height();
  // In reading order, which the bar keeps.
  const std::array<QPushButton*, 4> buttons = {
      AddCommand(window, "预览网页", "Command1", commands.command1, row_height,
                 &EditorWindow::Preview),
      AddCommand(window, "手机预览", "Command3", phone_rect, row_height,
                 &EditorWindow::PhonePreview),
      AddCommand(window, "扫码预览", "Command4", scan_rect, row_height, &EditorWindow::ScanPreview),
      AddCommand(window, "上传网页", "Command2", commands.command2, row_height,
                 &EditorWindow::UploadPage)};

  // Tab follows the layout: the boxes, the check box where it stands, the
  // question and the gate, then the buttons.
  std::vector<QWidget*> chain = FieldsInTabOrder(layout, pickers);
  AddQuestionAndGate(window, question_top, layout, chain);
  chain.insert(chain.end(), buttons.begin(), buttons.end());
  for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
  // Each after its box in the Tab order.
  AddMediaPickers(definition, boxes_, services_);
}

QPushButton* EditorWindow::AddCommand(QWidget* parent, const char* text, const char* name,
                                      const Rect& rect, int row_height,
                                      void (EditorWindow::*run)()) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(QString::fromUtf8(name));
  button->setFont(ApplicationFont());
  // Enter presses the focused button, as Space does.
  button->setAutoDefault(true);
  if (command_bar_ != nullptr) {
    // One row of one height, each as wide as designed or as its text.
    button->setFixedSize(std::max(PxRect(rect).width(), button->sizeHint().width()), row_height);
    command_bar_->layout()->addWidget(button);
  } else {
    button->setGeometry(PxRect(rect));
  }
  connect(button, &QPushButton::clicked, this, run);
  commands_.push_back(button);
  return button;
}

std::vector<QWidget*> EditorWindow::FieldsInTabOrder(const WindowLayout& layout,
                                                     const std::map<int, QWidget*>& pickers) const {
  std::vector<int> order = layout.tab_order;
  if (order.empty()) {
    for (const BoxPlacement& placed : layout.boxes) order.push_back(placed.index);
  }
  const std::string array = GetStyle(style_).rows.front().control;
  std::vector<QWidget*> chain;
  for (const int index : order) {
    const BoxPlacement& placed =
        *std::find_if(layout.boxes.begin(), layout.boxes.end(),
                      [index](const BoxPlacement& box) { return box.index == index; });
    if (check_ != nullptr && placed.frame < 0 && placed.rect.top > layout.check->rect.top &&
        std::find(chain.begin(), chain.end(), check_) == chain.end())
      chain.push_back(check_);
    chain.push_back(boxes_.at(array + "(" + std::to_string(index) + ")"));
    if (const auto picker = pickers.find(index); picker != pickers.end())
      chain.push_back(picker->second);
  }
  if (check_ != nullptr && std::find(chain.begin(), chain.end(), check_) == chain.end())
    chain.push_back(check_);
  return chain;
}

void EditorWindow::AddQuestionAndGate(QWidget* parent, int top, const WindowLayout& layout,
                                      std::vector<QWidget*>& chain) {
  const std::array<QLineEdit*, 3> question =
      AddQuestionBar(parent, Px(top), Px(layout.client_width));
  const GateBar gate = AddGateBar(parent, Px(top + kQuestionBarHeight), Px(layout.client_width));
  if (layout.tinted) {
    // On the outer frame, whose caption's font and colour are its own.
    for (QWidget* strip : {question.front()->parentWidget(), gate.code->parentWidget()}) {
      strip->setFont(ApplicationFont());
      PaintText(strip, QPalette::WindowText, Qt::black);
    }
  }
  for (QLineEdit* box : question) {
    boxes_[box->objectName().toStdString()] = box;
    chain.push_back(box);
  }
  opens_set_ = gate.opens_set;
  opens_ = gate.opens;
  chain.push_back(opens_set_);
  chain.push_back(opens_);
  for (QLineEdit* box : {gate.code, gate.hint}) {
    boxes_[box->objectName().toStdString()] = box;
    chain.push_back(box);
  }
}

bool EditorWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick &&
      std::find(commands_.begin(), commands_.end(), watched) != commands_.end())
    return true;
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    auto* edit = qobject_cast<QPlainTextEdit*>(watched);
    if (edit != nullptr && key->key() == Qt::Key_Tab && key->modifiers() == Qt::ControlModifier) {
      edit->insertPlainText(QStringLiteral("\t"));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void EditorWindow::FillDefaults() {
  filling_ = true;
  for (const FieldRow& row : GetStyle(style_).rows) {
    QWidget* box = boxes_.at(row.Name());
    if (auto* edit = qobject_cast<QLineEdit*>(box)) {
      edit->setText(Shown(row.Name(), row.DefaultValue()));
      edit->setCursorPosition(0);
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(box)) {
      text->setPlainText(WithoutCr(row.DefaultValue()));
    }
  }
  for (const auto& [field, value] : question::kDefaults)
    qobject_cast<QLineEdit*>(boxes_.find(field)->second)->setText(Q(std::string(value)));
  // A page opens at once to anyone unless the sender says otherwise.
  ShowOpens({});
  for (const std::string_view field : {gate::kCodeField, gate::kHintField})
    qobject_cast<QLineEdit*>(boxes_.find(field)->second)->clear();
  if (check_ != nullptr) check_->setChecked(false);
  filling_ = false;
}

void EditorWindow::NumberLabels() {
  for (int i = 0; i <= 54; ++i) {
    if (auto* label = findChild<QLabel*>(QStringLiteral("Label1(%1)").arg(i)))
      label->setText(QStringLiteral("第%1张图").arg(i + 1));
  }
}

std::string EditorWindow::Value(std::string_view field) const {
  if (field == gate::kOpensField) {
    if (!opens_set_->isChecked()) return {};
    return opens_->dateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString();
  }
  const auto it = boxes_.find(field);
  if (it == boxes_.end()) return {};
  if (const auto* edit = qobject_cast<const QLineEdit*>(it->second)) {
    if (edit->text().trimmed().isEmpty()) {
      // A page offers two answers always: one left empty keeps its default.
      for (const auto& [name, value] : question::kDefaults)
        if (name == field) return std::string(value);
    }
    if (IsMonth(field)) return ShiftedMonth(edit->text(), -1).toStdString();
    return edit->text().toStdString();
  }
  return WithCrLf(static_cast<const QPlainTextEdit*>(it->second)->toPlainText());
}

void EditorWindow::ShowOpens(const std::string& local) {
  const QDateTime moment = TimeOfLocalMinute(local);
  opens_set_->setChecked(moment.isValid());
  if (moment.isValid()) opens_->setDateTime(moment);
}

bool EditorWindow::IsMonth(std::string_view field) const {
  const FieldRow* row = FindField(GetStyle(style_), field);
  return row != nullptr && row->kind == FieldKind::kMonth0;
}

QString EditorWindow::Shown(std::string_view field, const std::string& value) const {
  return IsMonth(field) ? ShiftedMonth(Q(value), 1) : Q(value);
}

bool EditorWindow::Checked() const {
  return check_ != nullptr && check_->isChecked();
}

// Goes at once, a check still waiting included: its answer is for this
// window only and goes with it.
void EditorWindow::closeEvent(QCloseEvent* event) {
  // Nothing to ask: what was typed stays as the draft.
  SaveDraftNow();
  event->accept();
  internal::ForgetEditor(this);
  deleteLater();
}

}  // namespace heartpage
