// A path box that takes a file dropped on it from a file manager: the box gets the file's
// path, as if typed, instead of the "file:///..." text a plain line edit would insert.
#pragma once

#include <QObject>
#include <QString>

class QLineEdit;
class QMimeData;

namespace trundle {

class FileDrops : public QObject {
  Q_OBJECT
 public:
  // Installs itself on box, which then owns it.
  static void AcceptOn(QLineEdit* box);
  // The path of the first local file among what is dragged; empty when none is local (a
  // web address, plain text).
  static QString DroppedPath(const QMimeData* data);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  explicit FileDrops(QLineEdit* box);
};

}  // namespace trundle
