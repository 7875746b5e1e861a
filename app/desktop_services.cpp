#include "app/desktop_services.h"

#include <QStandardPaths>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <string_view>
#include <utility>

#include "app/single_instance.h"
#include "app/startup.h"
#include "controls/chinese_font.h"
#include "editors/draft_store.h"
#include "editors/media_picker.h"
#include "machine/disk_serial.h"
#include "preview/preview.h"
#include "protocol/host.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

constexpr std::string_view kQuitWhileUploadingText = "正在上传，确定退出吗？";

void ShowMessageBox(const Notice& notice) {
  QMessageBox box(
      notice.icon == NoticeIcon::kExclamation ? QMessageBox::Warning : QMessageBox::Information,
      QString::fromStdString(notice.title), QString::fromStdString(notice.text), QMessageBox::Ok);
  box.setFont(ChineseFont(ChineseFace::kSongTi, 9));
  box.exec();
}

// The choice is what the user most likely came for, so Enter takes it, and
// so does leaving the notice (Escape, its close button): a newcomer reads
// that as "dismiss", not as "end the program". Only "退出" declines.
bool OfferChoice(const Notice& notice, const std::string& choice) {
  QMessageBox box(
      notice.icon == NoticeIcon::kExclamation ? QMessageBox::Warning : QMessageBox::Information,
      QString::fromStdString(notice.title), QString::fromStdString(notice.text));
  box.setObjectName(QStringLiteral("NoticeWithChoice"));
  QPushButton* chosen = box.addButton(QString::fromStdString(choice), QMessageBox::AcceptRole);
  QPushButton* quit = box.addButton(QStringLiteral("退出"), QMessageBox::RejectRole);
  quit->setObjectName(QStringLiteral("Quit"));
  box.setDefaultButton(chosen);
  box.setEscapeButton(chosen);
  box.setFont(ChineseFont(ChineseFace::kSongTi, 9));
  box.exec();
  return box.clickedButton() != quit;
}

bool AskToQuitWhileUploading() {
  QMessageBox box(QMessageBox::Question, Q(kNoticeTitle), Q(kQuitWhileUploadingText),
                  QMessageBox::Yes | QMessageBox::No);
  box.setObjectName(QStringLiteral("QuitWhileUploading"));
  box.button(QMessageBox::Yes)->setText(QStringLiteral("退出"));
  box.button(QMessageBox::No)->setText(QStringLiteral("继续上传"));
  box.setDefaultButton(QMessageBox::No);
  box.setFont(ChineseFont(ChineseFace::kSongTi, 9));
  return box.exec() == QMessageBox::Yes;
}

// From a timer: nothing waits for it, the window that asked included. A
// program that ends first runs it as it ends (the preview's file is deleted).
void Later(std::chrono::milliseconds delay, std::function<void()> then) {
  QCoreApplication* app = QCoreApplication::instance();
  auto* timer = new QTimer(app);
  timer->setSingleShot(true);
  auto pending = std::make_shared<std::function<void()>>(std::move(then));
  const auto run = [timer, pending] {
    if (const std::function<void()> once = std::exchange(*pending, nullptr)) once();
    timer->deleteLater();
  };
  QObject::connect(timer, &QTimer::timeout, timer, run);
  QObject::connect(app, &QCoreApplication::aboutToQuit, timer, run);
  timer->start(delay);
}

}  // namespace

ClientServices DesktopServices() {
  ClientServices services;
  services.post = [](const std::string& body, const PostLimits& limits) {
    return PostFormChecked(EndpointAddress(), body, limits);
  };
  services.machine_id = [] { return GetDiskSerial(); };
  services.open_target = [](const std::string& target) { return OpenTarget(target); };
  services.show_notice = ShowMessageBox;
  services.offer_choice = OfferChoice;
  services.confirm_quit = AskToQuitWhileUploading;
  services.choose_files = ChooseMediaFiles;
  services.later = Later;
  services.preview_directory = PreviewDirectory;
  services.draft_directory = UserDraftFolder().toStdString();
  services.instance_directory = InstanceLock::DefaultDirectory().toStdString();
  services.answers_directory =
      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
  return services;
}

}  // namespace heartpage
