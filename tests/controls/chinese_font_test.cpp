#include "controls/chinese_font.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpression>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <fstream>

#include "controls/file_dialogs.h"
#include "tests/support/qt_environment.h"
#include "tests/support/server_process.h"

namespace heartpage {
namespace {

// Whether `text`, drawn black on white in `font`, shows a strong red
// anywhere: a colour emoji, not a black outline.
bool DrawsInColour(const QFont& font, const QString& text) {
  QImage image(64, 40, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(image.rect(), Qt::AlignCenter, text);
  painter.end();
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 180 && c.green() < 110 && c.blue() < 130) return true;
    }
  return false;
}

TEST(ChineseFont, HeartsAndFacesShowInColour) {
  for (const ChineseFace face : {ChineseFace::kHeiTi, ChineseFace::kSongTi}) {
    const QFont font = ChineseFont(face, 12);
    EXPECT_TRUE(DrawsInColour(font, QStringLiteral("❤"))) << static_cast<int>(face);
    EXPECT_TRUE(DrawsInColour(font, QStringLiteral("😘"))) << static_cast<int>(face);
    EXPECT_FALSE(DrawsInColour(font, QStringLiteral("520 表白"))) << "digits stay plain";
  }
}

// Where Qt's translation leaves English, the file dialog's list still reads
// Chinese: a folder's type, a file's type by its suffix, and a short date.
TEST(ChineseFileDialog, TypesAndDatesReadChinese) {
  testing::TempDir folder;
  std::filesystem::create_directory(folder.path() / "相册");
  std::ofstream(folder.path() / "photo.png") << "x";
  QFileDialog dialog(nullptr, QStringLiteral("选择文件"),
                     QString::fromStdString(folder.path().string()));
  UseChineseFileView(&dialog);
  auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  ASSERT_NE(list, nullptr);
  QAbstractItemModel* shown = list->model();
  const auto row_of = [&](const QString& name) {
    const QModelIndex top = list->rootIndex();
    for (int row = 0; row < shown->rowCount(top); ++row)
      if (shown->index(row, 0, top).data().toString() == name) return shown->index(row, 0, top);
    return QModelIndex();
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return row_of(QStringLiteral("photo.png")).isValid(); }));
  const QModelIndex photo = row_of(QStringLiteral("photo.png"));
  EXPECT_EQ(photo.siblingAtColumn(2).data().toString(), QStringLiteral("PNG 文件"));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}/\\d{1,2}/\\d{1,2} \\d{2}:\\d{2}$"))
                  .match(photo.siblingAtColumn(3).data().toString())
                  .hasMatch())
      << photo.siblingAtColumn(3).data().toString().toStdString();
  EXPECT_EQ(row_of(QStringLiteral("相册")).siblingAtColumn(2).data().toString(),
            QStringLiteral("文件夹"));
}

// Several names typed in quotes, as the dialog itself writes a selection,
// are all chosen, whatever the list made of the typing.
TEST(ChineseFileDialog, SeveralQuotedNamesTypedAreAllChosen) {
  testing::TempDir folder;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) std::ofstream(folder.path() / name) << "x";
  QFileDialog dialog(nullptr, QStringLiteral("选择文件（可多选）"),
                     QString::fromStdString(folder.path().string()));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  UseChineseFileView(&dialog);
  dialog.show();
  auto* box = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(box, nullptr);
  auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == 3; }));
  box->setFocus();
  QTest::keyClicks(box, QStringLiteral("\"c.jpg\" \"a.jpg\" \"b.jpg\""));
  QTest::keyClick(box, Qt::Key_Return);
  ASSERT_EQ(dialog.result(), QDialog::Accepted);
  const QDir dir(QString::fromStdString(folder.path().string()));
  EXPECT_EQ(ChosenFiles(dialog),
            QStringList({dir.absoluteFilePath("c.jpg"), dir.absoluteFilePath("a.jpg"),
                         dir.absoluteFilePath("b.jpg")}));
}

}  // namespace
}  // namespace heartpage
