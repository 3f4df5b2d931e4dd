// One QApplication for every test of the window; no display needed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <clocale>

#include "front/register_adaptors.h"
#include "textfiles/clipboard.h"
#include "ui/qt_clipboard.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The window keeps its recent files in the user's settings: the tests' own, never theirs.
  const QTemporaryDir settings;
  qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
  QApplication app(argc, argv);
  std::setlocale(LC_ALL, "C");  // as the program does
  trundle::RegisterAllAdaptors();
  trundle::SetSystemClipboard(std::make_shared<trundle::QtClipboard>());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
