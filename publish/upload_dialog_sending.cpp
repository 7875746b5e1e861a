// The upload dialog's upload: sent, answered or not, and what is online after it.
#include "publish/upload_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "pages/holder.h"
#include "protocol/host.h"
#include "publish/address_code_panel.h"
#include "publish/page_gate.h"
#include "publish/receipt_label.h"
#include "publish/receipts.h"
#include "publish/upload_dialog_parts.h"
#include "tasks/background.h"

namespace heartpage {
namespace {

// The page this program last published, and under which name: a dialog of
// later opens knows whether the editor still holds what is online.
struct Published {
  std::string name;
  BuiltPage page;
};
Published& LastPublished() {
  static Published published;
  return published;
}

}  // namespace

void UploadDialog::Upload(const std::string& typed, std::optional<NameCheck> checked) {
  if (doing_ == Doing::kSending) return;
  // Built now from the editor's fields: what was typed since "上传网页" goes
  // too, and what another editor built meanwhile does not.
  const std::optional<BuiltPage> built = BuildNow();
  if (!built) return ShowStatus(upload_text::kNoPage);
  RefreshSummary();
  doing_ = Doing::kSending;
  uploading_page_ = *built;
  ShowStatus(upload_text::kUploading);
  setCursor(Qt::BusyCursor);
  const bool locked = !name_->isEnabled();
  RunInBackground(
      this,
      [typed, locked, page = built->page, settings = built->settings, services = services_,
       checked] {
        return heartpage::Upload(typed, locked, page, services, checked ? &*checked : nullptr,
                                 settings);
      },
      [this, stored_before = locked ? server_stored_at_ : std::optional<std::string>("")](
          const UploadOutcome& outcome) {
        Finish(outcome);
        if (outcome.unanswered && !close_when_done_)
          AskWhatIsOnline(outcome.name, stored_before, outcome.status);
      });
}

void UploadDialog::FetchOwnedPageThen(
    std::function<void(const std::optional<OwnedPage>& owned)> then) {
  RunInBackground(
      this,
      [services = services_]() -> std::optional<OwnedPage> {
        try {
          return FetchOwnedPage(services.machine_id(), services.post);
        } catch (const std::exception&) {
          return std::nullopt;
        }
      },
      std::move(then));
}

void UploadDialog::AskWhatIsOnline(const std::string& name,
                                   const std::optional<std::string>& stored_before,
                                   const std::string& failure) {
  doing_ = Doing::kVerifying;
  FetchOwnedPageThen([this, name, stored_before, failure](const std::optional<OwnedPage>& owned) {
    // The user has moved on meanwhile: what she does now decides.
    if (doing_ != Doing::kVerifying) return;
    doing_ = Doing::kNothing;
    // Not reached again: nothing more is known.
    if (!owned) return;
    if (owned->name != name) return ShowStatus(failure + std::string(upload_text::kNothingOnline));
    if (stored_before && !owned->stored_at.empty() && owned->stored_at != *stored_before) {
      // The store got there after all: this upload's page is online.
      Finish({true, name, std::string(upload_text::kUploaded), PageAddress(name), name, false});
      server_stored_at_ = owned->stored_at;
      return;
    }
    // The claim got there, or a page from before is online.
    GGCT::Get().ZCYN = name;
    name_->setEnabled(false);
    ShowOwned(true);
    server_stored_at_ = owned->stored_at;
    page_online_ = !owned->stored_at.empty();
    std::string said(upload_text::kNameKeptNoPage);
    if (page_online_) {
      ShowCurrentPage(name);
      ShowStoredAt(owned->stored_at);
      said = stored_before ? std::string(upload_text::kBeforeStillOnline)
                           : upload_text::OnlineSince(LocalTimeText(owned->stored_at));
    }
    RefreshSummary();
    ShowStatus(failure + said);
  });
}

void UploadDialog::Finish(const UploadOutcome& outcome) {
  if (outcome.uploaded) {
    page_online_ = true;
    code_panel_->SetPage(uploading_page_);
    LastPublished() = {outcome.name, uploading_page_};
    SetName(Q(outcome.name));
    ShowAddress(Q(outcome.address));
    address_caption_->setText(Q(upload_text::kAddressCaption));
    ShowStoredAt(NowUtc());
    published_settings_ = uploading_page_.settings;
    ShowGate(published_settings_->opens, !published_settings_->code.empty());
    ShowQrCode(outcome.address, outcome.name);
    // The server's own time of this store is not known here.
    server_stored_at_.reset();
    NotePagePublished();
    // A dialog closed during its upload has nobody to show the receipt to.
    if (isVisible()) receipt_->Fetch(outcome.name, services_);
  } else if (!outcome.owned_name.empty() && page_online_) {
    // What is online is the page from before, not this upload's.
    ShowCurrentPage(outcome.owned_name);
  }
  // A name the server gives to another machine is no longer this one's: the
  // box opens for another.
  GGCT::Get().ZCYN = outcome.owned_name;
  name_->setEnabled(outcome.owned_name.empty());
  ShowOwned(!outcome.owned_name.empty());
  // Without a name owned there is no page of this machine's to show: in
  // particular no earlier address beside the failure as if it were its
  // outcome.
  if (outcome.owned_name.empty()) ForgetPageOnline();
  RefreshSummary();
  ShowStatus(outcome.status);
  Done();
  if (outcome.uploaded) FocusWhatEnterShouldDo();
}

void UploadDialog::FocusWhatEnterShouldDo() {
  const std::string& owned = GGCT::Get().ZCYN;
  const Published& last = LastPublished();
  const std::optional<BuiltPage> built = BuildNow();
  if (owned.empty() || !page_online_ || last.name != owned || !built) return;
  if (built->page == last.page.page && built->settings == last.page.settings) copy_->setFocus();
}

void UploadDialog::ForgetPageOnline() {
  page_online_ = false;
  address_caption_->setText(Q(upload_text::kAddressCaption));
  address_->clear();
  stored_at_->clear();
  server_stored_at_ = std::string();
  receipt_->Forget();
  published_settings_.reset();
  gate_->clear();
  HideQrCode();
}

void UploadDialog::Done() {
  doing_ = Doing::kNothing;
  unsetCursor();
  if (close_when_done_) deleteLater();
}

}  // namespace heartpage
