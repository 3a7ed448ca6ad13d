#include "spin_button.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

namespace {
constexpr int REPEAT_DELAY_MS = 400;  // held arrow: first repeat
constexpr int REPEAT_RATE_MS = 100;   // held arrow: following repeats
} // namespace

SpinButton::SpinButton(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::ClickFocus);
}

void SpinButton::SetRange(int nLower, int nUpper)
{
    m_nLower = nLower;
    m_nUpper = nUpper;
}

void SpinButton::Step(int iDelta)
{
    if (!isEnabled() || iDelta == 0)
        return;
    // A reversed range (lower above upper) makes the up arrow count down, as the original does.
    const int iSigned = (m_nLower <= m_nUpper) ? iDelta : -iDelta;
    int nResult = 0;
    emit DeltaPos(m_nPos, iSigned, &nResult);
    if (nResult != 0)
        return;
    const int nMin = std::min(m_nLower, m_nUpper);
    const int nMax = std::max(m_nLower, m_nUpper);
    m_nPos = std::clamp(m_nPos + iSigned, nMin, nMax);
}

QSize SpinButton::sizeHint() const { return {16, 30}; }

int SpinButton::HalfAt(int y) const { return y < height() / 2 ? +1 : -1; }

void SpinButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int h = height() / 2;
    const QRect halves[2] = {QRect(0, 0, width(), h), QRect(0, h, width(), height() - h)};
    for (int i = 0; i < 2; ++i) {
        const int iHalf = (i == 0) ? +1 : -1;
        QStyleOptionButton btn;
        btn.initFrom(this);
        btn.rect = halves[i];
        btn.state &= ~QStyle::State_HasFocus;
        btn.state |= (m_iPressed == iHalf) ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &btn, &p, this);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = halves[i].adjusted(2, 1, -2, -1);
        if (m_iPressed == iHalf)
            arrow.rect.translate(1, 1);
        style()->drawPrimitive(iHalf > 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown,
                               &arrow, &p, this);
    }
}

void SpinButton::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(e);
        return;
    }
    m_iPressed = HalfAt(e->position().toPoint().y());
    update();
    Step(m_iPressed);
    m_repeat.start(REPEAT_DELAY_MS, this);
}

void SpinButton::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(e);
        return;
    }
    m_repeat.stop();
    m_iPressed = 0;
    update();
}

void SpinButton::timerEvent(QTimerEvent* e)
{
    if (e->timerId() != m_repeat.timerId()) {
        QWidget::timerEvent(e);
        return;
    }
    // A modal box opened by a handler can swallow the release: never repeat without the button.
    if (m_iPressed == 0 || !isEnabled() || !(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        m_repeat.stop();
        m_iPressed = 0;
        update();
        return;
    }
    m_repeat.start(REPEAT_RATE_MS, this);
    Step(m_iPressed);
}

void SpinButton::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Up:
        Step(+1);
        break;
    case Qt::Key_Down:
        Step(-1);
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}

void SpinButton::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::EnabledChange && !isEnabled()) {
        m_repeat.stop();
        m_iPressed = 0;
    }
    QWidget::changeEvent(e);
}
