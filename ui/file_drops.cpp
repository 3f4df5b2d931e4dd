#include "ui/file_drops.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

namespace trundle {

FileDrops::FileDrops(QLineEdit* box) : QObject(box) {}

void FileDrops::AcceptOn(QLineEdit* box) {
  box->setAcceptDrops(true);
  box->installEventFilter(new FileDrops(box));
}

QString FileDrops::DroppedPath(const QMimeData* data) {
  if (!data || !data->hasUrls()) return {};
  for (const QUrl& url : data->urls())
    if (url.isLocalFile() && !url.toLocalFile().isEmpty()) return url.toLocalFile();
  return {};
}

bool FileDrops::eventFilter(QObject* watched, QEvent* event) {
  auto* box = qobject_cast<QLineEdit*>(watched);
  if (!box) return false;
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      // Text that is not a file goes to the line edit as ever.
      if (DroppedPath(drag->mimeData()).isEmpty() || box->isReadOnly()) return false;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QString path = DroppedPath(drop->mimeData());
      if (path.isEmpty() || box->isReadOnly()) return false;
      // Set as a user's typing is: the pages follow the box's textChanged.
      box->setText(path);
      box->setFocus(Qt::OtherFocusReason);
      drop->acceptProposedAction();
      return true;
    }
    default:
      return false;
  }
}

}  // namespace trundle
