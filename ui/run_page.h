// The wizard's last page: the line that says the run is ready, the note about an existing
// destination, the log (Memo6), the Trundle and Stop buttons, the Append and Replace
// choice, what to do with a refused record, the run's pace, what it set aside and the
// gauge. Its title and its Back and Close buttons are the window's (MainForm::BuildPage),
// added before these; the window connects the buttons and runs the job.
#pragma once

#include <QWidget>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace trundle {

class Gauge;
class PageControls;

class RunPage : public QWidget {
  Q_OBJECT
 public:
  // The page is named "Execute", as designed.
  explicit RunPage(QWidget* parent);

  // Adds the controls, the first line saying `ready`.
  void Build(const PageControls& controls, const QString& ready);

  // The controls, owned by the page. REQUIRES: Build was called.
  QLabel* hint() const { return hint_; }
  QLabel* destination_note() const { return destination_note_; }
  QPlainTextEdit* log() const { return log_; }
  QPushButton* trundle_button() const { return trundle_button_; }
  QPushButton* stop_button() const { return stop_button_; }
  QButtonGroup* if_exists() const { return if_exists_; }
  QButtonGroup* on_error() const { return on_error_; }
  QGroupBox* on_error_group() const { return on_error_group_; }
  QLabel* speed_note() const { return speed_note_; }
  QLabel* reject_note() const { return reject_note_; }
  QPushButton* open_rejects_button() const { return open_rejects_button_; }
  QPushButton* open_destination_button() const { return open_destination_button_; }
  Gauge* gauge() const { return gauge_; }

 private:
  QLabel* hint_ = nullptr;  // Label31: ready, or running
  QLabel* destination_note_ = nullptr;
  QPlainTextEdit* log_ = nullptr;  // Memo6
  QPushButton* trundle_button_ = nullptr;
  QPushButton* stop_button_ = nullptr;
  QButtonGroup* if_exists_ = nullptr;  // 0 Append, 1 Replace
  QButtonGroup* on_error_ = nullptr;   // 0 Stop, 1 Set it aside in a file
  QGroupBox* on_error_group_ = nullptr;
  QLabel* speed_note_ = nullptr;   // the pace during a run, its totals after
  QLabel* reject_note_ = nullptr;  // how many records the last run set aside, and where
  QPushButton* open_rejects_button_ = nullptr;
  QPushButton* open_destination_button_ = nullptr;
  Gauge* gauge_ = nullptr;  // Gauge1
};

}  // namespace trundle
