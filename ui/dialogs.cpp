#include "ui/dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace trundle {

bool QtDialogs::Ask(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
  QPushButton* yes = box.addButton(QObject::tr("&Yes"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QObject::tr("&No"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

void QtDialogs::ShowError(QWidget* parent, const QString& caption, const QString& text,
                          bool stop_icon) {
  QMessageBox box(stop_icon ? QMessageBox::Critical : QMessageBox::NoIcon, caption, text,
                  QMessageBox::Ok, parent);
  box.exec();
}

void QtDialogs::ShowMessage(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

std::optional<FileDialogAnswer> QtDialogs::ChooseFile(QWidget* parent,
                                                      const FileDialogRequest& request) {
  QFileDialog dialog(parent, request.title);
  if (request.folder) {
    // A folder the run makes may be typed; one that is there is chosen.
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (!request.initial_file.isEmpty()) dialog.selectFile(request.initial_file);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      return FileDialogAnswer{dialog.selectedFiles().first(), 0};
    return std::nullopt;
  }
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // An existing destination gets the new records after its own, so choosing one is no
  // overwrite to warn about.
  if (request.save) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setNameFilters(request.filters);
  if (request.filter_index >= 1 && request.filter_index <= request.filters.size())
    dialog.selectNameFilter(request.filters[request.filter_index - 1]);
  dialog.setDefaultSuffix(request.default_suffix);
  if (!request.initial_file.isEmpty()) dialog.selectFile(request.initial_file);
  while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    const QString path = dialog.selectedFiles().first();
    if (request.prompt_to_create && !QFileInfo::exists(path) &&
        !Ask(parent, request.title,
             QObject::tr("%1\nThis file does not exist.\nCreate the file?").arg(path)))
      continue;
    return FileDialogAnswer{path,
                            static_cast<int>(request.filters.indexOf(dialog.selectedNameFilter())) + 1};
  }
  return std::nullopt;
}

bool QtDialogs::OpenWithDesktop(const QString& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace trundle
