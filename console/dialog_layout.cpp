#include "dialog_layout.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <cstdint>

#include "resource_ids.h"
#include "spin_button.h"

QIcon LoadIconResource(int nID)
{
    if (nID != IDR_MAINFRAME)
        return QIcon();
    InitResourceData();
    QIcon icon;
    icon.addFile(QString::fromLatin1(ICON_MAINFRAME_32), QSize(32, 32));
    icon.addFile(QString::fromLatin1(ICON_MAINFRAME_16), QSize(16, 16));
    return icon;
}

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const int64_t prod = static_cast<int64_t>(a) * b;
    const int64_t half = (c > 0 ? c : -c) / 2;
    const bool bNegative = (prod < 0) != (c < 0);
    const int64_t mag = ((prod < 0 ? -prod : prod) + half) / (c > 0 ? c : -c);
    return static_cast<int>(bNegative ? -mag : mag);
}

DlgBaseUnits BaseUnitsOf(const QFont& font)
{
    const QFontMetrics fm(font);
    const int nWidth = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(nWidth / 26 + 1) / 2, fm.height()};
}

QRect MapDialogRect(const QRect& rcDlu, DlgBaseUnits units)
{
    const int l = MulDiv(rcDlu.x(), units.cx, 4);
    const int t = MulDiv(rcDlu.y(), units.cy, 8);
    const int r = MulDiv(rcDlu.x() + rcDlu.width(), units.cx, 4);
    const int b = MulDiv(rcDlu.y() + rcDlu.height(), units.cy, 8);
    return QRect(l, t, r - l, b - t);
}

QFont DialogFont(const char* pszFace, int nPointSize)
{
    const QString strFace = QString::fromUtf8(pszFace);
    QFont font(strFace, nPointSize);
    font.setWeight(QFont::Normal);
    const QString strGot = QFontInfo(font).family();
    // 宋体 is SimSun under its English name.
    const bool bPresent = strGot.compare(strFace, Qt::CaseInsensitive) == 0 ||
                          (strFace == QStringLiteral("宋体") && strGot.compare(QStringLiteral("SimSun"), Qt::CaseInsensitive) == 0);
    if (!bPresent && QFontDatabase::hasFamily(QString::fromLatin1(DIALOG_FONT_FALLBACK))) {
        font = QFont(QString::fromLatin1(DIALOG_FONT_FALLBACK), nPointSize);
        font.setWeight(QFont::Normal);
    }
    return font;
}

int ControlIdOf(const QWidget* pWidget)
{
    return pWidget ? pWidget->property(CONTROL_ID_PROPERTY).toInt() : 0;
}

void CDialogLayout::Build(QWidget& dlg, const DlgTemplate& tmpl)
{
    m_pTemplate = &tmpl;
    m_font = DialogFont(tmpl.pszFontFace, tmpl.nPointSize);
    m_units = BaseUnitsOf(m_font);
    dlg.setFont(m_font);
    dlg.setWindowTitle(QString::fromUtf8(tmpl.pszCaption));
    dlg.setFixedSize(MapDialogRect(QRect(0, 0, tmpl.cx, tmpl.cy)).size());

    m_items.clear();
    m_ordered.clear();
    m_tabStops.clear();
    for (int i = 0; i < tmpl.nItems; ++i) {
        const DlgItemTemplate& item = tmpl.pItems[i];
        QWidget* pWidget = CreateControl(dlg, item);
        m_ordered.append(pWidget);
        if (!pWidget)
            continue;
        if (item.nID != -1) {
            pWidget->setProperty(CONTROL_ID_PROPERTY, item.nID);
            pWidget->setObjectName(QString::number(item.nID));
            m_items.insert(item.nID, pWidget);
        }
        if (item.nStyle & CS_HIDDEN)
            pWidget->hide();
        if (item.nStyle & CS_TABSTOP) {
            if (!m_tabStops.isEmpty())
                QWidget::setTabOrder(m_tabStops.last(), pWidget);
            m_tabStops.append(pWidget);
        }
    }
    // Group boxes only surround other controls: keep them underneath, clicks go to what they hold.
    for (QWidget* pWidget : m_ordered)
        if (qobject_cast<QGroupBox*>(pWidget))
            pWidget->lower();
}

QRect CDialogLayout::ItemRect(int nID) const
{
    if (!m_pTemplate)
        return {};
    const DlgItemTemplate* pItem = FindDlgItem(*m_pTemplate, nID);
    return pItem ? MapDialogRect(QRect(pItem->x, pItem->y, pItem->cx, pItem->cy)) : QRect();
}

void CDialogLayout::AddItem(int nID, QWidget* pWidget)
{
    if (!pWidget)
        return;
    pWidget->setProperty(CONTROL_ID_PROPERTY, nID);
    if (pWidget->objectName().isEmpty())
        pWidget->setObjectName(QString::number(nID));
    m_items.insert(nID, pWidget);
}

QList<QWidget*> CDialogLayout::TabStops() const { return m_tabStops; }

QWidget* CDialogLayout::CreateControl(QWidget& dlg, const DlgItemTemplate& item)
{
    const QRect rc = MapDialogRect(QRect(item.x, item.y, item.cx, item.cy));
    const QString strText = item.pszText ? QString::fromUtf8(item.pszText) : QString();
    const Qt::FocusPolicy focus = (item.nStyle & CS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus;
    QWidget* pWidget = nullptr;
    switch (item.kind) {
    case CtlKind::PushButton:
    case CtlKind::DefPushButton: {
        auto* pButton = new QPushButton(strText, &dlg);
        const bool bDefault = item.kind == CtlKind::DefPushButton;
        // Only the template's default button reacts to Enter on its own; others by focus.
        pButton->setAutoDefault(bDefault);
        pButton->setDefault(bDefault);
        pButton->setFocusPolicy(focus);
        pWidget = pButton;
        break;
    }
    case CtlKind::GroupBox: {
        auto* pGroup = new QGroupBox(strText, &dlg);
        pGroup->setFocusPolicy(Qt::NoFocus);
        // The caption sits on the top edge, the edge half a line below the control's top.
        pGroup->setStyleSheet(QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); border-radius: 0px; margin-top: %1px; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: %2px; padding: 0px 1px; }")
                                  .arg(QFontMetrics(m_font).height() / 2)
                                  .arg(m_units.cx + 1));
        pWidget = pGroup;
        break;
    }
    case CtlKind::ComboBox: {
        auto* pCombo = new QComboBox(&dlg);
        pCombo->setEditable(true);
        pCombo->setInsertPolicy(QComboBox::NoInsert);
        pCombo->setFocusPolicy(focus);
        for (const char* pszItem : g_portComboItems)
            pCombo->addItem(QString::fromUtf8(pszItem));
        pCombo->setCurrentIndex(-1);
        // Typing into the field leaves no entry selected, whatever the text says.
        QObject::connect(pCombo->lineEdit(), &QLineEdit::textEdited, pCombo, [pCombo](const QString& strTyped) {
            QLineEdit* pEdit = pCombo->lineEdit();
            const int nCursor = pEdit->cursorPosition();
            const QSignalBlocker block(pEdit);
            pCombo->setCurrentIndex(-1);
            pEdit->setText(strTyped);
            pEdit->setCursorPosition(nCursor);
        });
        // The template's height is that of the dropped-down list; the closed field keeps its own.
        const int nFieldHeight = std::min(pCombo->sizeHint().height(), rc.height());
        const int nRowHeight = std::max(1, QFontMetrics(m_font).height() + 2);
        pCombo->setMaxVisibleItems(std::max(1, (rc.height() - nFieldHeight) / nRowHeight));
        pCombo->setGeometry(rc.x(), rc.y(), rc.width(), nFieldHeight);
        return pCombo;
    }
    case CtlKind::Frame: {
        auto* pFrame = new QFrame(&dlg);
        pFrame->setFrameStyle(QFrame::Box | QFrame::Plain);
        pFrame->setLineWidth(1);
        QPalette pal = pFrame->palette();
        pal.setColor(QPalette::WindowText, Qt::black);
        pFrame->setPalette(pal);
        pFrame->setFocusPolicy(Qt::NoFocus);
        pWidget = pFrame;
        break;
    }
    case CtlKind::SerialControl:
        // The serial layer is a member of the dialog, not a window.
        return nullptr;
    case CtlKind::Edit: {
        auto* pEdit = new QLineEdit(&dlg);
        pEdit->setReadOnly(item.nStyle & CS_READONLY);
        pEdit->setFrame(item.nStyle & CS_BORDER);
        pEdit->setAlignment((item.nStyle & CS_CENTER) ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter));
        pEdit->setFocusPolicy(focus);
        if (item.nStyle & CS_READONLY) {
            // Read-only edits look inert, on the dialog's face colour.
            QPalette pal = pEdit->palette();
            pal.setColor(QPalette::Base, pal.color(QPalette::Window));
            pEdit->setPalette(pal);
        }
        pWidget = pEdit;
        break;
    }
    case CtlKind::Label: {
        auto* pLabel = new QLabel(strText, &dlg);
        pLabel->setTextFormat(Qt::PlainText);
        pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        pLabel->setWordWrap(false);
        pLabel->setFocusPolicy(Qt::NoFocus);
        pWidget = pLabel;
        break;
    }
    case CtlKind::Icon: {
        auto* pLabel = new QLabel(&dlg);
        const int nIcon = (strText.startsWith(QLatin1Char('#'))) ? strText.mid(1).toInt() : 0;
        const QPixmap pm = LoadIconResource(nIcon).pixmap(32, 32);
        pLabel->setPixmap(pm);
        pLabel->setFocusPolicy(Qt::NoFocus);
        // An icon static takes the icon's own size at the template's position.
        pLabel->setGeometry(QRect(rc.topLeft(), pm.isNull() ? rc.size() : pm.size()));
        return pLabel;
    }
    case CtlKind::SpinButton: {
        auto* pSpin = new SpinButton(&dlg);
        pSpin->setFocusPolicy((item.nStyle & CS_ARROWKEYS) ? Qt::ClickFocus : Qt::NoFocus);
        pWidget = pSpin;
        break;
    }
    }
    if (pWidget)
        pWidget->setGeometry(rc);
    return pWidget;
}
