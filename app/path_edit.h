#pragma once

#include <QLineEdit>
#include <QString>

class QMimeData;

namespace lumivox::app {

// A file path box that also takes a file dropped from a file manager: the drop replaces its text.
class PathEdit : public QLineEdit {
public:
    explicit PathEdit(QWidget* parent = nullptr);

    // The local file a drop would put into the box; empty when the drop carries no local file.
    static QString droppedPath(const QMimeData* mimeData);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

} // namespace lumivox::app
