#include "path_edit.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace lumivox::app {

PathEdit::PathEdit(QWidget* parent)
    : QLineEdit(parent)
{
    setAcceptDrops(true);
}

QString PathEdit::droppedPath(const QMimeData* mimeData)
{
    if (mimeData == nullptr || !mimeData->hasUrls())
        return {};
    for (const QUrl& url : mimeData->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            return url.toLocalFile();
    }
    return {};
}

void PathEdit::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedPath(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        QLineEdit::dragEnterEvent(event);
}

void PathEdit::dragMoveEvent(QDragMoveEvent* event)
{
    if (!droppedPath(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        QLineEdit::dragMoveEvent(event);
}

void PathEdit::dropEvent(QDropEvent* event)
{
    const QString path = droppedPath(event->mimeData());
    if (path.isEmpty()) {
        QLineEdit::dropEvent(event);
        return;
    }
    setText(path);
    setFocus(Qt::OtherFocusReason);
    event->acceptProposedAction();
}

} // namespace lumivox::app
