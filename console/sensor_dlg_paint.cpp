// The static-pressure panel: three readouts, white bold numbers on navy, and the time of the
// dialog's last paint, which paces the channel feed's repaint requests.
//
// A minimised window's picture is drawn by the window manager from the window icon (set in
// OnInitDialog); Qt sends no paint for it, so there is no icon painting here.
#include <QEvent>
#include <QFont>
#include <QFrame>
#include <QPainter>
#include <QPaintEvent>
#include <QTextOption>

#include "sensor_dlg.h"

void CSensorDlg::paintEvent(QPaintEvent* e)
{
    // The waveform control paints opaquely, so its frequent repaints never come through here
    // and the channel feed's 200 ms pacing sees only the dialog's own paints.
    m_dwLastPaintTick = Platform().GetTickCount();
    QDialog::paintEvent(e);
}

bool CSensorDlg::eventFilter(QObject* pWatched, QEvent* e)
{
    if (e->type() == QEvent::Paint) {
        if (pWatched == m_framePressure1) {
            PaintReadout(*m_framePressure1, m_nStaticPressure1, "%d ");
            return true;
        }
        if (pWatched == m_framePressure2) {
            PaintReadout(*m_framePressure2, m_nStaticPressure2, "%d ");
            return true;
        }
        if (pWatched == m_framePressure3) {
            PaintReadout(*m_framePressure3, m_nStaticPressure3, "%d");
            return true;
        }
    }
    return QDialog::eventFilter(pWatched, e);
}

void CSensorDlg::PaintReadout(QFrame& frame, int nValue, const char* pszFormat)
{
    QPainter dc(&frame);
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);  // where Tahoma is missing: a bold sans-serif
    font.setPixelSize(READOUT_FONT_HEIGHT);
    font.setWeight(QFont::Bold);
    dc.setFont(font);
    dc.setPen(ColorFromColorref(READOUT_CLR_TEXT));

    QRect rc = frame.rect();
    dc.fillRect(rc, ColorFromColorref(READOUT_CLR_FIELD));
    rc.setTop(rc.top() + READOUT_TEXT_TOP);
    dc.setClipRect(rc);
    // The trailing blank of "%d " counts in the centring, as it always has.
    QTextOption opt(Qt::AlignHCenter | Qt::AlignTop);
    opt.setWrapMode(QTextOption::NoWrap);
    opt.setFlags(QTextOption::IncludeTrailingSpaces);
    dc.drawText(QRectF(rc), QString::asprintf(pszFormat, nValue), opt);
}
