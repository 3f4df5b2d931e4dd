// The wizard's first page: what Trundle does and how to begin. Its title and its Back,
// Next and Cancel buttons are the window's (MainForm::BuildPage), added before the text.
#pragma once

#include <QWidget>
#include <functional>

class QPlainTextEdit;

namespace trundle {

class IntroPage : public QWidget {
  Q_OBJECT
 public:
  // The page is named "Default", as designed.
  explicit IntroPage(QWidget* parent);

  // Adds the text (Memo1); `px` scales a designed distance to the window's resolution.
  void Build(const std::function<int(int)>& px);
  // Text scaled takes more room than its box scaled with it (sizes round down, glyphs are
  // hinted up): the box reaches down to `bottom`, the top of the page's buttons.
  // REQUIRES: Build was called.
  void ExtendTextTo(int bottom);

 private:
  QPlainTextEdit* text_ = nullptr;  // Memo1, owned by the page
};

}  // namespace trundle
