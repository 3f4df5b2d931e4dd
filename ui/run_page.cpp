// The run page's controls; see run_page.h.
#include "ui/run_page.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <tuple>

#include "ui/gauge.h"
#include "ui/page_controls.h"

namespace trundle {

RunPage::RunPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Execute"));
}

void RunPage::Build(const PageControls& controls, const QString& ready) {
  const auto px = [&controls](int designed) { return controls.Px(designed); };
  hint_ = new QLabel(ready, this);
  hint_->setObjectName(QStringLiteral("Label31"));
  hint_->setAlignment(Qt::AlignHCenter);
  hint_->setGeometry(px(16), px(72), px(473), px(16));
  // What the run will do with a destination that is there already.
  destination_note_ = new QLabel(this);
  destination_note_->setObjectName(QStringLiteral("DestinationNote"));
  destination_note_->setAlignment(Qt::AlignHCenter);
  destination_note_->setWordWrap(true);
  destination_note_->setGeometry(px(16), px(90), px(465), px(30));
  log_ = new QPlainTextEdit(this);
  log_->setObjectName(QStringLiteral("Memo6"));
  log_->setAccessibleName(tr("Log"));
  log_->setGeometry(px(16), px(122), px(465), px(114));
  log_->setFrameShape(QFrame::NoFrame);
  log_->setReadOnly(true);
  log_->setBackgroundRole(QPalette::Window);
  log_->viewport()->setBackgroundRole(QPalette::Window);
  trundle_button_ = new QPushButton(tr("&Trundle"), this);
  trundle_button_->setObjectName(QStringLiteral("TrundleButton"));
  trundle_button_->setGeometry(px(400), px(328), px(75), px(25));
  trundle_button_->setDefault(true);
  stop_button_ = new QPushButton(tr("&Stop"), this);
  stop_button_->setObjectName(QStringLiteral("StopButton"));
  stop_button_->setGeometry(px(316), px(328), px(75), px(25));
  stop_button_->setEnabled(false);
  if_exists_ = new QButtonGroup(this);
  for (auto [id, name, caption, left] :
       {std::tuple{0, "AppendRadio", tr("&Append"), 16}, std::tuple{1, "ReplaceRadio", tr("&Replace"), 110}}) {
    auto* radio = new QRadioButton(caption, this);
    radio->setObjectName(QLatin1String(name));
    radio->setGeometry(px(left), px(330), px(90), px(21));
    if_exists_->addButton(radio, id);
  }
  if_exists_->button(0)->setChecked(true);
  // Stop is the default: a run that sets records aside is asked for, not met by surprise.
  on_error_group_ =
      controls.AddRadioGroup(this, QStringLiteral("OnErrorGroup"), tr("When a record is refused:"),
                             QRect(16, 238, 465, 40), {tr("St&op"), tr("Set it as&ide in a file")},
                             2, &on_error_);
  on_error_->button(0)->setChecked(true);
  speed_note_ = new QLabel(this);
  speed_note_->setObjectName(QStringLiteral("SpeedNote"));
  speed_note_->setGeometry(px(16), px(282), px(465), px(16));
  reject_note_ = new QLabel(this);
  reject_note_->setObjectName(QStringLiteral("RejectNote"));
  reject_note_->setGeometry(px(16), px(300), px(334), px(24));
  reject_note_->hide();
  open_rejects_button_ = new QPushButton(tr("O&pen the reject file"), this);
  open_rejects_button_->setObjectName(QStringLiteral("OpenRejectFileButton"));
  open_rejects_button_->setGeometry(px(356), px(300), px(125), px(24));
  open_rejects_button_->hide();
  // Between the Append/Replace choice and Stop, shown once a run has written a file.
  open_destination_button_ = new QPushButton(tr("Open desti&nation"), this);
  open_destination_button_->setObjectName(QStringLiteral("OpenDestinationButton"));
  open_destination_button_->setGeometry(px(206), px(328), px(104), px(25));
  open_destination_button_->hide();
  gauge_ = new Gauge(this);
  gauge_->setObjectName(QStringLiteral("Gauge1"));
  gauge_->setAccessibleName(tr("Progress"));
  gauge_->setGeometry(px(16), px(364), px(465), px(21));
}

}  // namespace trundle
