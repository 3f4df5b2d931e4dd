// PreviewDialog: the first records of the source the source page describes, in a
// read-only grid, with the code page they were read in. For delimited text and dBase
// tables another code page can be chosen, and the records are read again in it. The
// reading is PreviewSource's (front/preview.h): the adaptor a run would open.
//
// Controls carry design names as the main window's do: PreviewGrid, PreviewCodePage,
// PreviewCodePageLabel, PreviewMessage, PreviewCloseButton.
#pragma once

#include <QDialog>

#include "front/job_description.h"

class QComboBox;
class QLabel;
class QTableWidget;

namespace trundle {

class PreviewDialog : public QDialog {
  Q_OBJECT
 public:
  // How many records the grid shows at most.
  static constexpr int kPreviewRecords = 100;

  // Reads the source at once; a source that cannot be read leaves the grid empty and
  // the adaptor's message shown.
  explicit PreviewDialog(EndDescription source, QWidget* parent = nullptr);

  // The code page chosen in the box: empty for the one the source names or implies.
  QString ChosenCodePage() const;

 private:
  void ReadSource();

  EndDescription source_;
  QTableWidget* grid_ = nullptr;
  QComboBox* code_page_ = nullptr;
  QLabel* code_page_label_ = nullptr;
  QLabel* message_ = nullptr;
};

}  // namespace trundle
