// Gauge1: a progress bar drawn black on white with a single border, filled in proportion
// to its value from 0 to 100, with the value printed in its middle as "42%". Being a
// QProgressBar, its value is what the accessibility bus reports.
#pragma once

#include <QProgressBar>

namespace trundle {

class Gauge : public QProgressBar {
  Q_OBJECT
 public:
  explicit Gauge(QWidget* parent = nullptr);
  // Values outside 0 to 100 set the nearer end instead of being ignored.
  void SetPosition(int percent);
  QString text() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace trundle
