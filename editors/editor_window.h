#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <map>
#include <string>
#include <vector>

#include "pages/builders.h"
#include "publish/client_services.h"

class QAction;
class QCheckBox;
class QDateTimeEdit;
class QPushButton;
class QTimer;

namespace heartpage {

struct Rect;
struct WindowLayout;

// Editor window FGn: the style's fields in boxes named like "Text1(3)", the
// check box Check1 where the style has one, Command1 "预览网页" and Command2
// "上传网页". The builder reads the fields straight from the boxes.
class EditorWindow : public QWidget, public FieldSource {
  Q_OBJECT

 public:
  EditorWindow(int style, const ClientServices& services);
  ~EditorWindow() override;

  int style() const { return style_; }

  // The box's text exactly as typed; multi-line boxes give their line breaks
  // as CR LF. The opening moment is "YYYY-MM-DD HH:MM" in local time while
  // "定时开启：" is ticked, else empty. A month box takes the month as the calendar numbers it and
  // gives it as the pages count it, from 0.
  std::string Value(std::string_view field) const override;
  bool Checked() const override;

  // Command1: checks the fields, builds the page and previews it.
  void Preview();
  // Command2: checks the fields, builds the page and shows the upload dialog.
  void UploadPage();
  // Command3 "手机预览": builds the page and previews it in a phone-sized frame.
  void PhonePreview();
  // Command4 "扫码预览": builds the page, stores it at a temporary address and
  // shows that address's QR code.
  void ScanPreview();
  // "恢复默认": after a question, the defaults in every field and no draft.
  void RestoreDefaults();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Build(const WindowLayout& layout);
  // Build's parts: a command, in the command bar where there is one; the
  // field boxes, check box and pickers in Tab order; the question's and the
  // gate's bars under the fields, their boxes appended to `chain`.
  QPushButton* AddCommand(QWidget* parent, const char* text, const char* name, const Rect& rect,
                          int row_height, void (EditorWindow::*run)());
  std::vector<QWidget*> FieldsInTabOrder(const WindowLayout& layout,
                                         const std::map<int, QWidget*>& pickers) const;
  void AddQuestionAndGate(QWidget* parent, int top, const WindowLayout& layout,
                          std::vector<QWidget*>& chain);
  void FillDefaults();
  bool IsMonth(std::string_view field) const;
  // Ticks "定时开启：" with the moment of `local` ("YYYY-MM-DD HH:MM"), or
  // leaves it unticked when that is no moment.
  void ShowOpens(const std::string& local);
  // What the box of `field` shows for the field's value `value`.
  QString Shown(std::string_view field, const std::string& value) const;
  // Fills in the saved draft, if any, over the defaults.
  void RestoreDraft();
  // Saves the fields as the style's draft when they changed since the last
  // save (the debounce timer's end, closing, going).
  void SaveDraftNow();
  QString DraftFolder() const { return QString::fromStdString(services_.draft_directory); }
  void FieldChanged();
  // Every field box, the check box and the buttons report changes and keep
  // to their limits; called once the boxes hold their first text.
  void Watch();
  void NumberLabels();
  // Tries the addresses and dates off the windows' thread and, when
  // something looks wrong, asks whether to go on anyway; then does `then`.
  // Nothing is done when the user goes back to the fields, when the window
  // closes first, or when a check of this window is already running.
  void AfterChecks(void (EditorWindow::*then)());
  // The fields as they are now, for the check to read on its own thread.
  FieldMap Snapshot() const;
  void ShowPreview();
  void ShowPhonePreview();
  void ShowScanPreviewNow();
  void ShowUpload();
  void RunPreview(bool phone);

  int style_;
  ClientServices services_;
  // Where the fields stand: the window itself, or the inside of a scroll
  // area when the designed window is larger than the screen.
  QWidget* surface_;
  std::map<std::string, QWidget*, std::less<>> boxes_;
  QCheckBox* check_ = nullptr;
  QCheckBox* opens_set_ = nullptr;
  QDateTimeEdit* opens_ = nullptr;
  // Where the four commands stand when the window scrolls: always in sight.
  QWidget* command_bar_ = nullptr;
  std::vector<QPushButton*> commands_;
  QAction* restore_ = nullptr;
  QTimer* draft_timer_ = nullptr;
  bool checking_ = false;
  // The fields hold something no draft has yet, since when.
  bool unsaved_ = false;
  QElapsedTimer unsaved_since_;
  // Text is being put in by the window itself, not typed.
  bool filling_ = false;
};

}  // namespace heartpage
