#include "ui/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace trundle {

void QtClipboard::SetText(const std::string& text) {
  QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

}  // namespace trundle
