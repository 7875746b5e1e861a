#pragma once

#include <QString>
#include <functional>
#include <map>
#include <string>

#include "pages/styles.h"

class QLineEdit;
class QWidget;

// "选择文件…" beside every picture, music and video field: the user picks a
// file of their own, the program checks its type by its bytes, makes a
// picture light for phones, sends it to the publishing server off the
// window's thread (a progress bar with a cancel button meanwhile) and puts
// its public address into the field.
namespace heartpage {

struct MediaPickHooks {
  // The file the user chose for a field of `kind`; empty when none.
  std::function<QString(QWidget* parent, FieldKind kind)> choose;
};
// Replaces how files are chosen (tests choose without a dialog); an empty
// hook restores the file dialog.
void SetMediaPickHooks(MediaPickHooks hooks);

// Makes room at the right end of each such box of `boxes` (by field name)
// for its button, named "Pick" + the field's name, e.g. "PickText1(7)".
void AddMediaPickers(const Style& style, const std::map<std::string, QWidget*, std::less<>>& boxes);

// The button's work for `field`, a box of `kind`.
void PickMedia(QLineEdit* field, FieldKind kind);

}  // namespace heartpage
