// The editor window's commands: the checks before them, the previews, 扫码预览
// and the upload dialog.
#include <QMessageBox>
#include <QPointer>
#include <utility>

#include "editors/check_prompt.h"
#include "editors/editor_window.h"
#include "pages/question.h"
#include "pages/styles.h"
#include "preview/preview.h"
#include "protocol/host.h"
#include "publish/field_checks.h"
#include "publish/page_gate.h"
#include "publish/scan_preview_window.h"
#include "publish/upload_dialog.h"
#include "tasks/background.h"

namespace heartpage {

FieldMap EditorWindow::Snapshot() const {
  FieldMap fields;
  for (const FieldRow& row : GetStyle(style_).rows) fields.values[row.Name()] = Value(row.Name());
  for (const auto& [field, standard] : question::kDefaults)
    fields.values[std::string(field)] = Value(field);
  for (const std::string_view field : gate::kFields)
    fields.values[std::string(field)] = Value(field);
  fields.checked = Checked();
  return fields;
}

void EditorWindow::AfterChecks(void (EditorWindow::*then)()) {
  // The window answers while the check waits: a second click meanwhile, on
  // any of the buttons, starts nothing.
  if (checking_) return;
  checking_ = true;
  setCursor(Qt::BusyCursor);
  const bool upload = then == &EditorWindow::ShowUpload;
  // Offline, a preview shows the host's own files from the program's
  // copies: they are not tried, and that is said once instead.
  const bool offline = !upload && services_.offline && services_.offline();
  RunInBackground(
      this,
      [style = style_, fields = Snapshot(), upload, offline] {
        CheckOptions options;
        options.sample_text = true;
        if (offline) options.skip_origin = PublishingOrigin();
        std::vector<Finding> findings = CheckFields(GetStyle(style), fields, options);
        // How the page opens matters to its publication only; a preview
        // shows the page whatever its moment or code.
        if (upload) {
          std::vector<Finding> gate = GateFindings(fields, std::chrono::system_clock::now());
          findings.insert(findings.end(), gate.begin(), gate.end());
        }
        return findings;
      },
      [this, then, offline](const std::vector<Finding>& findings) {
        unsetCursor();
        checking_ = false;
        static bool told_offline = false;
        if (offline && !std::exchange(told_offline, true) && services_.show_notice)
          services_.show_notice(
              {std::string(kOfflinePreviewNote), "提示", NoticeIcon::kInformation});
        if (findings.empty() || ConfirmFindings(this, findings)) (this->*then)();
      });
}

void EditorWindow::Preview() {
  AfterChecks(&EditorWindow::ShowPreview);
}

void EditorWindow::PhonePreview() {
  AfterChecks(&EditorWindow::ShowPhonePreview);
}

void EditorWindow::ScanPreview() {
  AfterChecks(&EditorWindow::ShowScanPreviewNow);
}

void EditorWindow::ShowScanPreviewNow() {
  ShowScanPreview(BuildStyle(style_, *this), services_);
}

void EditorWindow::ShowPreview() {
  RunPreview(/*phone=*/false);
}

void EditorWindow::ShowPhonePreview() {
  RunPreview(/*phone=*/true);
}

void EditorWindow::RunPreview(bool phone) {
  std::string page = BuildStyle(style_, *this);
  if (services_.preview_page) page = services_.preview_page(page);
  // The file stays until this editor's next preview replaces it or the
  // program ends: a browser that starts cold may read it seconds later.
  PreviewHooks hooks{services_.open_target, services_.later, {}, /*keep=*/true};
  const std::filesystem::path base =
      services_.preview_directory ? services_.preview_directory() : PreviewDirectory();
  hooks.directory = [base, owner = "FG" + std::to_string(style_)] {
    return KeptPreviewFolder(base, owner);
  };
  const std::optional<std::string> error =
      phone ? WritePhonePreview(page, hooks) : WritePreview(page, hooks);
  if (error) {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("提示"),
                                QString::fromStdString(*error), QMessageBox::Ok,
                                isVisible() ? this : nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("PreviewError"));
    box->open();
  }
}

void EditorWindow::UploadPage() {
  AfterChecks(&EditorWindow::ShowUpload);
}

// The dialog builds this window's page from its fields when the upload is
// confirmed, and knows when the window has gone.
void EditorWindow::ShowUpload() {
  ShowUploadDialog(EditorPageSource(style_,
                                    [self = QPointer<EditorWindow>(this)]() -> const FieldSource* {
                                      return self.data();
                                    }),
                   services_);
}

}  // namespace heartpage
