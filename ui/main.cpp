// trundle: the wizard window.
//
//   trundle                      the window
//   trundle FILE                 the window, its pages filled from the job file FILE
//   trundle --screenshot DIR [SOURCE.csv DEST.html]
//                                pictures of the four pages as PNG files in DIR; with the
//                                two files, the pages are filled in and the run page shows
//                                a finished move of SOURCE into DEST
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <clocale>
#include <cstdio>

#include "front/register_adaptors.h"
#include "textfiles/clipboard.h"
#include "ui/main_form.h"
#include "ui/qt_clipboard.h"

namespace {

template <typename T>
T* Find(QWidget& window, const char* name) {
  T* widget = window.findChild<T*>(QLatin1String(name));
  if (!widget) std::fprintf(stderr, "trundle: no control %s\n", name);
  return widget;
}

int TakeScreenshots(trundle::MainForm& window, const QStringList& args) {
  const QString folder = args.value(0);
  if (folder.isEmpty() || !QDir().mkpath(folder)) {
    std::fprintf(stderr, "trundle: --screenshot needs a folder it can write to\n");
    return 2;
  }
  const bool demo = args.size() >= 3;
  window.show();
  QApplication::processEvents();
  static const char* const kPictures[] = {"page1-introduction.png", "page2-source.png",
                                          "page3-destination.png", "page4-run.png"};
  static const char* const kNext[] = {"Next1", "Next2", "Next3"};
  for (int page = 0; page < 4; ++page) {
    if (demo && page == 1) {
      Find<QLineEdit>(window, "Edit1")->setText(args[1]);
      Find<QRadioButton>(window, "BrowseSourceTextGroupItem0")->setChecked(true);
    }
    if (demo && page == 2) {
      Find<QLineEdit>(window, "Edit8")->setText(args[2]);
      Find<QRadioButton>(window, "BrowseDestTextGroupItem2")->setChecked(true);
    }
    if (demo && page == 3) Find<QPushButton>(window, "TrundleButton")->click();
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(QLatin1String(kPictures[page]));
    if (!window.grab().save(path)) {
      std::fprintf(stderr, "trundle: cannot write %s\n", qPrintable(path));
      return 1;
    }
    if (page < 3) Find<QPushButton>(window, kNext[page])->click();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Qt set the C library's locale from the environment; the engine reads the user's
  // formats itself and parses numbers in the C locale, as trundle-cli does.
  std::setlocale(LC_ALL, "C");
  QApplication::setApplicationName(QStringLiteral("Trundle"));
  QApplication::setApplicationVersion(QStringLiteral(TRUNDLE_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("trundle"));
  trundle::RegisterAllAdaptors();
  trundle::SetSystemClipboard(std::make_shared<trundle::QtClipboard>());
  trundle::MainForm window;
  const QStringList args = QApplication::arguments().mid(1);
  if (args.value(0) == QLatin1String("--screenshot")) return TakeScreenshots(window, args.mid(1));
  if (args.size() > 1 || args.value(0).startsWith(QLatin1Char('-'))) {
    std::fprintf(stderr,
                 "trundle: takes one job file at most (trundle-cli copies from the command line)\n");
    return 2;
  }
  window.show();
  // After show: the window's first showing resets the pages. A bad file says why in the
  // error box and leaves the pages empty.
  if (!args.isEmpty()) window.OpenTransferFile(args[0]);
  return QApplication::exec();
}
