// Windows only: the added commands and About on the native system menu, and their WM_SYSCOMMAND.
#include "sensor_dlg.h"

#ifdef _WIN32
#include <QEvent>

#include "dialog_templates.h"
#include "platform.h"
#include "resource_ids.h"

// The console's own MulDiv (dialog_layout.h) would clash with the one <windows.h> declares;
// that one is renamed out of the way, as nothing here calls it.
#define MulDiv WindowsMulDiv
#include <windows.h>
#undef MulDiv
// <windows.h> maps MessageBox to MessageBoxW; nothing below may be renamed by it.
#undef MessageBox

namespace {

// The system menu of wnd's native window; nullptr while there is none. Never creates the
// window: a native window made early, inside the constructor, would be made again on showing.
HMENU NativeSystemMenu(QWidget& wnd)
{
    const WId hWnd = wnd.internalWinId();
    return hWnd ? ::GetSystemMenu(reinterpret_cast<HWND>(hWnd), FALSE) : nullptr;
}

// Puts the window's system menu back to the system's own, so items can be added afresh.
void ResetNativeSystemMenu(QWidget& wnd)
{
    if (const WId hWnd = wnd.internalWinId())
        ::GetSystemMenu(reinterpret_cast<HWND>(hWnd), TRUE);
}

} // namespace

bool AppendToNativeSystemMenu(QWidget& wnd, const QString& strItem, unsigned nCommand, bool bSeparator)
{
    HMENU hMenu = NativeSystemMenu(wnd);
    if (!hMenu)
        return false;
    if (bSeparator && !::AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr))
        return false;
    return ::AppendMenuW(hMenu, MF_STRING, nCommand, reinterpret_cast<LPCWSTR>(strItem.utf16())) != FALSE;
}

bool SetNativeSystemMenuText(QWidget& wnd, const QString& strItem, unsigned nCommand)
{
    HMENU hMenu = NativeSystemMenu(wnd);
    if (!hMenu)
        return false;
    return ::ModifyMenuW(hMenu, nCommand, MF_BYCOMMAND | MF_STRING, nCommand,
                         reinterpret_cast<LPCWSTR>(strItem.utf16())) != FALSE;
}

void CSensorDlg::BuildNativeSystemMenu()
{
    const WId hWnd = internalWinId();
    m_hSysMenuWnd = 0;
    if (!hWnd)
        return;  // event() builds it once the window exists
    // From the system's own menu each time, so a rebuild never doubles an item: the added
    // commands after a separator, then About after another, as the last item.
    ResetNativeSystemMenu(*this);
    bool bOk = true;
    for (size_t i = 0; i < m_sysCommands.size(); ++i)
        bOk = AppendToNativeSystemMenu(*this, m_sysCommands[i].strText, m_sysCommands[i].nID, i == 0) && bOk;
    const QString strAbout = QString::fromUtf8(LoadResString(IDS_ABOUTBOX));
    if (!strAbout.isEmpty())
        bOk = AppendToNativeSystemMenu(*this, strAbout, IDM_ABOUTBOX) && bOk;
    if (bOk)
        m_hSysMenuWnd = hWnd;
    else
        Platform().OutputDebugStringA("Veltrin: the system menu refused an item; trying again when the window is shown\n");
}

bool CSensorDlg::event(QEvent* e)
{
    // WinIdChange comes when the native window is made and whenever it is made anew (a new
    // window has the system's default menu); Show catches a build that failed before.
    if ((e->type() == QEvent::WinIdChange || e->type() == QEvent::Show) && internalWinId() != m_hSysMenuWnd)
        BuildNativeSystemMenu();
    return QDialog::event(e);
}

bool CSensorDlg::nativeEvent(const QByteArray& eventType, void* pMessage, qintptr* pResult)
{
    // Only "windows_generic_MSG" carries a MSG; other event types point at other structures.
    if (eventType == "windows_generic_MSG" && pMessage) {
        const MSG* pMsg = static_cast<const MSG*>(pMessage);
        if (pMsg->message == WM_SYSCOMMAND) {
            bool bHandled = false;
            Guard([&] { bHandled = OnSysCommand(static_cast<unsigned>(pMsg->wParam & 0xFFFF), pMsg->lParam); });
            if (bHandled) {
                *pResult = 0;
                return true;
            }
        }
    }
    return QDialog::nativeEvent(eventType, pMessage, pResult);
}
#else
bool AppendToNativeSystemMenu(QWidget&, const QString&, unsigned, bool) { return false; }
bool SetNativeSystemMenuText(QWidget&, const QString&, unsigned) { return false; }
#endif
