#pragma once
// The About box, built from template 100: icon 128, the program's name and version, "确定".
#include <QDialog>

#include "dialog_layout.h"

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* pParent = nullptr);
    const CDialogLayout& Layout() const { return m_layout; }

private:
    CDialogLayout m_layout;
};
