// Menu resource 130: the waveform control's context menu.
#include "zoom_menu.h"

#include "resource_ids.h"

namespace {

const MenuEntry kZoomMenu[] = {
    { MenuEntryKind::Popup, 0, "_Zoom_" },
        { MenuEntryKind::Item, ID_ZOOM_IN, "放大" },
        { MenuEntryKind::Item, ID_ZOOM_OUT, "缩小" },
        { MenuEntryKind::Separator, 0, nullptr },
        { MenuEntryKind::Popup, 0, "缩放模式" },
            { MenuEntryKind::Item, ID_ZOOM_XAXIS, "缩放X轴向" },
            { MenuEntryKind::Item, ID_ZOOM_YAXIS, "缩放Y轴向" },
        { MenuEntryKind::End, 0, nullptr },
        { MenuEntryKind::Popup, 0, "波形显示" },
            { MenuEntryKind::Item, ID_WAVE_PAGEFLIP, "翻屏显示" },
            { MenuEntryKind::Item, ID_WAVE_SCROLL, "滚动显示" },
        { MenuEntryKind::End, 0, nullptr },
        { MenuEntryKind::Separator, 0, nullptr },
        { MenuEntryKind::Item, ID_ZOOM_INFO, "{x=100%; y=100%}" },
    { MenuEntryKind::End, 0, nullptr },
};

const MenuResource kMenus[] = {
    { IDR_ZOOM_MENU, kZoomMenu, int(sizeof(kZoomMenu) / sizeof(kZoomMenu[0])) },
};

} // namespace

const MenuResource* FindMenuResource(int nID)
{
    for (const MenuResource& menu : kMenus) {
        if (menu.nID == nID)
            return &menu;
    }
    return nullptr;
}
