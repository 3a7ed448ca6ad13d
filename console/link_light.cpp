#include "link_light.h"

#include <QPainter>

CLinkLight::CLinkLight(QWidget* pParent) : QWidget(pParent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    setFocusPolicy(Qt::NoFocus);
}

QColor CLinkLight::ColorOf(analysis::LinkLight state)
{
    switch (state) {
    case analysis::LinkLight::Closed: return QColor(0xB4, 0xB4, 0xB4);     // grey
    case analysis::LinkLight::Quiet: return QColor(0x50, 0x50, 0x50);      // unlit
    case analysis::LinkLight::Receiving: return QColor(0x20, 0xB0, 0x20);  // green
    case analysis::LinkLight::Stalled: return QColor(0xFF, 0xB0, 0x00);    // amber
    case analysis::LinkLight::BadCheck: return QColor(0xE0, 0x20, 0x20);   // red
    }
    return QColor(Qt::black);
}

void CLinkLight::SetState(analysis::LinkLight state)
{
    if (state == m_state)
        return;
    m_state = state;
    update();
}

void CLinkLight::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int d = std::min(width(), height()) - 1;
    const QRectF rc((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    painter.setPen(QPen(QColor(0x30, 0x30, 0x30), 1));
    painter.setBrush(ColorOf(m_state));
    painter.drawEllipse(rc.adjusted(0.5, 0.5, -0.5, -0.5));
}
