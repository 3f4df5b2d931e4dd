// The introduction page; see intro_page.h.
#include "ui/intro_page.h"

#include <QPlainTextEdit>

namespace trundle {

IntroPage::IntroPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Default"));
}

void IntroPage::Build(const std::function<int(int)>& px) {
  text_ = new QPlainTextEdit(this);
  text_->setObjectName(QStringLiteral("Memo1"));
  text_->setAccessibleName(tr("Introduction"));
  text_->setGeometry(px(16), px(88), px(473), px(105));
  text_->setFrameShape(QFrame::NoFrame);
  text_->setReadOnly(true);
  text_->setFocusPolicy(Qt::NoFocus);
  text_->setBackgroundRole(QPalette::Window);
  text_->viewport()->setBackgroundRole(QPalette::Window);
  // The lines break where they were designed to; a line longer than the box wraps.
  text_->setPlainText(
      tr("Trundle provides a simple tool for moving data between tables of the same \n"
         "database, different databases, different database systems or extracting to a text \n"
         "file.\n"
         "\n"
         "You can select from a number of methods for selecting the data to be moved.\n"
         "\n"
         "Click the Next button to begin."));
}

void IntroPage::ExtendTextTo(int bottom) { text_->resize(text_->width(), bottom - text_->y()); }

}  // namespace trundle
