#include "sticky/Panel.h"

#include <QPainter>

Panel::Panel(QWidget *parent)
    : QWidget(parent) {}

void Panel::setLook(const platform::PanelLook &look) {
    m_look = look;
    update();
}

void Panel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), m_look.fill);
    painter.setPen(m_look.stroke);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
