// Zoom, the context menu and the control's message map.
#include "wave_chart.h"

#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QResizeEvent>

#include <cstdlib>
#include <vector>

#include "resource_ids.h"
#include "zoom_menu.h"

namespace {
constexpr int MSG_COMMAND = -1; // pseudo event type of a menu command
} // namespace

// One entry per message: a command id with its handler, or a Qt event with a thunk that
// returns true when the event is fully handled (false lets the default processing follow).
struct CWaveChart::MessageEntry {
    int nMessage;
    int nID;
    void (CWaveChart::*pfnCommand)();
    bool (*pfnEvent)(CWaveChart&, QEvent*);
};

const CWaveChart::MessageEntry CWaveChart::s_messageMap[] = {
    { MSG_COMMAND, ID_ZOOM_IN, &CWaveChart::OnZoomIn, nullptr },
    { MSG_COMMAND, ID_ZOOM_YAXIS, &CWaveChart::OnZoomYAxis, nullptr },
    { MSG_COMMAND, ID_ZOOM_OUT, &CWaveChart::OnZoomOut, nullptr },
    { MSG_COMMAND, ID_ZOOM_XAXIS, &CWaveChart::OnZoomXAxis, nullptr },
    { MSG_COMMAND, ID_WAVE_SCROLL, &CWaveChart::OnScrolling, nullptr },
    { MSG_COMMAND, ID_WAVE_PAGEFLIP, &CWaveChart::OnPageFlip, nullptr },
    { QEvent::MouseButtonRelease, 0, nullptr,
      [](CWaveChart& w, QEvent* e) {
          const auto* me = static_cast<QMouseEvent*>(e);
          if (me->button() == Qt::RightButton)
              w.OnRButtonUp(me->modifiers(), me->position().toPoint());
          return false;
      } },
    { QEvent::Paint, 0, nullptr,
      [](CWaveChart& w, QEvent* e) {
          w.OnPaint(static_cast<QPaintEvent*>(e)->rect());
          return true;
      } },
    { QEvent::Resize, 0, nullptr,
      [](CWaveChart& w, QEvent* e) {
          w.QWidget::event(e);
          const QSize sz = static_cast<QResizeEvent*>(e)->size();
          w.OnSize(0, sz.width(), sz.height());
          return true;
      } },
};

bool CWaveChart::event(QEvent* e)
{
    for (const MessageEntry& entry : s_messageMap) {
        if (entry.pfnEvent && entry.nMessage == int(e->type())) {
            if (entry.pfnEvent(*this, e))
                return true;
            break;
        }
    }
    return QWidget::event(e);
}

bool CWaveChart::OnCommand(int nID)
{
    for (const MessageEntry& entry : s_messageMap) {
        if (entry.nMessage == MSG_COMMAND && entry.nID == nID) {
            (this->*entry.pfnCommand)();
            return true;
        }
    }
    return false;
}

void CWaveChart::OnSize(int /*nType*/, int /*cx*/, int /*cy*/)
{
    m_rcClient = WaveRect{ 0, 0, width(), height() };
    UpdateCapacity();
    // The whole control is redrawn after every size change.
    RepaintNow();
}

bool CWaveChart::ShiftDown() const
{
    return m_fnShiftDown && m_fnShiftDown();
}

void CWaveChart::ResetZoom()
{
    m_nZoomX = m_nDefZoomX;
    m_nZoomY = m_nDefZoomY;
    RepaintNow();
}

void CWaveChart::OnZoomIn()
{
    const int nMaxX = std::abs(2 * m_nWinExtX);
    const int nMaxY = std::abs(2 * m_nWinExtY);
    if (ShiftDown()) {
        ResetZoom();
    } else if (m_nZoomX == nMaxX && m_nZoomY == nMaxY) {
        ResetZoom(); // beyond the maximum of both axes: start again from the defaults
    } else {
        if (m_bZoomX && m_nZoomX < nMaxX)
            m_nZoomX += WAVE_ZOOM_STEP;
        if (m_bZoomY && m_nZoomY < nMaxY)
            m_nZoomY += WAVE_ZOOM_STEP;
    }
    UpdateCapacity();
    RepaintNow();
}

void CWaveChart::OnZoomOut()
{
    if (ShiftDown()) {
        ResetZoom();
    } else if (m_nZoomX == WAVE_ZOOM_MIN && m_nZoomY == WAVE_ZOOM_MIN) {
        ResetZoom();
    } else {
        if (m_bZoomX && m_nZoomX > WAVE_ZOOM_MIN)
            m_nZoomX -= WAVE_ZOOM_STEP;
        if (m_bZoomY && m_nZoomY > WAVE_ZOOM_MIN)
            m_nZoomY -= WAVE_ZOOM_STEP;
    }
    UpdateCapacity();
    RepaintNow();
}

void CWaveChart::OnZoomXAxis()
{
    m_bZoomX = m_bZoomX ? 0 : 1;
}

void CWaveChart::OnZoomYAxis()
{
    m_bZoomY = m_bZoomY ? 0 : 1;
}

namespace {

// A check mark only where one is set, as a native menu shows it.
void CheckMenuItem(QMenu* pMenu, int nID, bool bCheck)
{
    if (QAction* pItem = FindMenuItem(pMenu, nID)) {
        pItem->setCheckable(bCheck);
        pItem->setChecked(bCheck);
    }
}

} // namespace

std::unique_ptr<QMenu> CWaveChart::BuildContextMenu() const
{
    std::unique_ptr<QMenu> menu = LoadMenuResource(IDR_ZOOM_MENU);
    QMenu* pPopup = menu ? GetSubMenu(menu.get(), 0) : nullptr;
    if (!pPopup)
        return nullptr;
    CheckMenuItem(pPopup, ID_ZOOM_XAXIS, m_bZoomX != 0);
    CheckMenuItem(pPopup, ID_ZOOM_YAXIS, m_bZoomY != 0);
    if (m_bScroll)
        CheckMenuItem(pPopup, ID_WAVE_SCROLL, true);
    else
        CheckMenuItem(pPopup, ID_WAVE_PAGEFLIP, true);
    if (QAction* pInfo = FindMenuItem(pPopup, ID_ZOOM_INFO))
        pInfo->setText(QString::asprintf("[X=%d%%; Y=%d%%]", m_nZoomX, m_nZoomY));
    return menu;
}

void CWaveChart::OnRButtonUp(Qt::KeyboardModifiers /*flags*/, const QPoint& /*point*/)
{
    // Loaded afresh for every display and destroyed when this returns.
    const std::unique_ptr<QMenu> menu = BuildContextMenu();
    QMenu* pPopup = menu ? GetSubMenu(menu.get(), 0) : nullptr;
    if (!pPopup)
        return;
    const QPoint ptScreen = QCursor::pos();
    QAction* pChosen = m_fnTrackPopup ? m_fnTrackPopup(*pPopup, ptScreen)
                                      : pPopup->exec(ptScreen);
    if (pChosen && pChosen->data().isValid())
        OnCommand(pChosen->data().toInt());
}

std::unique_ptr<QMenu> LoadMenuResource(int nID)
{
    const MenuResource* pRes = FindMenuResource(nID);
    if (!pRes)
        return nullptr;
    auto root = std::make_unique<QMenu>();
    std::vector<QMenu*> stack{ root.get() };
    for (int i = 0; i < pRes->nCount; ++i) {
        const MenuEntry& e = pRes->pEntries[i];
        QMenu* pCur = stack.back();
        switch (e.kind) {
        case MenuEntryKind::Item: {
            QAction* pItem = pCur->addAction(QString::fromUtf8(e.pszText));
            pItem->setData(e.nID);
            break;
        }
        case MenuEntryKind::Separator:
            pCur->addSeparator();
            break;
        case MenuEntryKind::Popup: {
            auto* pSub = new QMenu(QString::fromUtf8(e.pszText), root.get());
            pCur->addMenu(pSub);
            stack.push_back(pSub);
            break;
        }
        case MenuEntryKind::End:
            if (stack.size() < 2)
                return nullptr;
            stack.pop_back();
            break;
        }
    }
    if (stack.size() != 1)
        return nullptr;
    return root;
}

QMenu* GetSubMenu(QMenu* pMenu, int nPos)
{
    if (!pMenu)
        return nullptr;
    const QList<QAction*> items = pMenu->actions();
    if (nPos < 0 || nPos >= items.size())
        return nullptr;
    return items[nPos]->menu();
}

QAction* FindMenuItem(QMenu* pMenu, int nID)
{
    if (!pMenu)
        return nullptr;
    for (QAction* pItem : pMenu->actions()) {
        if (QMenu* pSub = pItem->menu()) {
            if (QAction* pFound = FindMenuItem(pSub, nID))
                return pFound;
        } else if (!pItem->isSeparator() && pItem->data().isValid() && pItem->data().toInt() == nID) {
            return pItem;
        }
    }
    return nullptr;
}
