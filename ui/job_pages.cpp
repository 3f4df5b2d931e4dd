// Saved transfers in the window: File > Save Transfer writes what the pages describe to a
// job file (front/job_file.h), File > Open Transfer fills every page from one. What a job
// file holds and no page shows (encodings, the batch size, the reject limit, the password
// variables) is kept from the file opened last and goes into the job the pages describe.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <cstdlib>

#include "front/job_file.h"
#include "front/kinds.h"
#include "ui/main_form.h"
#include "ui/run_page.h"

namespace trundle {
namespace {

const QStringList kJobFilters = {QStringLiteral("Transfer (*.json)"),
                                 QStringLiteral("All files (*.*)")};

QString Q(const std::string& text) { return QString::fromStdString(text); }

int DaoItem(const std::string& dao) { return dao == "dao35" ? 0 : dao == "dao36" ? 1 : -1; }

// The password an opened end's variable gives, or empty.
QString PasswordOfVariable(const EndDescription& end) {
  const char* value = end.password_env.empty() ? nullptr : std::getenv(end.password_env.c_str());
  return value ? QString::fromUtf8(value) : QString();
}

}  // namespace

void MainForm::OpenTransfer1Click() {
  const FileDialogRequest request{false, tr("Open transfer"), kJobFilters, 1,
                                  QStringLiteral("json"), QString(), false};
  if (const auto answer = dialogs_->ChooseFile(this, request)) OpenTransferFile(answer->path);
}

void MainForm::SaveTransfer1Click() {
  const FileDialogRequest request{true, tr("Save transfer"), kJobFilters, 1,
                                  QStringLiteral("json"), QString(), false};
  const auto answer = dialogs_->ChooseFile(this, request);
  if (!answer) return;
  const JobDescription description = Describe();
  try {
    SaveJobFile(description, answer->path.toStdString());
  } catch (const std::exception& e) {
    ShowErrorBox(QString::fromStdString(e.what()));
    return;
  }
  // A password typed into a box stays in the box: say so rather than let the file seem whole.
  for (const EndDescription* end : {&description.source, &description.destination})
    if (!end->password.empty() && end->password_env.empty()) {
      dialogs_->ShowMessage(
          this, windowTitle(),
          tr("%1 was saved without the password, which a transfer file never holds; type it "
             "again after opening the file, or name an environment variable that holds it "
             "in the file's \"password_env\".")
              .arg(answer->path));
      break;
    }
}

bool MainForm::OpenTransferFile(const QString& path) {
  JobDescription d;
  QString why;
  try {
    d = LoadJobFile(path.toStdString());
  } catch (const std::exception& e) {
    why = QString::fromStdString(e.what());
  }
  if (why.isEmpty()) why = FillPages(d, true);
  if (!why.isEmpty()) {
    ShowErrorBox(why);
    return false;
  }
  FillPages(d, false);
  field_map_for_ = Describe().source;
  field_map_ = d.field_map;
  opened_ = d;
  return true;
}

// With `check_only`, changes nothing and returns why the pages cannot show `d` (a kind
// with no tab in this window), or empty.
QString MainForm::FillPages(const JobDescription& d, bool check_only) {
  const EndDescription& s = d.source;
  const EndDescription& t = d.destination;
  const DeclaredTab* source_tab = nullptr;
  const DeclaredTab* dest_tab = nullptr;
  for (const DeclaredTab& tab : source_declared_)
    if (tab.kind == s.kind) source_tab = &tab;
  for (const DeclaredTab& tab : dest_declared_)
    if (tab.kind == t.kind) dest_tab = &tab;
  const auto designed = [](TDataKind kind, bool source) {
    return kind == dkUnknown || kind == dkCsv || kind == dkText || (kind == dkHtml && !source) || kind == dkDBase ||
           kind == dkParadox || kind == dkAccess || kind == dkOracle;
  };
  if (check_only) {
    if (!designed(s.kind, true) && !source_tab)
      return tr("The window has no page for a %1 source; trundle-cli --job runs the transfer.")
          .arg(Q(KindTitle(s.kind)));
    if (!designed(t.kind, false) && !dest_tab)
      return tr("The window has no page for a %1 destination; trundle-cli --job runs the "
                "transfer.")
          .arg(Q(KindTitle(t.kind)));
    return {};
  }
  switch (s.kind) {
    case dkUnknown:  // saved before a file type was chosen
    case dkCsv:
    case dkText:
      source_tabs_->setCurrentIndex(0);
      edit1_->setText(Q(s.file));
      SelectItem(source_type_, s.kind == dkCsv ? 0 : s.kind == dkText ? 1 : -1);
      break;
    case dkDBase:
      source_tabs_->setCurrentIndex(1);
      edit2_->setText(Q(s.file));
      memo2_->setPlainText(Q(s.sql));
      break;
    case dkParadox:
      source_tabs_->setCurrentIndex(2);
      edit3_->setText(Q(s.file));
      memo3_->setPlainText(Q(s.sql));
      break;
    case dkAccess:
      source_tabs_->setCurrentIndex(3);
      edit4_->setText(Q(s.database));
      SelectItem(source_access_version_, DaoItem(s.dao_version));
      edit6_->setText(PasswordOfVariable(s));
      combo1_->setEditText(Q(s.table));
      memo4_->setPlainText(Q(s.sql));
      break;
    case dkOracle:
      source_tabs_->setCurrentIndex(4);
      edit15_->setText(Q(s.database));
      edit16_->setText(Q(s.user));
      edit17_->setText(PasswordOfVariable(s));
      combo2_->setEditText(Q(s.table));
      memo5_->setPlainText(Q(s.sql));
      break;
    default:
      source_tabs_->setCurrentIndex(source_tab->index);
      source_tab->database->setText(Q(s.database));
      source_tab->table->setEditText(Q(s.table));
      if (source_tab->sql) source_tab->sql->setPlainText(Q(s.sql));
      break;
  }
  switch (t.kind) {
    case dkUnknown:
    case dkCsv:
    case dkText:
    case dkHtml:
      dest_tabs_->setCurrentIndex(0);
      edit8_->setText(Q(t.file));  // proposes a title, replaced below
      SelectItem(dest_type_,
                 t.kind == dkCsv ? 0 : t.kind == dkText ? 1 : t.kind == dkHtml ? 2 : -1);
      edit7_->setText(Q(d.html_title));
      edit12_->setText(Q(d.html_banner));
      clipboard_check_->setChecked(d.clipboard);
      break;
    case dkDBase:
      dest_tabs_->setCurrentIndex(1);
      edit9_->setText(Q(t.file));
      break;
    case dkParadox:
      dest_tabs_->setCurrentIndex(2);
      edit10_->setText(Q(t.file));
      break;
    case dkAccess:
      dest_tabs_->setCurrentIndex(3);
      edit11_->setText(Q(t.database));
      create_database_check_->setChecked(t.create_database);
      SelectItem(dest_access_version_, DaoItem(t.dao_version));
      edit5_->setText(PasswordOfVariable(t));
      combo3_->setEditText(Q(t.table));
      break;
    case dkOracle:
      dest_tabs_->setCurrentIndex(4);
      edit19_->setText(Q(t.database));
      edit20_->setText(Q(t.user));
      edit21_->setText(PasswordOfVariable(t));
      combo4_->setEditText(Q(t.table));
      create_table_check_->setChecked(t.create_table);
      break;
    default:
      dest_tabs_->setCurrentIndex(dest_tab->index);
      dest_tab->database->setText(Q(t.database));
      dest_tab->table->setEditText(Q(t.table));
      break;
  }
  run_page_->if_exists()->button(d.if_exists == IfExists::kReplace ? 1 : 0)->setChecked(true);
  run_page_->on_error()->button(d.on_error == TOnError::kSkip ? 1 : 0)->setChecked(true);
  return {};
}

// What the file opened last says that no page shows.
void MainForm::ApplyOpenedSettings(JobDescription& d) const {
  if (!opened_) return;
  for (const auto& [end, was] : {std::pair(&d.source, &opened_->source),
                                 std::pair(&d.destination, &opened_->destination)}) {
    if (end->kind != was->kind) continue;  // another kind chosen since: its own defaults
    end->encoding = was->encoding;
    end->password_env = was->password_env;
  }
  d.batch_size = opened_->batch_size;
  d.max_rejects = opened_->max_rejects;
  // The run page offers Append and Replace; a file's "fail" holds while Append is chosen.
  if (opened_->if_exists == IfExists::kFail && d.if_exists == IfExists::kAppend)
    d.if_exists = IfExists::kFail;
  if (d.on_error == TOnError::kSkip && !opened_->reject_file.empty())
    d.reject_file = opened_->reject_file;
}

}  // namespace trundle
