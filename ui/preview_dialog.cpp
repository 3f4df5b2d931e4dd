#include "ui/preview_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <utility>

#include "engine/codepage.h"
#include "front/preview.h"

namespace trundle {
namespace {

// The code pages offered for reading a file again: the common Windows and DOS pages of
// the languages whose files turn up most, and the ISO pages Unix files were written in.
const char* const kCodePages[] = {"UTF-8",      "CP1252",     "ISO-8859-1", "ISO-8859-15",
                                  "CP1250",     "CP1251",     "CP1253",     "CP1254",
                                  "ISO-8859-2", "ISO-8859-5", "KOI8-R",     "CP437",
                                  "CP850",      "CP852",      "CP866"};

}  // namespace

PreviewDialog::PreviewDialog(EndDescription source, QWidget* parent)
    : QDialog(parent), source_(std::move(source)) {
  setObjectName(QStringLiteral("PreviewDialog"));
  const QString name = QString::fromStdString(source_.file.empty() ? source_.table : source_.file);
  setWindowTitle(tr("Preview of %1").arg(QFileInfo(name).fileName()));
  resize(640, 420);

  auto* layout = new QVBoxLayout(this);
  auto* code_row = new QHBoxLayout;
  code_page_label_ = new QLabel(this);
  code_page_label_->setObjectName(QStringLiteral("PreviewCodePageLabel"));
  code_page_label_->setWordWrap(true);
  code_row->addWidget(code_page_label_, 1);
  code_page_ = new QComboBox(this);
  code_page_->setObjectName(QStringLiteral("PreviewCodePage"));
  code_page_->setAccessibleName(tr("Read in code page"));
  code_page_->addItem(tr("As the file says"), QString());
  for (const char* page : kCodePages) code_page_->addItem(QLatin1String(page), QLatin1String(page));
  // Only text and dBase files are read in a code page chosen here; the others deliver
  // their text decoded by their own engine.
  code_page_->setVisible(CanChooseCodePage(source_.kind));
  // A page the source was asked for already stays chosen, listed or not.
  if (!source_.encoding.empty()) {
    const QString asked = QString::fromStdString(NormalizeCodePageName(source_.encoding));
    if (code_page_->findData(asked) < 0) code_page_->addItem(asked, asked);
    code_page_->setCurrentIndex(code_page_->findData(asked));
  }
  code_row->addWidget(code_page_);
  layout->addLayout(code_row);

  grid_ = new QTableWidget(this);
  grid_->setObjectName(QStringLiteral("PreviewGrid"));
  grid_->setAccessibleName(tr("Records"));
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  layout->addWidget(grid_, 1);

  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("PreviewMessage"));
  message_->setWordWrap(true);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(message_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  QPushButton* close = buttons->button(QDialogButtonBox::Close);
  close->setObjectName(QStringLiteral("PreviewCloseButton"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  for (QWidget* widget : findChildren<QWidget*>())
    if (!widget->objectName().isEmpty() && !widget->objectName().startsWith(QLatin1String("qt_")))
      widget->setAccessibleDescription(widget->objectName());

  connect(code_page_, &QComboBox::currentIndexChanged, this, [this] { ReadSource(); });
  ReadSource();
}

QString PreviewDialog::ChosenCodePage() const { return code_page_->currentData().toString(); }

void PreviewDialog::ReadSource() {
  if (CanChooseCodePage(source_.kind)) source_.encoding = ChosenCodePage().toStdString();
  const SourcePreview preview = PreviewSource(source_, kPreviewRecords);
  code_page_label_->setText(tr("Code page: %1").arg(QString::fromStdString(preview.code_page)));

  grid_->clear();
  grid_->setColumnCount(static_cast<int>(preview.names.size()));
  grid_->setRowCount(static_cast<int>(preview.rows.size()));
  QStringList headers;
  for (const std::string& field : preview.names) headers << QString::fromStdString(field);
  grid_->setHorizontalHeaderLabels(headers);
  for (int row = 0; row < grid_->rowCount(); ++row) {
    const std::vector<std::string>& values = preview.rows[static_cast<size_t>(row)];
    for (int column = 0; column < static_cast<int>(values.size()); ++column)
      grid_->setItem(row, column,
                     new QTableWidgetItem(QString::fromStdString(values[static_cast<size_t>(column)])));
  }

  QString note;
  if (preview.more)
    note = tr("The first %1 records of the source.").arg(kPreviewRecords);
  else if (preview.rows.empty() && preview.error.empty())
    note = tr("The source holds no records.");
  else if (preview.error.empty())
    note = tr("All %1 records of the source.").arg(preview.rows.size());
  if (!preview.error.empty()) {
    // The adaptor's own sentence, after whatever it read before it failed.
    const QString error = QString::fromStdString(preview.error);
    note = preview.rows.empty()
               ? error
               : tr("%1 records were read, then: %2").arg(preview.rows.size()).arg(error);
  }
  message_->setText(note);
}

}  // namespace trundle
