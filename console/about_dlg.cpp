#include "about_dlg.h"

#include <QPushButton>

#include "resource_ids.h"

CAboutDlg::CAboutDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    m_layout.Build(*this, AboutDialogTemplate());
    setWindowIcon(LoadIconResource(IDR_MAINFRAME));
    // Control 1 is the OK button; Esc and the close box cancel through QDialog.
    if (auto* pOk = qobject_cast<QPushButton*>(m_layout.GetDlgItem(1))) {
        connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
        pOk->setFocus(Qt::OtherFocusReason);
    }
}
