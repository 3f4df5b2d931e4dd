#include "ui/fields_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>
#include <utility>

#include "ui/main_form.h"

namespace trundle {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

FieldsDialog::FieldsDialog(JobDescription description, QWidget* parent)
    : QDialog(parent), description_(std::move(description)) {
  setObjectName(QStringLiteral("FieldsDialog"));
  setWindowTitle(tr("Fields"));
  resize(640, 480);
  auto* layout = new QVBoxLayout(this);

  grid_ = new QTableWidget(0, 4, this);
  grid_->setObjectName(QStringLiteral("FieldsGrid"));
  grid_->setAccessibleName(tr("Fields"));
  grid_->setHorizontalHeaderLabels(
      {tr("Source field"), tr("Destination name"), tr("Type and size"), tr("Leave out")});
  grid_->horizontalHeader()->setSectionResizeMode(kTypeColumn, QHeaderView::Stretch);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  layout->addWidget(grid_, 2);

  table_text_ = new QPlainTextEdit(this);
  table_text_->setObjectName(QStringLiteral("FieldsTableText"));
  table_text_->setAccessibleName(tr("The table the run creates"));
  table_text_->setReadOnly(true);
  layout->addWidget(table_text_, 1);

  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("FieldsMessage"));
  message_->setWordWrap(true);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(message_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("FieldsOkButton"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("FieldsCancelButton"));
  auto* update = buttons->addButton(tr("&Update table"), QDialogButtonBox::ActionRole);
  update->setObjectName(QStringLiteral("FieldsUpdateButton"));
  connect(update, &QPushButton::clicked, this, &FieldsDialog::UpdatePlan);
  connect(buttons, &QDialogButtonBox::accepted, this, &FieldsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  for (QWidget* widget : findChildren<QWidget*>())
    if (!widget->objectName().isEmpty() && !widget->objectName().startsWith(QLatin1String("qt_")))
      widget->setAccessibleDescription(widget->objectName());

  const FieldPlan plan = PlanFields(description_);
  const QSignalBlocker quiet(grid_);
  grid_->setRowCount(static_cast<int>(plan.fields.size()));
  for (int row = 0; row < grid_->rowCount(); ++row) {
    const PlannedField& field = plan.fields[static_cast<size_t>(row)];
    source_names_.push_back(field.source);
    auto* source = new QTableWidgetItem(Q(field.source));
    source->setFlags(source->flags() & ~Qt::ItemIsEditable);
    grid_->setItem(row, kSourceColumn, source);
    // A field left out keeps its own name in the box, ready to be taken back.
    grid_->setItem(row, kDestinationColumn,
                   new QTableWidgetItem(Q(field.destination.empty() ? field.source
                                                                    : field.destination)));
    auto* type = new QTableWidgetItem;
    type->setFlags(type->flags() & ~Qt::ItemIsEditable);
    grid_->setItem(row, kTypeColumn, type);
    auto* leave_out = new QTableWidgetItem;
    leave_out->setFlags((leave_out->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
    leave_out->setCheckState(field.destination.empty() ? Qt::Checked : Qt::Unchecked);
    grid_->setItem(row, kLeaveOutColumn, leave_out);
  }
  ShowPlan(plan);
}

std::vector<PlannedField> FieldsDialog::Rows() const {
  std::vector<PlannedField> rows;
  for (int row = 0; row < grid_->rowCount(); ++row) {
    PlannedField field;
    field.source = source_names_[static_cast<size_t>(row)];
    if (grid_->item(row, kLeaveOutColumn)->checkState() != Qt::Checked)
      field.destination = grid_->item(row, kDestinationColumn)->text().trimmed().toStdString();
    // A name emptied is the field's own name again, not a field left out.
    if (field.destination.empty() && grid_->item(row, kLeaveOutColumn)->checkState() != Qt::Checked)
      field.destination = field.source;
    rows.push_back(std::move(field));
  }
  return rows;
}

std::vector<FieldRename> FieldsDialog::ChosenMap() const { return MapOfRows(Rows()); }

void FieldsDialog::UpdatePlan() {
  const std::vector<FieldRename> map = ChosenMap();
  if (const std::string fault = FieldMapFault(map, source_names_); !fault.empty()) {
    message_->setText(Q(fault));
    return;
  }
  description_.field_map = map;
  ShowPlan(PlanFields(description_));
}

void FieldsDialog::ShowPlan(const FieldPlan& plan) {
  const QSignalBlocker quiet(grid_);
  for (int row = 0; row < grid_->rowCount() && row < static_cast<int>(plan.fields.size()); ++row) {
    const PlannedField& field = plan.fields[static_cast<size_t>(row)];
    grid_->item(row, kTypeColumn)
        ->setText(field.destination.empty() ? tr("(left out)") : Q(field.type));
  }
  table_text_->setPlainText(Q(plan.table_text));
  table_text_->setVisible(!plan.table_text.empty());
  message_->setText(Q(plan.error.empty() ? plan.note : plan.error));
}

void FieldsDialog::accept() {
  if (const std::string fault = FieldMapFault(ChosenMap(), source_names_); !fault.empty()) {
    message_->setText(Q(fault));
    return;
  }
  QDialog::accept();
}

// The window's side: what the destination page's Fields button opens, and the map it keeps.

void MainForm::FollowFieldMapSource(const JobDescription& description) {
  // A map names one source's fields: another table or file starts without one.
  if (!SameSourceTable(description.source, field_map_for_)) field_map_.clear();
  if (fields_button_)
    fields_button_->setEnabled(MissingSource(description).isEmpty() && !WholeDatabaseChosen());
}

void MainForm::FieldsButtonClick() {
  for (auto* old : findChildren<FieldsDialog*>()) delete old;
  auto* dialog = new FieldsDialog(Describe(), this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QDialog::accepted, this, [this, dialog] {
    field_map_ = dialog->ChosenMap();
    field_map_for_ = Describe().source;
  });
  dialog->open();
}

}  // namespace trundle
