#pragma once

#include <QString>
#include <map>
#include <optional>
#include <string>

// What the sender has typed into an editor, kept on disk so that closing the
// window, ending the program or a crash loses nothing. Data only: the editor
// window decides when to save and what to fill in; nothing here knows of
// widgets.
namespace heartpage {

struct Draft {
  // Field name ("Text1(3)") to its text exactly as Value() gives it. Fields
  // left out keep their defaults.
  std::map<std::string, std::string, std::less<>> fields;
  bool checked = false;  // Check1, where the style has one
  // Field name to the path of the sender's own file whose address it holds,
  // so that the field shows that file again.
  std::map<std::string, std::string, std::less<>> files;
};

// Every draft lives in a folder of drafts (`folder` below), made when the
// first is saved.

// The draft of `style`, or nothing when there is none. A file that cannot be
// read as a draft is set aside under a name of its own (and a warning
// logged), so that it neither blocks the editor nor gets overwritten.
std::optional<Draft> LoadDraft(const QString& folder, int style);

// Writes the draft of `style` whole or not at all, readable by its owner
// only. False (with a warning logged) when it could not be written.
bool SaveDraft(const QString& folder, int style, const Draft& draft);

// Forgets the draft of `style`; true when none is left.
bool RemoveDraft(const QString& folder, int style);

// The user's folder of drafts, in their data folder.
QString UserDraftFolder();

// The file of `style`'s draft in `folder`.
QString DraftFile(const QString& folder, int style);

}  // namespace heartpage
