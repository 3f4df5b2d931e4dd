// The window's modal boxes and its file dialogs behind one interface, so that tests can
// answer them without a modal loop. QtDialogs is what the program uses.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace trundle {

struct FileDialogRequest {
  bool save = false;           // a save dialog (destination) or an open dialog (source)
  QString title;
  QStringList filters;         // "Description (*.ext)" entries, in order
  int filter_index = 0;        // 1-based entry shown first; 0 leaves the dialog's own choice
  QString default_suffix;      // added to a name typed without one
  QString initial_file;
  bool prompt_to_create = false;  // save: ask before a file that does not exist is made
  bool folder = false;  // a folder, not a file (filters and suffix unused); it may be new
};

struct FileDialogAnswer {
  QString path;
  int filter_index = 0;  // 1-based entry that was selected when the user pressed OK
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A question with Yes and No; true for Yes.
  virtual bool Ask(QWidget* parent, const QString& caption, const QString& text) = 0;
  // A failure's message and OK; with `stop_icon` a stop icon beside it.
  virtual void ShowError(QWidget* parent, const QString& caption, const QString& text,
                         bool stop_icon) = 0;
  // A plain box with OK.
  virtual void ShowMessage(QWidget* parent, const QString& caption, const QString& text) = 0;
  // nullopt when the user cancels.
  virtual std::optional<FileDialogAnswer> ChooseFile(QWidget* parent,
                                                     const FileDialogRequest& request) = 0;
  // Hands a file to the desktop's opener; false when the desktop has none to start.
  virtual bool OpenWithDesktop(const QString& path) = 0;
};

class QtDialogs : public Dialogs {
 public:
  bool Ask(QWidget* parent, const QString& caption, const QString& text) override;
  void ShowError(QWidget* parent, const QString& caption, const QString& text,
                 bool stop_icon) override;
  void ShowMessage(QWidget* parent, const QString& caption, const QString& text) override;
  std::optional<FileDialogAnswer> ChooseFile(QWidget* parent,
                                             const FileDialogRequest& request) override;
  bool OpenWithDesktop(const QString& path) override;
};

}  // namespace trundle
