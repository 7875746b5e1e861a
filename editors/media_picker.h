#pragma once

#include <map>
#include <string>
#include <vector>

#include "pages/styles.h"
#include "protocol/media_kind.h"
#include "publish/client_services.h"

class QLineEdit;
class QString;
class QWidget;

// "选择文件…" beside every picture, music and video field: the user picks a
// file of their own, the program checks its type by its bytes, makes a
// picture light for phones, sends it to the publishing server off the
// window's thread (a progress bar with a cancel button meanwhile) and puts
// its public address into the field, which then shows what the file is (its
// name, and a thumbnail of a picture or a mark for music and video). An
// upload that fails for want of an answer offers "重试".
namespace heartpage {

// The file dialog over the active window, in the folder of the file chosen
// last (else the user's folder for `kind`): the files the user chose, UTF-8;
// none when the dialog was cancelled. The desktop's ClientServices::choose_files.
std::vector<std::string> ChooseMediaFiles(MediaKind kind, bool several);

// Makes room at the right end of each such box of `boxes` (by field name)
// for its button, named "Pick" + the field's name, e.g. "PickText1(7)". A
// run of picture fields (an album) takes several files at once: in the order
// of their names, the first fills the field whose button was pressed, the
// rest the fields after it. The files are chosen and sent through `services`.
void AddMediaPickers(const Style& style, const std::map<std::string, QWidget*, std::less<>>& boxes,
                     const ClientServices& services);

// The button's work for `fields`: the first is the box whose button was
// pressed, the others the album's boxes after it (none outside an album).
void PickMedia(const std::vector<QLineEdit*>& fields, FieldKind kind,
               const ClientServices& services);

// The file of the sender's own whose address `field` holds, as chosen with
// its button; empty when the field holds none (or was changed since).
QString ChosenFile(const QLineEdit* field);

// Shows `field`, which holds the address of the sender's file `path`, as it
// did when that file was chosen: its thumbnail or mark and its name. The
// file may be gone since; its name still shows.
void ShowChosenFile(QLineEdit* field, FieldKind kind, const QString& path);

// How many choices of files are still on their way to the server, waiting
// for a retry included: ending the program now would lose them.
int MediaUploadsRunning();

}  // namespace heartpage
