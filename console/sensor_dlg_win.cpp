// Windows only: the About item on the native system menu and its WM_SYSCOMMAND.
#include "sensor_dlg.h"

#ifdef _WIN32
#include <windows.h>
// <windows.h> maps MessageBox to MessageBoxW; nothing below may be renamed by it.
#undef MessageBox

bool AppendToNativeSystemMenu(QWidget& wnd, const QString& strItem, unsigned nCommand, bool bSeparator)
{
    HMENU hMenu = ::GetSystemMenu(reinterpret_cast<HWND>(wnd.winId()), FALSE);
    if (!hMenu)
        return false;
    if (bSeparator)
        ::AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
    return ::AppendMenuW(hMenu, MF_STRING, nCommand, reinterpret_cast<LPCWSTR>(strItem.utf16())) != FALSE;
}

bool SetNativeSystemMenuText(QWidget& wnd, const QString& strItem, unsigned nCommand)
{
    HMENU hMenu = ::GetSystemMenu(reinterpret_cast<HWND>(wnd.winId()), FALSE);
    if (!hMenu)
        return false;
    return ::ModifyMenuW(hMenu, nCommand, MF_BYCOMMAND | MF_STRING, nCommand,
                         reinterpret_cast<LPCWSTR>(strItem.utf16())) != FALSE;
}

bool CSensorDlg::nativeEvent(const QByteArray& eventType, void* pMessage, qintptr* pResult)
{
    const MSG* pMsg = static_cast<const MSG*>(pMessage);
    if (pMsg && pMsg->message == WM_SYSCOMMAND) {
        bool bHandled = false;
        Guard([&] { bHandled = OnSysCommand(static_cast<unsigned>(pMsg->wParam & 0xFFFF), pMsg->lParam); });
        if (bHandled) {
            *pResult = 0;
            return true;
        }
    }
    return QDialog::nativeEvent(eventType, pMessage, pResult);
}
#else
bool AppendToNativeSystemMenu(QWidget&, const QString&, unsigned, bool) { return false; }
bool SetNativeSystemMenuText(QWidget&, const QString&, unsigned) { return false; }
#endif
