#include "platform/WindowDrag.h"

#include <QWidget>

namespace platform {

void WindowDrag::start(QWidget *window, QPointF pressGlobal) {
    m_window = window;
    m_pressGlobal = pressGlobal;
    m_startPos = window ? window->pos() : QPoint();
}

bool WindowDrag::follow(QPointF global) {
    if (!m_window)
        return false;
    m_window->move(m_startPos + (global - m_pressGlobal).toPoint());
    return true;
}

} // namespace platform
