#pragma once
// Builds a dialog from its template: the dialog font, the conversion of dialog units to
// pixels, one widget per control in template order, the tab order, and lookup by control id.
#include <QFont>
#include <QHash>
#include <QList>
#include <QRect>

#include "dialog_templates.h"

class QIcon;
class QWidget;

// Icon resource nID (128) with its 32 x 32 and 16 x 16 images; a null icon for other ids.
QIcon LoadIconResource(int nID);

// Horizontal and vertical dialog base units of a font, in pixels.
struct DlgBaseUnits {
    int cx = 0;
    int cy = 0;
};

// a × b / c rounded half away from zero, computed in 64 bits; -1 when c is 0 (as MulDiv).
int MulDiv(int a, int b, int c);

// Base units of a font: the average advance of "A".."Z" "a".."z" rounded to the nearest pixel
// (as (width / 26 + 1) / 2), and the font's height (ascent + descent).
DlgBaseUnits BaseUnitsOf(const QFont& font);

// Rectangle in dialog units (x, y, width, height) to pixels: each edge converted on its own,
// x = MulDiv(x, cx, 4), y = MulDiv(y, cy, 8), so adjoining controls stay adjoining.
QRect MapDialogRect(const QRect& rcDlu, DlgBaseUnits units);

// The face asked for when present; otherwise the Song/Ming face the set-up installs, which
// has the original face's base units (fontconfig does not alias the Chinese name to it).
QFont DialogFont(const char* pszFace, int nPointSize);
constexpr const char* DIALOG_FONT_FALLBACK = "AR PL UMing CN";

// Qt property that carries a widget's control id.
constexpr const char* CONTROL_ID_PROPERTY = "dlgCtrlId";
int ControlIdOf(const QWidget* pWidget);  // 0 when the widget has none

class CDialogLayout {
public:
    // Sets the dialog's font, caption and fixed client size and creates every control.
    void Build(QWidget& dlg, const DlgTemplate& tmpl);

    const DlgTemplate* Template() const { return m_pTemplate; }
    DlgBaseUnits BaseUnits() const { return m_units; }
    const QFont& Font() const { return m_font; }
    QRect MapDialogRect(const QRect& rcDlu) const { return ::MapDialogRect(rcDlu, m_units); }
    // Pixel rectangle of control nID's template entry; empty for an unknown id.
    QRect ItemRect(int nID) const;

    // The widget of control nID, nullptr when there is none (ids -1 are never found).
    QWidget* GetDlgItem(int nID) const { return m_items.value(nID, nullptr); }
    // Registers a control created at run time under its child id.
    void AddItem(int nID, QWidget* pWidget);
    // One entry per template item in template order; nullptr where no widget is created.
    const QList<QWidget*>& Items() const { return m_ordered; }
    // The tab stops in tab order.
    QList<QWidget*> TabStops() const;

private:
    QWidget* CreateControl(QWidget& dlg, const DlgItemTemplate& item);

    const DlgTemplate* m_pTemplate = nullptr;
    QFont m_font;
    DlgBaseUnits m_units;
    QHash<int, QWidget*> m_items;
    QList<QWidget*> m_ordered;
    QList<QWidget*> m_tabStops;
};
