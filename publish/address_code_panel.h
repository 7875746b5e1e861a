#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <string_view>

#include "publish/page_source.h"
#include "publish/upload.h"

class QImage;
class QLabel;
class QPushButton;
class QWidget;

namespace heartpage {

// Below the upload dialog's designed controls once a page is published: the
// QR code of its address with its three buttons, "保存二维码", "保存海报" and
// "复制海报", and the poster they make of that page. Its controls stand on
// the dialog's surface among the others, where the dialog's layout puts
// them; what it has to say goes to the dialog's status.
class AddressCodePanel final : public QObject {
  Q_OBJECT

 public:
  using Say = std::function<void(std::string_view text, StatusKind kind)>;
  // `surface` carries the controls, `dialogs` parents the file dialogs.
  AddressCodePanel(QWidget* surface, QWidget* dialogs, Say say);

  // The code of `address` at `top`, about `pixels` square, for the page
  // published under `name`; answers the height it and its buttons take, or
  // 0 where the address makes no code (nothing is shown then).
  int Show(const std::string& address, const std::string& name, int top, int pixels);
  void Hide();
  bool shown() const { return !address_.empty(); }
  const std::string& address() const { return address_; }
  const std::string& name() const { return name_; }

  // The page the poster is made of: the one published last.
  void SetPage(const BuiltPage& page) { page_ = page; }
  // Its buttons come next after `before` as Tab goes.
  void FollowInTabOrder(QWidget* before);

  void SaveQrCode();
  void SavePoster();
  void CopyPoster();
  bool making_poster() const { return making_poster_; }

 private:
  void Tell(std::string_view text) { say_(text, KindOfStatus(text)); }
  // Made off the windows' thread, then handed to `then`.
  void MakePoster(std::function<void(const QImage& poster)> then);

  QWidget* dialogs_;
  Say say_;
  QLabel* code_ = nullptr;
  QPushButton* save_code_ = nullptr;
  QPushButton* save_poster_ = nullptr;
  QPushButton* copy_poster_ = nullptr;
  std::string address_;
  std::string name_;
  BuiltPage page_;
  bool making_poster_ = false;
};

}  // namespace heartpage
