#pragma once

#include <QPoint>
#include <QPointF>
#include <QPointer>

class QWidget;

namespace platform {

// Moves a window with the pointer until a button is released: the window's top-left corner
// follows the pointer's displacement from the press point, its size unchanged. Done by hand
// rather than by the window manager's own move, which under openbox kept following the pointer
// after a middle-button release.
class WindowDrag {
public:
    void start(QWidget *window, QPointF pressGlobal);
    // Follows one pointer move; returns false when no drag is in progress.
    bool follow(QPointF global);
    void end() { m_window = nullptr; }
    bool active() const { return !m_window.isNull(); }

private:
    QPointer<QWidget> m_window;
    QPointF m_pressGlobal;
    QPoint m_startPos;
};

} // namespace platform
