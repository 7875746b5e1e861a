#pragma once

#include <QWidget>
#include <string>

class QLabel;

namespace heartpage {

struct BuiltPage;

// The top of the upload dialog: what "确认上传" will publish (the style's
// picture and name, the page's title, the message's first line) and, while
// the machine has a page online, that this one replaces it.
class PageSummaryPanel : public QWidget {
 public:
  explicit PageSummaryPanel(QWidget* parent);

  // `replaced`: the address of the page this one replaces; empty for none.
  // `note`: what becomes of what came back from it, said with it.
  void Show(int style, const BuiltPage& page, const std::string& replaced,
            const std::string& note = {});
  void ShowNothing();

 private:
  QLabel* picture_;
  QLabel* style_;
  QLabel* title_;
  QLabel* first_line_;
  QLabel* replaces_;
};

}  // namespace heartpage
