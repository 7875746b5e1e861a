#include "editors/question_bar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "controls/chinese_font.h"
#include "controls/twips.h"
#include "pages/question.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

QLineEdit* AddBox(QWidget* bar, std::string_view name, std::size_t limit) {
  auto* box = new QLineEdit(bar);
  box->setObjectName(Q(name));
  box->setMaxLength(static_cast<int>(limit));
  return box;
}

}  // namespace

std::array<QLineEdit*, 3> AddQuestionBar(QWidget* parent, int top, int width) {
  auto* bar = new QWidget(parent);
  bar->setObjectName(QStringLiteral("QuestionBar"));
  bar->setGeometry(0, top, width, Px(kQuestionBarHeight));
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(Px(240), 0, Px(240), 0);
  const QFont caption_font = ChineseFont(ChineseFace::kHeiTi, 10.5);
  const auto caption = [&](const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text, bar);
    label->setFont(caption_font);
    label->setBuddy(buddy);
    return label;
  };

  QLineEdit* question = AddBox(bar, question::kQuestionField, question::kMaxQuestionLength);
  // Left empty, the page asks nothing and stays exactly as it was.
  question->setPlaceholderText(QStringLiteral("做我女朋友好吗？（可不填）"));
  question->setToolTip(QStringLiteral("填写后，网页讲完故事会问TA这一句；TA点的回答会告诉您"));
  QLineEdit* answer1 = AddBox(bar, question::kAnswer1Field, question::kMaxAnswerLength);
  QLineEdit* answer2 = AddBox(bar, question::kAnswer2Field, question::kMaxAnswerLength);
  answer1->setPlaceholderText(Q(question::kDefaultAnswer1));
  answer2->setPlaceholderText(Q(question::kDefaultAnswer2));

  row->addWidget(caption(QStringLiteral("问TA一句："), question));
  row->addWidget(question, 3);
  row->addSpacing(Px(120));
  row->addWidget(caption(QStringLiteral("两个回答："), answer1));
  row->addWidget(answer1, 1);
  row->addWidget(answer2, 1);
  return {question, answer1, answer2};
}

}  // namespace heartpage
