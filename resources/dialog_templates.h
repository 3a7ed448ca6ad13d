#pragma once
// The console's dialog templates as data: every control with its id, kind, caption, rectangle
// in dialog units and styles, in template order (which is also the tab order). Plain C++ so
// the data can be read by the dialogs, the tests and any tool alike; texts are UTF-8.
#include <cstddef>

enum class CtlKind {
    PushButton,     // push button, never the default
    DefPushButton,  // the dialog's default push button
    GroupBox,
    ComboBox,       // drop-down with an editable field
    Frame,          // black frame
    SerialControl,  // the serial-communications control: no visible widget
    Edit,
    Label,          // left-aligned static text
    Icon,           // static showing an icon resource
    SpinButton,     // up-down control without buddy
};

// Styles that change what a control looks like or how it behaves.
enum CtlStyle : unsigned {
    CS_TABSTOP = 1u << 0,
    CS_GROUP = 1u << 1,     // starts a group
    CS_HIDDEN = 1u << 2,    // created invisible
    CS_READONLY = 1u << 3,  // edit: read-only
    CS_CENTER = 1u << 4,    // edit: centred text
    CS_BORDER = 1u << 5,
    CS_VSCROLL = 1u << 6,   // combo: vertical scroll bar in the list
    CS_ARROWKEYS = 1u << 7, // spin: the arrow keys step it
    CS_NOPREFIX = 1u << 8,  // static: '&' shown literally
    CS_AUTOHSCROLL = 1u << 9,
};

struct DlgItemTemplate {
    int nID;            // -1 for statics and group boxes that code never addresses
    CtlKind kind;
    const char* pszText;  // caption, or nullptr; for an icon the resource id as "#128"
    int x, y, cx, cy;   // dialog units
    unsigned nStyle;    // CtlStyle bits
};

struct DlgTemplate {
    int nID;
    const char* pszCaption;
    int cx, cy;  // client size in dialog units
    const char* pszFontFace;
    int nPointSize;
    const DlgItemTemplate* pItems;
    int nItems;
    bool bTaskbarButton;  // application-window extended style
};

// Template 102, the console; template 100, the About box.
const DlgTemplate& SensorDialogTemplate();
const DlgTemplate& AboutDialogTemplate();
// nullptr for an id without template.
const DlgTemplate* FindDialogTemplate(int nID);
// The template entry of control nID, or nullptr.
const DlgItemTemplate* FindDlgItem(const DlgTemplate& dlg, int nID);

// The items of combo 1004 in template order: "COM1" .. "COM16".
constexpr int PORT_COMBO_ITEMS = 16;
extern const char* const g_portComboItems[PORT_COMBO_ITEMS];

// The string table; nullptr for an id without string.
const char* LoadResString(int nID);

// The program's version record.
struct VersionRecord {
    int nFileVersion[4];
    int nProductVersion[4];
    unsigned nLanguage;  // 0x0804, Chinese (PRC)
    unsigned nCodePage;  // 1200, UTF-16
    const char* pszCompanyName;
    const char* pszFileDescription;
    const char* pszFileVersion;
    const char* pszInternalName;
    const char* pszLegalCopyright;
    const char* pszLegalTrademarks;
    const char* pszOriginalFilename;
    const char* pszProductName;
    const char* pszProductVersion;
};
const VersionRecord& ProgramVersion();
// "1.0.0.1"
const char* ProgramVersionString();

// Registers the compiled icon resources; call once before the first icon is loaded.
void InitResourceData();

// Icon 128 as Qt resources, one file per size.
constexpr const char* ICON_MAINFRAME_32 = ":/veltrin/icons/veltrin-32.png";
constexpr const char* ICON_MAINFRAME_16 = ":/veltrin/icons/veltrin-16.png";
