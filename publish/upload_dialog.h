#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <functional>
#include <optional>

#include "publish/client_services.h"
#include "publish/page_source.h"
#include "publish/upload.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;

namespace heartpage {

class AddressCodePanel;
struct NameActOutcome;
class PageSummaryPanel;
class ReceiptLabel;

// The upload dialog SCCT: the file name Text1, Command1 "确认上传", the status
// label ts, the address box Text3 and Command2 "点击复制". It publishes the
// page of the editor that showed it last, built from that editor's fields
// when the upload is confirmed, and shows above the name what that page is.
// What to send and what to say is decided by Upload and CopyStatus; the
// dialog only binds them to its controls and to the owned name.
class UploadDialog : public QWidget {
  Q_OBJECT

 public:
  explicit UploadDialog(const ClientServices& services);

  // The page to publish from now on; the summary shows it at once.
  void SetSource(PageSource source);

  // Command1: uploads the page under the name in Text1, off the windows'
  // thread; the outcome shows when it comes. A name this machine does not
  // own yet is first confirmed with its whole address (a window-modal box,
  // "NameConfirm"), once per name. Ignored while an upload or a question of
  // this dialog is still waiting.
  void Confirm();
  // Command2: copies the address to the clipboard.
  void Copy();
  // "保存二维码": asks where (a file dialog, the name's PNG proposed) and
  // saves the QR code of the address shown.
  void SaveQrCode();
  // "保存海报" and "复制海报", beside the QR code after a page is published:
  // the poster of that page (its picture, its first line or else its title,
  // the QR code of its address), saved where the user says (a file dialog,
  // "SavePosterDialog") or put on the clipboard as an image. Made off the
  // windows' thread; `making_poster()` meanwhile.
  void SavePoster();
  void CopyPoster();
  bool making_poster() const;
  // Command3 "撤下网页", shown while this machine owns a name: asks for
  // confirmation (a window-modal box, "TakeDownConfirm"), then takes the
  // page down; the name stays owned.
  void AskTakeDown();
  // Command4 "更换名字", shown while this machine owns a name: asks for
  // confirmation ("ReleaseConfirm"), then gives the name up with its page,
  // and the name box opens for another.
  void AskChangeName();

  bool uploading() const { return doing_ == Doing::kSending; }
  // A name is being looked up before its question, or the server asked what
  // is online after an upload that went unanswered.
  bool checking() const { return doing_ == Doing::kCheckingName || doing_ == Doing::kVerifying; }

  // Enter presses the focused button: where the page online is the one the
  // editor holds, that is "点击复制", so that looking at her answer never
  // stores the page again.
  void FocusWhatEnterShouldDo();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // What the dialog is doing now: one thing at a time. Only a poster is
  // made beside it (AddressCodePanel), and the look after an unanswered
  // upload gives way to whatever she starts meanwhile.
  enum class Doing {
    kNothing,
    kCheckingName,  // the typed name looked up before its question
    kAsking,        // a question box open
    kSending,       // an upload, a take-down or a name given up, on its way
    kVerifying,     // after an unanswered upload: what the server has now
  };
  // Whether "确认上传" and the questions wait for what is under way.
  bool Busy() const { return doing_ != Doing::kNothing && doing_ != Doing::kVerifying; }

  void Load();
  void ShowStatus(std::string_view text);
  void ShowStatus(std::string_view text, StatusKind kind);
  void ShowAddress(const QString& address);
  // The owned page's address, labelled as the page online now (not as the
  // outcome of an upload), with when it was stored where known.
  void ShowCurrentPage(const std::string& name);
  void ShowStoredAt(const std::string& utc);
  void FetchStoredAt(const std::string& name);
  void SetName(const QString& name);
  void PasteName(const QString& text);
  void ShowNameMenu(const QPoint& global);
  void ShowQrCode(const std::string& address, const std::string& name);
  // The address it showed is gone (another machine's name, or taken down).
  void HideQrCode();
  // The controls take `height` from now on; the window shows as much of
  // them as its screen has room for and scrolls the rest.
  void SetContentHeight(int height);
  // Keeps the whole window on its screen after it grew.
  void KeepOnScreen();
  // The title bar and borders the system adds, as far as known.
  int FrameHeight() const;
  int FrameWidth() const;
  // The height of the designed controls and the receipt under them, which
  // grows with the lines of earlier versions; the QR code goes below.
  int BaseHeight() const;
  // The receipt, the QR code and the window's size, after either changed.
  void Relayout();
  // What the visitor of the page online meets before it: its moment, its
  // code. After an upload of this opening, as it was sent; else as the
  // receipt tells, once it has come.
  void ShowGate(const std::string& opens_utc, bool has_code);
  void ShowGateOfReceipt();
  // The height that line takes under the buttons; 0 without one.
  int GateHeight() const;
  // Looks `name` up, then asks about it only when it is free (or this
  // machine's already).
  void CheckThenAsk(const std::string& name, const std::string& typed);
  // After an upload that went unanswered: what the server has under `name`
  // now, said beside `failure`; a store that got through all the same is
  // the success it was.
  // What the server says this machine owns, asked off the windows' thread;
  // nothing when it cannot be reached.
  void FetchOwnedPageThen(std::function<void(const std::optional<OwnedPage>& owned)> then);
  void AskWhatIsOnline(const std::string& name, const std::optional<std::string>& stored_before,
                       const std::string& failure);
  // Builds the page from the source now; falls back on the page last shown
  // when the editor is gone.
  std::optional<BuiltPage> BuildNow();
  void RefreshSummary();
  // `checked`: what CheckThenAsk found of the name a moment ago.
  void Upload(const std::string& typed, std::optional<NameCheck> checked = std::nullopt);
  void TakeDownNow();
  void ReleaseNow();
  // Sends `act` for the owned name off the windows' thread; `done` runs
  // once the server has done it.
  void ActOnOwnedName(NameActOutcome (*act)(std::string_view, const UploadServices&),
                      std::function<void()> done);
  // The outcome of Confirm's upload, back from the server.
  void Finish(const UploadOutcome& outcome);
  // Commands 3 and 4 are there while a name is owned.
  void ShowOwned(bool owned);
  // A window-modal question; `yes` or `no` runs as it is answered.
  void Ask(const char* name, const QString& text, bool yes_by_default, std::function<void()> yes,
           std::function<void()> no = {});
  // No page of this machine's is online any more (taken down, its name given
  // up or owned by another): its address, time, receipt and QR code go.
  void ForgetPageOnline();
  void Done();

  UploadServices services_;
  PageSource source_;
  std::optional<BuiltPage> built_;
  PageSummaryPanel* summary_ = nullptr;
  QLineEdit* name_ = nullptr;
  QPushButton* confirm_ = nullptr;
  QPushButton* copy_ = nullptr;
  QPushButton* take_down_ = nullptr;
  QPushButton* change_name_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* address_caption_ = nullptr;
  QLabel* stored_at_ = nullptr;
  ReceiptLabel* receipt_ = nullptr;
  QLabel* gate_ = nullptr;
  // The settings of the page published in this opening, which the receipt
  // of an older server does not tell.
  std::optional<wire::PageSettings> published_settings_;
  QPlainTextEdit* address_ = nullptr;
  QWidget* surface_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  AddressCodePanel* code_panel_ = nullptr;
  // The page of the upload under way.
  BuiltPage uploading_page_;
  // The new name the user confirmed with its address.
  std::string confirmed_name_;
  // The last press of "确认上传" by the mouse: a second one within the
  // double-click time is the second half of a double click.
  QElapsedTimer last_press_;
  // Whether the owned name has a page that the next upload replaces.
  bool page_online_ = false;
  Doing doing_ = Doing::kNothing;
  // When the page online was stored, as the server last said ("YYYY-MM-DD
  // HH:MM:SS", UTC; empty for no page); std::nullopt when not known, as
  // after an upload of this opening.
  std::optional<std::string> server_stored_at_;
  // Closed while something was under way: gone once it is done.
  bool close_when_done_ = false;
};

// Shows the one upload dialog for the page of `source`: a new one (loaded
// from the owned name) on `services` when none is open, else the open one
// with its present contents, now for this page.
UploadDialog* ShowUploadDialog(PageSource source, const ClientServices& services);

// The open upload dialog, or nullptr.
UploadDialog* OpenUploadDialog();

}  // namespace heartpage
