#include "editors/draft_store.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>

namespace heartpage {
namespace {

Q_LOGGING_CATEGORY(kDrafts, "heartpage.drafts")

// Raised whenever the layout of the file changes; a file of another format
// is set aside, not misread.
constexpr int kFormat = 1;

// Far above anything typed by hand; a larger file is not a draft of ours.
constexpr qint64 kMaxDraftBytes = 16 * 1024 * 1024;

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Moves an unusable file out of the way under a name that says so and is
// not taken, keeping it for whoever wants to look at it.
void SetAside(const QString& file, const QString& why) {
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QString target = file + QStringLiteral(".unreadable-") + stamp;
  for (int n = 2; QFile::exists(target); ++n)
    target = file + QStringLiteral(".unreadable-%1-%2").arg(stamp).arg(n);
  if (QFile::rename(file, target)) {
    qCWarning(kDrafts, "draft %s: %s; set aside as %s", qUtf8Printable(file), qUtf8Printable(why),
              qUtf8Printable(target));
  } else {
    qCWarning(kDrafts, "draft %s: %s; could not be set aside either", qUtf8Printable(file),
              qUtf8Printable(why));
  }
}

std::optional<Draft> Parse(const QByteArray& bytes, int style, QString& why) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
  if (error.error != QJsonParseError::NoError) {
    why = QStringLiteral("not JSON (%1)").arg(error.errorString());
    return std::nullopt;
  }
  const QJsonObject root = document.object();
  if (!document.isObject() || root.value(QStringLiteral("format")).toInt() != kFormat ||
      root.value(QStringLiteral("style")).toInt() != style) {
    why = QStringLiteral("not a draft of format %1 for style %2").arg(kFormat).arg(style);
    return std::nullopt;
  }
  const QJsonValue fields = root.value(QStringLiteral("fields"));
  const QJsonValue check = root.value(QStringLiteral("check"));
  if (!fields.isObject() || !check.isBool()) {
    why = QStringLiteral("fields or check box missing");
    return std::nullopt;
  }
  Draft draft;
  draft.checked = check.toBool();
  const QJsonObject values = fields.toObject();
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (!it.value().isString()) {
      why = QStringLiteral("field %1 is not text").arg(it.key());
      return std::nullopt;
    }
    draft.fields.emplace(it.key().toStdString(), it.value().toString().toStdString());
  }
  // Which fields hold files of the sender's own only dresses them: a draft
  // without it, or with some of it unreadable, is still the draft.
  const QJsonObject files = root.value(QStringLiteral("files")).toObject();
  for (auto it = files.begin(); it != files.end(); ++it)
    if (it.value().isString())
      draft.files.emplace(it.key().toStdString(), it.value().toString().toStdString());
  return draft;
}

}  // namespace

QString UserDraftFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
         QStringLiteral("/drafts");
}

QString DraftFile(const QString& folder, int style) {
  return folder + QStringLiteral("/style%1.json").arg(style);
}

std::optional<Draft> LoadDraft(const QString& folder, int style) {
  const QString path = DraftFile(folder, style);
  QFile file(path);
  if (!file.exists()) return std::nullopt;
  if (file.size() > kMaxDraftBytes) {
    SetAside(path, QStringLiteral("larger than any draft"));
    return std::nullopt;
  }
  if (!file.open(QIODevice::ReadOnly)) {
    SetAside(path, file.errorString());
    return std::nullopt;
  }
  const QByteArray bytes = file.readAll();
  file.close();
  QString why;
  std::optional<Draft> draft = Parse(bytes, style, why);
  if (!draft) SetAside(path, why);
  return draft;
}

bool SaveDraft(const QString& folder, int style, const Draft& draft) {
  if (!QDir().mkpath(folder)) {
    qCWarning(kDrafts, "draft folder %s cannot be made", qUtf8Printable(folder));
    return false;
  }
  QFile::setPermissions(folder, kOwnerOnly | QFileDevice::ExeOwner);
  QJsonObject fields;
  for (const auto& [name, value] : draft.fields)
    fields.insert(QString::fromStdString(name), QString::fromStdString(value));
  QJsonObject root{{QStringLiteral("format"), kFormat},
                   {QStringLiteral("style"), style},
                   {QStringLiteral("fields"), fields},
                   {QStringLiteral("check"), draft.checked}};
  if (!draft.files.empty()) {
    QJsonObject files;
    for (const auto& [name, path] : draft.files)
      files.insert(QString::fromStdString(name), QString::fromStdString(path));
    root.insert(QStringLiteral("files"), files);
  }
  // Written beside the old draft and renamed over it: a crash mid-write
  // leaves the old draft, never half of the new one.
  QSaveFile file(DraftFile(folder, style));
  if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(kOwnerOnly) ||
      file.write(QJsonDocument(root).toJson(QJsonDocument::Compact)) < 0 || !file.commit()) {
    qCWarning(kDrafts, "draft %s cannot be written: %s", qUtf8Printable(file.fileName()),
              qUtf8Printable(file.errorString()));
    return false;
  }
  return true;
}

bool RemoveDraft(const QString& folder, int style) {
  const QString path = DraftFile(folder, style);
  return !QFile::exists(path) || QFile::remove(path);
}

}  // namespace heartpage
