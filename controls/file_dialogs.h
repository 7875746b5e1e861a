#pragma once

class QFileDialog;

namespace heartpage {

// Makes Qt's own file dialog (never the platform's, so that it looks the
// same everywhere) read Chinese where Qt's translations leave English: the
// type column says "文件夹" or "PNG 文件", and the dates are short Chinese
// ones that fit their column. Call before the dialog is shown; the dialog
// owns what is added.
void UseChineseFileView(QFileDialog* dialog);

}  // namespace heartpage
