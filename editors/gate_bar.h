#pragma once

#include "editors/question_bar.h"

class QCheckBox;
class QDateTime;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QString;
class QWidget;

// The strip under the question's where the sender may hold the page back:
// until a moment ("定时开启："), and behind a code with its hint ("开启口令：",
// "口令提示："). Both are left off at first: the page opens at once to anyone
// with its address.
namespace heartpage {

// Its height in twips, added below the question's strip.
inline constexpr int kGateBarHeight = 540;
// What every window adds under its designed fields: the two strips.
inline constexpr int kUnderFieldsHeight = kQuestionBarHeight + kGateBarHeight;

struct GateBar {
  QCheckBox* opens_set;  // "定时开启：", ticked for a moment
  QDateTimeEdit* opens;  // the moment in local time; taken only when ticked
  QLabel* zone;          // the zone the moment is read in
  QLineEdit* code;
  QLabel* easy_code;  // shown while the code is easy to guess, with what to choose instead
  QLineEdit* hint;
};

// The strip across `parent` from `top` (pixels), `width` pixels wide; the
// moment proposed is tomorrow evening.
GateBar AddGateBar(QWidget* parent, int top, int width);

// "本机时间 UTC+08:00": the zone that `local` is read in, as offset at it.
QString ZoneText(const QDateTime& local);

}  // namespace heartpage
