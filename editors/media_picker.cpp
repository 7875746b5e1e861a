#include "editors/media_picker.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <algorithm>
#include <memory>

#include "controls/file_dialogs.h"
#include "protocol/media_kind.h"
#include "publish/answer_messages.h"
#include "publish/file_upload.h"
#include "publish/picture_scaling.h"
#include "publish/upload.h"
#include "tasks/background.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

constexpr int kButtonWidth = 72;
constexpr int kGap = 4;
constexpr int kMarkSize = 16;
constexpr char kPickText[] = "选择文件…";
constexpr char kChosenMark[] = "ChosenFile";
constexpr char kPickTip[] = "pickTip";  // the button's own tip, kept while a file's name shows
constexpr char kChosenPath[] = "chosenFile";  // the field's property: the file it holds
constexpr char kUnreadablePicture[] = "无法读取这张图片，文件可能已损坏，请换一张！";

int running_uploads = 0;

QString Filter(MediaKind kind) {
  const QString own = kind == MediaKind::kPicture
                          ? QStringLiteral("图片 (*.jpg *.jpeg *.png *.gif *.webp)")
                      : kind == MediaKind::kMusic ? QStringLiteral("音乐 (*.mp3 *.m4a *.aac *.ogg)")
                                                  : QStringLiteral("视频 (*.mp4 *.webm)");
  return own + QStringLiteral(";;所有文件 (*)");
}

// Where the file dialog opens: the folder of the file chosen last, else the
// user's folder for that kind of file.
QString& LastFolder() {
  static QString folder;
  return folder;
}

QString StartFolder(MediaKind kind) {
  if (!LastFolder().isEmpty() && QDir(LastFolder()).exists()) return LastFolder();
  const auto location = kind == MediaKind::kPicture ? QStandardPaths::PicturesLocation
                        : kind == MediaKind::kMusic ? QStandardPaths::MusicLocation
                                                    : QStandardPaths::MoviesLocation;
  const QString own = QStandardPaths::writableLocation(location);
  return !own.isEmpty() && QDir(own).exists() ? own : QDir::homePath();
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

// A mark for a file that is no picture: a note for music, a play sign for
// a video, white on a round ground.
QIcon KindMark(FieldKind kind) {
  QPixmap mark(kMarkSize * 2, kMarkSize * 2);
  mark.setDevicePixelRatio(2);
  mark.fill(Qt::transparent);
  QPainter painter(&mark);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(kind == FieldKind::kMusic ? QColor(0xC0, 0x30, 0x60) : QColor(0x30, 0x50, 0xB0));
  painter.drawEllipse(QRectF(0.5, 0.5, kMarkSize - 1, kMarkSize - 1));
  painter.setBrush(Qt::white);
  if (kind == FieldKind::kMusic) {
    painter.drawEllipse(QRectF(4, 9.5, 4, 3));
    painter.fillRect(QRectF(7, 3.5, 1.2, 7.5), Qt::white);
    painter.fillRect(QRectF(7, 3.5, 4, 1.5), Qt::white);
  } else {
    const QPointF play[] = {{6, 4.5}, {12, 8}, {6, 11.5}};
    painter.drawPolygon(play, 3);
  }
  return QIcon(mark);
}

// A small picture of the file itself, decoded no larger than it shows:
// from the light copy that was sent where there is one, which reads quickly
// whatever the original was.
QIcon Thumbnail(const QString& path, const QByteArray& sent) {
  QBuffer light;
  light.setData(sent);
  QImageReader reader;
  if (sent.isEmpty()) {
    reader.setFileName(path);
  } else {
    reader.setDevice(&light);
  }
  reader.setAutoTransform(true);
  const QSize full = reader.size();
  if (full.isValid())
    reader.setScaledSize(full.scaled(kMarkSize * 2, kMarkSize * 2, Qt::KeepAspectRatioByExpanding));
  const QImage picture = reader.read();
  if (picture.isNull()) return KindMark(FieldKind::kPicture);
  constexpr int kSide = kMarkSize * 2;
  QPixmap square = QPixmap::fromImage(
      picture.copy((picture.width() - kSide) / 2, (picture.height() - kSide) / 2, kSide, kSide));
  square.setDevicePixelRatio(2);
  return QIcon(square);
}

// The field holds the address of the file `path`: it shows the file's
// thumbnail or mark at its start, and its button the file's name, until its
// text is changed.
void MarkChosenFile(QLineEdit* field, FieldKind kind, const QString& path,
                    const QByteArray& sent = {}) {
  const QString name = QFileInfo(path).fileName();
  const QString address = field->text();
  for (QAction* old : field->actions())
    if (old->objectName() == QLatin1String(kChosenMark)) delete old;
  auto* mark =
      field->addAction(kind == FieldKind::kPicture ? Thumbnail(path, sent) : KindMark(kind),
                       QLineEdit::LeadingPosition);
  mark->setObjectName(QLatin1String(kChosenMark));
  mark->setToolTip(QStringLiteral("本机文件：") + name);
  field->setProperty(kChosenPath, path);
  field->setCursorPosition(0);
  field->setToolTip(QStringLiteral("本机文件：") + name);
  QPushButton* button =
      field->parentWidget()->findChild<QPushButton*>(QStringLiteral("Pick") + field->objectName());
  if (button != nullptr) {
    button->setText(button->fontMetrics().elidedText(name, Qt::ElideMiddle, button->width() - 8));
    button->setToolTip(name + QStringLiteral("（点击重新选择）"));
  }
  // Typed over, or filled anew, the field no longer holds that file.
  QObject::connect(field, &QLineEdit::textChanged, mark, [field, mark, button, address] {
    if (field->text() == address) return;
    field->setToolTip({});
    field->setProperty(kChosenPath, QVariant());
    if (button != nullptr) {
      button->setText(QString::fromUtf8(kPickText));
      button->setToolTip(button->property(kPickTip).toString());
    }
    mark->deleteLater();
  });
}

void ShowChosenFile(QLineEdit* field, FieldKind kind, const QString& path, const QString& address,
                    const QByteArray& sent) {
  for (QAction* old : field->actions())
    if (old->objectName() == QLatin1String(kChosenMark)) delete old;
  field->setText(address);
  MarkChosenFile(field, kind, path, sent);
}

// No answer, or a server that is busy or failing for now: trying the same
// file again may well work. A refusal of the file itself would not.
bool WorthRetrying(long status) {
  return status == 0 || status == 429 || status >= 500;
}

// One choice of files on its way: each file fills its field in turn. Counts
// as running while anything (a progress window, a retry question) still
// holds it.
struct Batch {
  explicit Batch(const ClientServices& client) : services(client) { ++running_uploads; }
  ~Batch() { --running_uploads; }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  ClientServices services;
  QPointer<QWidget> window;
  FieldKind kind = FieldKind::kPicture;
  std::vector<std::pair<QPointer<QLineEdit>, QString>> files;
  std::size_t next = 0;
};

// What goes to the server for one file, made once and sent again by "重试".
struct Upload {
  std::string path;
  QByteArray bytes;
  std::string machine_id;
  // A picture not yet made light: the first sending does it, off the
  // windows' thread (decoding a large photo takes a while).
  bool scale = false;
};

// One sending's outcome and the bytes it sent, which a retry sends again.
struct Sent {
  MediaUploadResult result;
  QByteArray bytes;
  bool unreadable = false;  // a picture that could not be decoded: nothing was sent
};

void SendNext(const std::shared_ptr<Batch>& batch);
void Send(const std::shared_ptr<Batch>& batch, const std::shared_ptr<const Upload>& upload);

void AskRetry(const std::shared_ptr<Batch>& batch, const std::shared_ptr<const Upload>& upload,
              long status) {
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("提示"),
                              Q(MessageForStatus(status)), QMessageBox::NoButton, batch->window);
  box->setObjectName(QStringLiteral("MediaRetry"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  QPushButton* retry = box->addButton(QStringLiteral("重试"), QMessageBox::AcceptRole);
  box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
  box->setDefaultButton(retry);
  QObject::connect(box, &QMessageBox::buttonClicked, box,
                   [batch, upload, retry](QAbstractButton* clicked) {
                     if (clicked == retry) Send(batch, upload);
                   });
  box->open();
}

void Send(const std::shared_ptr<Batch>& batch, const std::shared_ptr<const Upload>& upload) {
  if (!batch->window) return;
  QString text = QStringLiteral("正在上传文件…");
  if (batch->files.size() > 1)
    text = QStringLiteral("正在上传第 %1 个文件（共 %2 个）…")
               .arg(batch->next + 1)
               .arg(batch->files.size());
  // While a picture is made light the bar only says that work goes on.
  auto* progress =
      new QProgressDialog(upload->scale ? QStringLiteral("正在处理图片…") : text,
                          QStringLiteral("取消"), 0, upload->scale ? 0 : 1000, batch->window);
  progress->setObjectName(QStringLiteral("MediaProgress"));
  progress->setWindowTitle(QStringLiteral("上传文件"));
  progress->setWindowModality(Qt::WindowModal);
  progress->setMinimumDuration(0);
  progress->setAutoClose(false);
  progress->setAutoReset(false);
  progress->setAttribute(Qt::WA_DeleteOnClose);
  progress->setValue(0);

  // The upload runs on a thread of the pool for as long as the progress
  // window stands: its cancel button, or its going, stops the upload.
  const BackgroundTask task = RunInBackground(
      progress,
      [upload](TaskControl& control) {
        Sent sent{{}, upload->bytes};
        if (upload->scale) {
          LightPicture light = MakeLight(QString::fromStdString(upload->path));
          if (light.outcome == LightPicture::kUnreadable) {
            sent.unreadable = true;
            return sent;
          }
          if (light.outcome == LightPicture::kMadeLight) sent.bytes = std::move(light.bytes);
          if (control.Cancelled()) {
            sent.result.cancelled = true;
            return sent;
          }
        }
        control.ReportProgress(0);
        sent.result =
            SendOwnFile(upload->path, std::string_view(sent.bytes.constData(), sent.bytes.size()),
                        upload->machine_id, [&control](std::uint64_t done, std::uint64_t total) {
                          if (total > 0)
                            control.ReportProgress(static_cast<int>(done * 1000 / total));
                          return !control.Cancelled();
                        });
        return sent;
      },
      [progress, batch, upload](const Sent& sent) {
        progress->close();
        const MediaUploadResult& result = sent.result;
        if (result.cancelled || !batch->window) return;
        if (sent.unreadable) return Warn(batch->window, kUnreadablePicture);
        if (result.ok()) {
          const auto& [field, path] = batch->files[batch->next];
          if (field) ShowChosenFile(field, batch->kind, path, Q(result.text), sent.bytes);
          ++batch->next;
          return SendNext(batch);
        }
        if (WorthRetrying(result.status)) {
          auto again = std::make_shared<Upload>(*upload);
          again->bytes = sent.bytes;
          again->scale = false;
          return AskRetry(batch, again, result.status);
        }
        Warn(batch->window, MessageForStatus(result.status));
      },
      [progress, text](int permille) {
        if (progress->maximum() == 0) {
          progress->setLabelText(text);
          progress->setRange(0, 1000);
        }
        progress->setValue(permille);
      });
  QObject::connect(progress, &QProgressDialog::canceled, progress, [task] { task.Cancel(); });
}

// Checks and prepares the batch's next file and sends it; a file that is
// refused ends the batch, with the reason.
void SendNext(const std::shared_ptr<Batch>& batch) {
  QWidget* window = batch->window;
  if (window == nullptr || batch->next >= batch->files.size()) return;
  const QString& path = batch->files[batch->next].second;

  // By its bytes, never its name: a text renamed .jpg is no picture.
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return Warn(window, "无法读取这个文件！");
  const QByteArray head = file.read(static_cast<qint64>(kMediaSniffBytes));
  file.close();
  const auto type = DetectMediaType(std::string_view(head.constData(), head.size()));
  if (!type || type->kind != KindOf(batch->kind)) {
    const std::string_view wanted = batch->kind == FieldKind::kPicture ? "图片"
                                    : batch->kind == FieldKind::kMusic ? "音乐"
                                                                       : "视频";
    return Warn(window, "文件类型不支持，请选择" + std::string(wanted) + "文件！");
  }

  auto upload = std::make_shared<Upload>();
  try {
    upload->machine_id = batch->services.machine_id();
  } catch (const std::exception&) {
    return Warn(window, upload_text::kNoMachineId);
  }
  upload->path = path.toStdString();
  upload->scale = batch->kind == FieldKind::kPicture;
  Send(batch, upload);
}

}  // namespace

int MediaUploadsRunning() {
  return running_uploads;
}

QString ChosenFile(const QLineEdit* field) {
  return field->property(kChosenPath).toString();
}

void ShowChosenFile(QLineEdit* field, FieldKind kind, const QString& path) {
  MarkChosenFile(field, kind, path);
}

std::vector<std::string> ChooseMediaFiles(MediaKind kind, bool several) {
  QFileDialog dialog(QApplication::activeWindow(),
                     several ? QStringLiteral("选择文件（可多选）") : QStringLiteral("选择文件"),
                     StartFolder(kind), Filter(kind));
  dialog.setObjectName(QStringLiteral("MediaFileDialog"));
  dialog.setFileMode(several ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  UseChineseFileView(&dialog);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = ChosenFiles(dialog);
  std::vector<std::string> chosen;
  for (const QString& file : files) chosen.push_back(file.toStdString());
  if (!chosen.empty()) LastFolder() = QFileInfo(files.back()).absolutePath();
  return chosen;
}

void AddMediaPickers(const Style& style, const std::map<std::string, QWidget*, std::less<>>& boxes,
                     const ClientServices& services) {
  const auto is_media = [](FieldKind kind) {
    return kind == FieldKind::kPicture || kind == FieldKind::kMusic || kind == FieldKind::kVideo;
  };
  for (std::size_t r = 0; r < style.rows.size(); ++r) {
    const FieldRow& row = style.rows[r];
    if (!is_media(row.kind)) continue;
    auto* field = qobject_cast<QLineEdit*>(boxes.at(row.Name()));
    if (field == nullptr) continue;
    // The album this field belongs to: the run of picture rows around it.
    std::size_t first = r;
    while (first > 0 && style.rows[first - 1].kind == FieldKind::kPicture &&
           row.kind == FieldKind::kPicture)
      --first;
    std::size_t end = r + 1;
    while (end < style.rows.size() && style.rows[end].kind == FieldKind::kPicture &&
           row.kind == FieldKind::kPicture)
      ++end;
    const bool album = end - first > 1;
    std::vector<QLineEdit*> fields = {field};
    if (album) {
      for (std::size_t after = r + 1; after < end; ++after)
        if (auto* next = qobject_cast<QLineEdit*>(boxes.at(style.rows[after].Name())))
          fields.push_back(next);
    }

    // The button takes the right end of the box's place: nothing else on
    // the window moves, so nothing can come to overlap.
    QRect place = field->geometry();
    const QRect button_place(place.right() - kButtonWidth + 1, place.top(), kButtonWidth,
                             place.height());
    place.setRight(button_place.left() - kGap - 1);
    field->setGeometry(place);
    auto* button = new QPushButton(QString::fromUtf8(kPickText), field->parentWidget());
    button->setObjectName(QStringLiteral("Pick") + field->objectName());
    button->setGeometry(button_place);
    button->setFont(field->font());
    button->setToolTip(row.kind == FieldKind::kPicture
                           ? (album ? QStringLiteral("选择自己的图片上传，可一次选多张依次填入")
                                    : QStringLiteral("选择一张自己的图片上传"))
                       : row.kind == FieldKind::kMusic ? QStringLiteral("选择一首自己的音乐上传")
                                                       : QStringLiteral("选择一段自己的视频上传"));
    button->setProperty(kPickTip, button->toolTip());
    QWidget::setTabOrder(field, button);
    const FieldKind kind = row.kind;
    QObject::connect(button, &QPushButton::clicked, field,
                     [fields, kind, services] { PickMedia(fields, kind, services); });
  }
}

void PickMedia(const std::vector<QLineEdit*>& fields, FieldKind kind,
               const ClientServices& services) {
  if (fields.empty()) return;
  QPointer<QWidget> window = fields.front()->window();
  QStringList chosen;
  for (const std::string& file : services.choose_files(KindOf(kind), fields.size() > 1))
    chosen << QString::fromStdString(file);
  // The dialog waited for the user: the window may have closed meanwhile.
  if (chosen.isEmpty() || window.isNull()) return;
  // A dialog gives several files in no order the user can see: they fill
  // the fields in the order of their names, numbers by their value (2
  // before 10), as the folder lists them.
  QCollator by_name(QLocale(QLocale::Chinese, QLocale::China));
  by_name.setNumericMode(true);
  std::stable_sort(chosen.begin(), chosen.end(), [&](const QString& a, const QString& b) {
    return by_name.compare(QFileInfo(a).fileName(), QFileInfo(b).fileName()) < 0;
  });

  auto batch = std::make_shared<Batch>(services);
  batch->window = window;
  batch->kind = kind;
  // More files than fields: the rest have no place and are left out.
  for (qsizetype i = 0; i < chosen.size() && static_cast<std::size_t>(i) < fields.size(); ++i)
    batch->files.emplace_back(fields[static_cast<std::size_t>(i)], chosen[i]);
  SendNext(batch);
}

}  // namespace heartpage
