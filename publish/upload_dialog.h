#pragma once

#include <QWidget>

#include "publish/upload.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace heartpage {

// The upload dialog SCCT: the file name Text1, Command1 "确认上传", the status
// label ts, the address box Text3 and Command2 "点击复制". What to send and
// what to say is decided by Upload and CopyStatus; the dialog only binds them
// to its controls, to the working page and to the owned name.
class UploadDialog : public QWidget {
  Q_OBJECT

 public:
  explicit UploadDialog(UploadServices services);

  // Command1: uploads the page built last under the name in Text1, off the
  // windows' thread; the outcome shows when it comes. Ignored while an
  // upload of this dialog is still waiting for the server.
  void Confirm();
  // Command2: copies the address to the clipboard.
  void Copy();
  // "保存二维码": asks where (a file dialog, the name's PNG proposed) and
  // saves the QR code of the address shown.
  void SaveQrCode();
  // Command3 "撤下网页", shown while this machine owns a name: asks for
  // confirmation (a window-modal box, "TakeDownConfirm"), then takes the
  // page down; the name stays owned.
  void AskTakeDown();

  bool uploading() const { return uploading_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Load();
  void ShowStatus(std::string_view text);
  void ShowAddress(const QString& address);
  void SetName(const QString& name);
  void ShowNameMenu(const QPoint& global);
  void ShowQrCode(const std::string& address, const std::string& name);
  // The address it showed is gone (another machine's name, or taken down).
  void HideQrCode();
  void TakeDownNow();
  // The outcome of Confirm's upload, back from the server.
  void Finish(const UploadOutcome& outcome);
  // Command3 is there while a name is owned.
  void ShowOwned(bool owned);

  UploadServices services_;
  QLineEdit* name_ = nullptr;
  QPushButton* confirm_ = nullptr;
  QPushButton* take_down_ = nullptr;
  QLabel* status_ = nullptr;
  QPlainTextEdit* address_ = nullptr;
  QLabel* qr_ = nullptr;
  QPushButton* save_qr_ = nullptr;
  std::string qr_address_;
  std::string qr_name_;
  bool uploading_ = false;
  bool close_pending_ = false;
};

// The services of a real upload: the publishing server's endpoint and this
// machine's disk serial number.
UploadServices DefaultUploadServices();

// The services dialogs are created with now; the editors' file uploads use
// its machine identifier too.
const UploadServices& ConfiguredUploadServices();

// Replaces the services of dialogs created from now on (the tests' servers
// and machine identifiers); an empty poster or identifier keeps the default.
void SetUploadServices(UploadServices services);
// The services in force (those of SetUploadServices, else the defaults);
// 扫码预览 uses them too.
const UploadServices& ConfiguredUploadServices();

// Shows the one upload dialog: a new one (loaded from the owned name) when
// none is open, else the open one with its present contents.
UploadDialog* ShowUploadDialog();

// The open upload dialog, or nullptr.
UploadDialog* OpenUploadDialog();

}  // namespace heartpage
