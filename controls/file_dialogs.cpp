#include "controls/file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLineEdit>
#include <QLocale>
#include <QTreeView>

namespace heartpage {
namespace {

// The columns of Qt's file system model.
constexpr int kSizeColumn = 1;
constexpr int kTypeColumn = 2;
constexpr int kDateColumn = 3;
constexpr char kDateFormat[] = "yyyy/M/d HH:mm";

// Qt's model names a folder's type in English whatever the translation, and
// writes dates in the system's locale (often English, and clipped).
class ChineseFileColumns : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (files == nullptr || role != Qt::DisplayRole || index.column() < kSizeColumn ||
        index.column() > kDateColumn)
      return QIdentityProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    if (index.column() == kDateColumn)
      return chinese.toString(files->lastModified(source), QString::fromLatin1(kDateFormat));
    const QFileInfo info = files->fileInfo(source);
    if (index.column() == kSizeColumn)
      return info.isDir() ? QString()
                          : chinese.formattedDataSize(files->size(source), 1,
                                                      QLocale::DataSizeTraditionalFormat);
    // The one column left between them is the type.
    static_assert(kTypeColumn == kSizeColumn + 1 && kDateColumn == kTypeColumn + 1);
    if (info.isDir()) return QStringLiteral("文件夹");
    const QString suffix = info.suffix().toUpper();
    return suffix.isEmpty() ? QStringLiteral("文件") : suffix + QStringLiteral(" 文件");
  }
};

}  // namespace

void UseChineseFileView(QFileDialog* dialog) {
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setLocale(QLocale(QLocale::Chinese, QLocale::China));
  dialog->setProxyModel(new ChineseFileColumns(dialog));
  // Wide enough for the longest size and date they can show.
  if (auto* list = dialog->findChild<QTreeView*>(QStringLiteral("treeView"))) {
    const QFontMetrics metrics(list->font());
    const int padding = metrics.horizontalAdvance(QLatin1Char('M')) * 2;
    list->header()->resizeSection(kSizeColumn,
                                  metrics.horizontalAdvance(QStringLiteral("1023.9 MB")) + padding);
    list->header()->resizeSection(
        kDateColumn, metrics.horizontalAdvance(QStringLiteral("2026/12/28 23:59")) + padding);
  }
}

QStringList ChosenFiles(const QFileDialog& dialog) {
  const auto* box = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  const QString typed = box != nullptr ? box->text() : QString();
  if (!typed.contains(QLatin1Char('"'))) return dialog.selectedFiles();
  QStringList files;
  // Between the quotes stand the names; every other piece separates them.
  const QStringList pieces = typed.split(QLatin1Char('"'));
  for (qsizetype i = 1; i < pieces.size(); i += 2) {
    const QFileInfo file(dialog.directory(), pieces[i]);
    if (!pieces[i].isEmpty() && file.isFile() && !files.contains(file.absoluteFilePath()))
      files.push_back(file.absoluteFilePath());
  }
  return files.isEmpty() ? dialog.selectedFiles() : files;
}

}  // namespace heartpage
