#include "publish/address_code_panel.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <algorithm>
#include <optional>

#include "controls/file_dialogs.h"
#include "controls/twips.h"
#include "net/form_post.h"
#include "publish/poster.h"
#include "publish/qr_image.h"
#include "publish/upload_dialog_parts.h"
#include "tasks/background.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

// As wide as "点击复制" above them.
const QRect kCopyButton = PxRect(5160, 3720, 2055, 495);

// Where to save a PNG, `file` proposed. Not the platform's own dialog: one
// look everywhere, and one the tests can answer. Opened without blocking,
// like everything else here, by the caller once it is connected.
QFileDialog* SaveChooser(QWidget* parent, const QString& title, const char* name,
                         const std::string& file) {
  auto* chooser = new QFileDialog(parent, title, QString(), QStringLiteral("PNG 图片 (*.png)"));
  chooser->setObjectName(QString::fromLatin1(name));
  chooser->setAttribute(Qt::WA_DeleteOnClose);
  UseChineseFileView(chooser);
  chooser->setAcceptMode(QFileDialog::AcceptSave);
  chooser->setDefaultSuffix(QStringLiteral("png"));
  chooser->selectFile(Q(file));
  return chooser;
}

}  // namespace

AddressCodePanel::AddressCodePanel(QWidget* surface, QWidget* dialogs, Say say)
    : QObject(dialogs), dialogs_(dialogs), say_(std::move(say)) {
  code_ = new QLabel(surface);
  code_->setObjectName(QStringLiteral("QrCode"));
  code_->hide();
  save_code_ =
      upload_dialog::AddButton(surface, "SaveQrCode", QStringLiteral("保存二维码"), QRect());
  save_code_->hide();
  connect(save_code_, &QPushButton::clicked, this, &AddressCodePanel::SaveQrCode);
  save_poster_ = upload_dialog::AddButton(surface, "SavePoster", Q(poster_text::kSave), QRect());
  save_poster_->hide();
  connect(save_poster_, &QPushButton::clicked, this, &AddressCodePanel::SavePoster);
  copy_poster_ = upload_dialog::AddButton(surface, "CopyPoster", Q(poster_text::kCopy), QRect());
  copy_poster_->hide();
  connect(copy_poster_, &QPushButton::clicked, this, &AddressCodePanel::CopyPoster);
}

int AddressCodePanel::Show(const std::string& address, const std::string& name, int top,
                           int pixels) {
  const std::optional<QrCode> code = QrCode::Encode(address);
  if (!code) return 0;
  address_ = address;
  name_ = name;
  const QImage image = QrImage(*code, QrScaleFor(*code, pixels));
  code_->setPixmap(QPixmap::fromImage(image));
  code_->setGeometry(Px(600), top, image.width(), image.height());
  // Beside the code, the three buttons about it, centred on the code's
  // height.
  const int gap = kCopyButton.height() / 3;
  const int buttons = 3 * kCopyButton.height() + 2 * gap;
  int button_top = top + (image.height() - buttons) / 2;
  for (QPushButton* button : {save_code_, save_poster_, copy_poster_}) {
    button->setGeometry(kCopyButton.left(), std::max(top, button_top), kCopyButton.width(),
                        kCopyButton.height());
    button_top += kCopyButton.height() + gap;
    button->show();
  }
  code_->show();
  // A code shrunk below the buttons' height leaves them their own.
  return std::max(image.height(), buttons);
}

void AddressCodePanel::FollowInTabOrder(QWidget* before) {
  QWidget::setTabOrder(before, save_code_);
  QWidget::setTabOrder(save_code_, save_poster_);
  QWidget::setTabOrder(save_poster_, copy_poster_);
}

void AddressCodePanel::Hide() {
  code_->hide();
  save_code_->hide();
  save_poster_->hide();
  copy_poster_->hide();
  address_.clear();
}

void AddressCodePanel::SaveQrCode() {
  if (address_.empty()) return;
  QFileDialog* chooser =
      SaveChooser(dialogs_, QStringLiteral("保存二维码"), "SaveQrCodeDialog", name_ + ".png");
  connect(chooser, &QFileDialog::fileSelected, this,
          [this, address = address_](const QString& file) {
            Tell(SaveQrPng(address, file, 4 * upload_dialog::kQrPixels) ? qr_text::kSaved
                                                                        : qr_text::kNotSaved);
          });
  chooser->open();
}

void AddressCodePanel::MakePoster(std::function<void(const QImage& poster)> then) {
  if (address_.empty() || making_poster_) return;
  making_poster_ = true;
  say_(poster_text::kMaking, StatusKind::kProgress);
  RunInBackground(
      this,
      [page = page_, address = address_] {
        // The sender's own pictures are on the server already: the poster
        // takes the first that comes within a few seconds.
        const PictureFetch fetch = [](const std::string& picture) -> std::optional<std::string> {
          PostLimits limits;
          limits.total = std::chrono::seconds(20);
          FetchResult got = FetchAddress(picture, limits);
          if (!got.ok) return std::nullopt;
          return std::move(got.bytes);
        };
        // The first line is the page's own words, which a page held back
        // keeps to itself until it opens.
        const wire::PageSettings& gate = page.settings;
        const bool code = !gate.code.empty();
        const QString line = HeldBack(gate.opens, code) ? QString() : Q(page.first_line);
        return DrawPoster(PosterContentOf(page.page, address, line, fetch, gate.opens, code));
      },
      [this, then = std::move(then)](const QImage& poster) {
        making_poster_ = false;
        if (poster.isNull()) return Tell(poster_text::kNotSaved);
        then(poster);
      });
}

void AddressCodePanel::SavePoster() {
  if (address_.empty() || making_poster_) return;
  QFileDialog* chooser =
      SaveChooser(dialogs_, Q(poster_text::kSave), "SavePosterDialog", name_ + "-poster.png");
  connect(chooser, &QFileDialog::fileSelected, this, [this](const QString& file) {
    MakePoster([this, file](const QImage& poster) {
      Tell(poster.save(file, "PNG") ? poster_text::kSaved : poster_text::kNotSaved);
    });
  });
  chooser->open();
}

void AddressCodePanel::CopyPoster() {
  MakePoster([this](const QImage& poster) {
    QGuiApplication::clipboard()->setImage(poster);
    Tell(poster_text::kCopied);
  });
}

}  // namespace heartpage
