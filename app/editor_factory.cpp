#include "app/editor_factory.h"

#include <QLabel>
#include <QVBoxLayout>

#include "controls/chinese_font.h"

namespace heartpage {

QWidget* CreateEditor(int style) {
  const QString name = QStringLiteral("FG%1").arg(style);
  auto* window = new QWidget(nullptr);
  window->setObjectName(name);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setWindowTitle(name);
  auto* text = new QLabel(QStringLiteral("样式 %1 的编辑窗口").arg(style), window);
  text->setFont(ChineseFont(ChineseFace::kSongTi, 12));
  text->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(window);
  layout->addWidget(text);
  window->resize(360, 140);
  return window;
}

}  // namespace heartpage
