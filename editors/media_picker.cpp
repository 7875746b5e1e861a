#include "editors/media_picker.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

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

// What the sending thread and the window share; the window only reads it
// (on a timer), so that neither waits for the other and either may go first.
struct Transfer {
  std::atomic<bool> cancel = false;
  std::atomic<std::uint64_t> sent = 0;
  std::atomic<std::uint64_t> total = 0;
  std::atomic<bool> done = false;
  MediaUploadResult result;  // written before `done`
};

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

  auto transfer = std::make_shared<Transfer>();
  QObject::connect(progress, &QProgressDialog::canceled, progress,
                   [transfer] { transfer->cancel = true; });
  std::thread([transfer, path = path.toStdString(), bytes, machine_id] {
    transfer->result =
        UploadMedia(MediaUploadAddress(), path, std::string_view(bytes.constData(), bytes.size()),
                    machine_id, [&](std::uint64_t sent, std::uint64_t total) {
                      transfer->sent = sent;
                      transfer->total = total;
                      return !transfer->cancel;
                    });
    transfer->done = true;
  }).detach();

  auto* timer = new QTimer(progress);
  timer->setInterval(50);
  QPointer<QLineEdit> target(field);
  QObject::connect(timer, &QTimer::timeout, progress, [transfer, progress, target, window] {
    if (progress->wasCanceled()) transfer->cancel = true;
    if (const std::uint64_t total = transfer->total; total > 0)
      progress->setValue(static_cast<int>(transfer->sent * 1000 / total));
    if (!transfer->done) return;
    progress->close();
    const MediaUploadResult& result = transfer->result;
    if (result.cancelled) return;
    if (!result.ok()) return Warn(window, MessageForStatus(result.status));
    if (target) {
      target->setText(QString::fromStdString(result.text));
      target->setCursorPosition(0);
    }
  });
  timer->start();
}

}  // namespace heartpage
