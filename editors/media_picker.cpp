#include "editors/media_picker.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <memory>

#include "controls/thread_order.h"
#include "net/media_upload.h"
#include "protocol/media_kind.h"
#include "publish/answer_messages.h"
#include "publish/picture_scaling.h"
#include "publish/upload.h"
#include "publish/upload_dialog.h"

namespace heartpage {
namespace {

constexpr int kButtonWidth = 72;
constexpr int kGap = 4;

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString ChooseWithDialog(QWidget* parent, FieldKind kind) {
  const QString filter =
      kind == FieldKind::kPicture ? QStringLiteral("图片 (*.jpg *.jpeg *.png *.gif *.webp)")
      : kind == FieldKind::kMusic ? QStringLiteral("音乐 (*.mp3 *.m4a *.aac *.ogg)")
                                  : QStringLiteral("视频 (*.mp4 *.webm)");
  return QFileDialog::getOpenFileName(parent, QStringLiteral("选择文件"), QString(),
                                      filter + QStringLiteral(";;所有文件 (*)"));
}

MediaPickHooks& Hooks() {
  static MediaPickHooks hooks;
  return hooks;
}

MediaKind KindOf(FieldKind kind) {
  return kind == FieldKind::kPicture ? MediaKind::kPicture
         : kind == FieldKind::kMusic ? MediaKind::kMusic
                                     : MediaKind::kVideo;
}

void Warn(QWidget* parent, std::string_view text) {
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("提示"), Q(text),
                              QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("MediaError"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

}  // namespace

void SetMediaPickHooks(MediaPickHooks hooks) {
  Hooks() = std::move(hooks);
}

void AddMediaPickers(const Style& style,
                     const std::map<std::string, QWidget*, std::less<>>& boxes) {
  for (const FieldRow& row : style.rows) {
    if (row.kind != FieldKind::kPicture && row.kind != FieldKind::kMusic &&
        row.kind != FieldKind::kVideo)
      continue;
    auto* field = qobject_cast<QLineEdit*>(boxes.at(row.Name()));
    if (field == nullptr) continue;
    // The button takes the right end of the box's place: nothing else on
    // the window moves, so nothing can come to overlap.
    QRect place = field->geometry();
    const QRect button_place(place.right() - kButtonWidth + 1, place.top(), kButtonWidth,
                             place.height());
    place.setRight(button_place.left() - kGap - 1);
    field->setGeometry(place);
    auto* button = new QPushButton(QStringLiteral("选择文件…"), field->parentWidget());
    button->setObjectName(QStringLiteral("Pick") + field->objectName());
    button->setGeometry(button_place);
    button->setFont(field->font());
    button->setToolTip(row.kind == FieldKind::kPicture ? QStringLiteral("选择一张自己的图片上传")
                       : row.kind == FieldKind::kMusic ? QStringLiteral("选择一首自己的音乐上传")
                                                       : QStringLiteral("选择一段自己的视频上传"));
    QWidget::setTabOrder(field, button);
    const FieldKind kind = row.kind;
    QObject::connect(button, &QPushButton::clicked, field,
                     [field, kind] { PickMedia(field, kind); });
  }
}

void PickMedia(QLineEdit* field, FieldKind kind) {
  QWidget* window = field->window();
  const QString path =
      Hooks().choose ? Hooks().choose(window, kind) : ChooseWithDialog(window, kind);
  if (path.isEmpty()) return;

  // By its bytes, never its name: a text renamed .jpg is no picture.
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return Warn(window, "无法读取这个文件！");
  const QByteArray head = file.read(static_cast<qint64>(kMediaSniffBytes));
  file.close();
  const auto type = DetectMediaType(std::string_view(head.constData(), head.size()));
  if (!type || type->kind != KindOf(kind)) return Warn(window, MessageForStatus(415));

  std::string machine_id;
  try {
    machine_id = ConfiguredUploadServices().machine_id();
  } catch (const std::exception&) {
    return Warn(window, upload_text::kNoMachineId);
  }
  QByteArray bytes;
  if (kind == FieldKind::kPicture) {
    if (const std::optional<QByteArray> scaled = ScaledPicture(path)) bytes = *scaled;
  }

  auto* progress =
      new QProgressDialog(QStringLiteral("正在上传文件…"), QStringLiteral("取消"), 0, 1000, window);
  progress->setObjectName(QStringLiteral("MediaProgress"));
  progress->setWindowTitle(QStringLiteral("上传文件"));
  progress->setWindowModality(Qt::WindowModal);
  progress->setMinimumDuration(0);
  progress->setAutoClose(false);
  progress->setAutoReset(false);
  progress->setAttribute(Qt::WA_DeleteOnClose);
  progress->setValue(0);

  // The upload runs on a thread of the pool; its progress and its result
  // come back to the progress window as signals of the watcher, which is
  // that window's child: gone with the window, it reports nothing more, and
  // the upload is told to stop.
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  QObject::connect(progress, &QProgressDialog::canceled, progress, [cancel] { *cancel = true; });
  QObject::connect(progress, &QObject::destroyed, [cancel] { *cancel = true; });
  auto* watcher = new QFutureWatcher<MediaUploadResult>(progress);
  QObject::connect(watcher, &QFutureWatcherBase::progressValueChanged, progress,
                   &QProgressDialog::setValue);
  QPointer<QLineEdit> target(field);
  QObject::connect(watcher, &QFutureWatcherBase::finished, progress,
                   [watcher, progress, target, window] {
                     progress->close();
                     const MediaUploadResult result = watcher->result();
                     if (result.cancelled) return;
                     if (!result.ok()) return Warn(window, MessageForStatus(result.status));
                     if (target) {
                       target->setText(QString::fromStdString(result.text));
                       target->setCursorPosition(0);
                     }
                   });
  // Handed over as RunInBackground does: a pointer through Qt's hands, read
  // after the hand-over.
  struct Upload {
    std::string path;
    QByteArray bytes;
    std::string machine_id;
  };
  auto upload = std::make_shared<const Upload>(Upload{path.toStdString(), bytes, machine_id});
  HandOver(upload.get());
  watcher->setFuture(QtConcurrent::run([cancel, upload](QPromise<MediaUploadResult>& promise) {
    TakeOver(upload.get());
    promise.setProgressRange(0, 1000);
    promise.addResult(UploadMedia(MediaUploadAddress(), upload->path,
                                  std::string_view(upload->bytes.constData(), upload->bytes.size()),
                                  upload->machine_id, [&](std::uint64_t sent, std::uint64_t total) {
                                    if (total > 0)
                                      promise.setProgressValue(
                                          static_cast<int>(sent * 1000 / total));
                                    return !*cancel;
                                  }));
  }));
}

}  // namespace heartpage
