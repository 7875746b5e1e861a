#pragma once

#include <QStringList>

class QFileDialog;

namespace heartpage {

// Makes Qt's own file dialog (never the platform's, so that it looks the
// same everywhere) read Chinese where Qt's translations leave English: the
// type column says "文件夹" or "PNG 文件", and the dates are short Chinese
// ones that fit their column. Call before the dialog is shown; the dialog
// owns what is added.
void UseChineseFileView(QFileDialog* dialog);

// The files an accepted dialog of several files was given. Qt keeps the
// list's selection as the answer, and with the Chinese columns in between
// it loses typed names after the second ("a.jpg" "b.jpg" "c.jpg" gives
// only the first): quoted names typed into the name box are read from the
// box, each that exists, in their order.
QStringList ChosenFiles(const QFileDialog& dialog);

}  // namespace heartpage
