// A sender who types into an editor and never closes it: types the text it is
// given into one field, then waits to be killed. The draft tests end it with
// SIGKILL, as a crash would, and look for what it typed.
//
//   editor_draft_helper DRAFT_FOLDER STYLE FIELD TEXT
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <cstdlib>

#include "editors/editor_window.h"
#include "editors/editors.h"
#include "tests/support/client_services.h"

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  QApplication app(argc, argv);
  heartpage::ClientServices services = heartpage::testing::QuietServices();
  services.draft_directory = QString::fromLocal8Bit(argv[1]).toStdString();
  heartpage::EditorWindow* editor = heartpage::ShowEditor(std::atoi(argv[2]), services);
  auto* box = editor->findChild<QLineEdit*>(QString::fromLocal8Bit(argv[3]));
  if (box == nullptr) return 3;
  box->clear();
  QTest::keyClicks(box, QString::fromLocal8Bit(argv[4]));
  return QApplication::exec();
}
