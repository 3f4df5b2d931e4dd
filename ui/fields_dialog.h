// FieldsDialog: the source's fields before a run, each with the name it gets in the
// destination (editable), its type and size there, and a "leave out" box; below them the
// CREATE TABLE statement or field list of a table the run will make. The reading is
// PlanFields' (front/field_plan.h): the source adaptor a run opens and the destination's
// own description of the table it creates. OK keeps the choices as the run's field map.
//
// Controls carry design names as the main window's do: FieldsGrid, FieldsTableText,
// FieldsMessage, FieldsUpdateButton, FieldsOkButton, FieldsCancelButton.
#pragma once

#include <QDialog>
#include <vector>

#include "front/field_plan.h"
#include "front/job_description.h"

class QLabel;
class QPlainTextEdit;
class QTableWidget;

namespace trundle {

class FieldsDialog : public QDialog {
  Q_OBJECT
 public:
  // The grid's columns.
  enum Column { kSourceColumn, kDestinationColumn, kTypeColumn, kLeaveOutColumn };

  // Reads the source at once with description.field_map as the choices so far.
  explicit FieldsDialog(JobDescription description, QWidget* parent = nullptr);

  // The map the rows give now (MapOfRows).
  std::vector<FieldRename> ChosenMap() const;
  // Reads the plan again with the rows' map: the types and the table text follow the
  // names given. A map that does not fit is said in the message instead.
  void UpdatePlan();
  // OK: the map is checked first; one that does not fit keeps the dialog open and says why.
  void accept() override;

 private:
  void ShowPlan(const FieldPlan& plan);
  std::vector<PlannedField> Rows() const;

  JobDescription description_;
  std::vector<std::string> source_names_;  // as the source gave them, row by row
  QTableWidget* grid_ = nullptr;
  QPlainTextEdit* table_text_ = nullptr;
  QLabel* message_ = nullptr;
};

}  // namespace trundle
