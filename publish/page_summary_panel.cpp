#include "publish/page_summary_panel.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPixmap>

#include "controls/chinese_font.h"
#include "publish/page_source.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

constexpr int kPictureWidth = 85;
constexpr int kPictureHeight = 44;
constexpr int kTextLeft = kPictureWidth + 8;
constexpr int kLineHeight = 15;

QLabel* Line(QWidget* parent, const char* name, int top, const QFont& font) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(font);
  label->setGeometry(kTextLeft, top, parent->width() - kTextLeft, kLineHeight);
  label->setTextFormat(Qt::PlainText);
  return label;
}

// Whatever the user typed fits its line: a long one ends in "…".
void SetElided(QLabel* label, const QString& text) {
  label->setText(QFontMetrics(label->font()).elidedText(text, Qt::ElideRight, label->width()));
  label->setToolTip(text);
}

}  // namespace

PageSummaryPanel::PageSummaryPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("PageSummary"));
  // The band above the name, which the designed controls leave free.
  setGeometry(8, 3, parent->width() - 16, kPictureHeight + 6);
  picture_ = new QLabel(this);
  picture_->setObjectName(QStringLiteral("PagePicture"));
  picture_->setGeometry(0, 2, kPictureWidth, kPictureHeight);
  const QFont font = ChineseFont(ChineseFace::kHeiTi, 9);
  QFont bold = font;
  bold.setBold(true);
  style_ = Line(this, "PageStyle", 0, bold);
  title_ = Line(this, "PageTitle", kLineHeight, font);
  first_line_ = Line(this, "PageFirstLine", 2 * kLineHeight, font);
  // Beside the style's name, in the room its short text leaves.
  replaces_ = new QLabel(this);
  replaces_->setObjectName(QStringLiteral("ReplacesPage"));
  replaces_->setFont(bold);
  QPalette palette = replaces_->palette();
  palette.setColor(QPalette::WindowText, QColor(0xC0, 0x50, 0x00));
  replaces_->setPalette(palette);
  replaces_->setText(QStringLiteral("将替换当前网页"));
  replaces_->adjustSize();
  replaces_->move(width() - replaces_->width(), 0);
  replaces_->hide();
}

void PageSummaryPanel::Show(int style, const BuiltPage& page, const std::string& replaced,
                            const std::string& note) {
  // The gallery's picture of the style, where the program carries it.
  const QPixmap picture(QStringLiteral(":/heartpage/thumbnails/style%1.jpg").arg(style));
  picture_->setPixmap(picture.isNull() ? QPixmap()
                                       : picture.scaled(picture_->size(), Qt::KeepAspectRatio,
                                                        Qt::SmoothTransformation));
  style_->setText(Q(StyleDisplayName(style)));
  const std::string title = PageTitle(page.page);
  SetElided(title_, QStringLiteral("标题：") + Q(title.empty() ? "（无）" : title));
  SetElided(first_line_,
            QStringLiteral("第一行：") + Q(page.first_line.empty() ? "（无）" : page.first_line));
  replaces_->setText(
      QStringLiteral("将替换当前网页") +
      (note.empty() ? QString() : QStringLiteral("（") + Q(note) + QStringLiteral("）")));
  replaces_->adjustSize();
  replaces_->move(width() - replaces_->width(), 0);
  replaces_->setVisible(!replaced.empty());
  replaces_->setToolTip(
      Q(replaced) +
      (note.empty() ? QString()
                    : QStringLiteral("\n问题不变则继续累计；换了问题，原来的记录留作“上一版”")));
  show();
}

void PageSummaryPanel::ShowNothing() {
  hide();
}

}  // namespace heartpage
