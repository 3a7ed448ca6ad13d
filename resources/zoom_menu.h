#pragma once
// Menu resources as data: a flat list of entries in the order of a menu script, where a popup
// opens a nesting level that a matching End closes. The waveform control's context menu is
// resource IDR_ZOOM_MENU; a loader turns the entries into real menus for every display.

enum class MenuEntryKind { Item, Separator, Popup, End };

struct MenuEntry {
    MenuEntryKind kind;
    int nID;            // command id of an item, 0 otherwise
    const char* pszText; // UTF-8 text of an item or popup, nullptr otherwise
};

struct MenuResource {
    int nID;
    const MenuEntry* pEntries;
    int nCount;
};

// The menu resource with id nID, or nullptr when there is none.
const MenuResource* FindMenuResource(int nID);
