#include "controls/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace heartpage {

bool InstallQtChineseTranslations() {
  if (QCoreApplication::instance() == nullptr) return false;
  const QLocale chinese(QLocale::Chinese, QLocale::China);
  auto* translator = new QTranslator(QCoreApplication::instance());
  for (const QString& folder :
       {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
        QCoreApplication::applicationDirPath() + QStringLiteral("/translations")}) {
    if (translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), folder) &&
        QCoreApplication::installTranslator(translator))
      return true;
  }
  delete translator;
  return false;
}

}  // namespace heartpage
