#include "units_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "modal.h"

CUnitsDlg::CUnitsDlg(const units::PressureUnits& u, QWidget* pParent) : QDialog(pParent), m_units(u)
{
    setWindowTitle(tr("单位设置"));
    if (pParent)
        setFont(pParent->font());
    auto* pLayout = new QVBoxLayout(this);
    auto* pIntro = new QLabel(tr("静压通道的读数（传感器计数）按“每单位计数”换算为所选单位，"
                                 "用于波形回顾和导出。主窗口的大读数仍显示计数。"),
                              this);
    pIntro->setWordWrap(true);
    pLayout->addWidget(pIntro);
    auto* pGrid = new QGridLayout;
    pGrid->addWidget(new QLabel(tr("单位"), this), 0, 1);
    pGrid->addWidget(new QLabel(tr("每单位计数"), this), 0, 2);
    for (int c = 0; c < units::PRESSURE_CHANNELS; ++c) {
        pGrid->addWidget(new QLabel(tr("静压%1").arg(c + 1), this), c + 1, 0);
        m_pName[c] = new QLineEdit(this);
        m_pName[c]->setMaxLength(static_cast<int>(units::MAX_NAME_LEN));
        m_pScale[c] = new QLineEdit(this);
        pGrid->addWidget(m_pName[c], c + 1, 1);
        pGrid->addWidget(m_pScale[c], c + 1, 2);
        connect(m_pName[c], &QLineEdit::textChanged, this, &CUnitsDlg::ShowCommandLine);
        connect(m_pScale[c], &QLineEdit::textChanged, this, &CUnitsDlg::ShowCommandLine);
    }
    pLayout->addLayout(pGrid);
    m_pCommandLine = new QLabel(this);
    m_pCommandLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pCommandLine->setWordWrap(true);
    pLayout->addWidget(m_pCommandLine);

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* pDefaults = pButtons->addButton(tr("恢复默认"), QDialogButtonBox::ResetRole);
    connect(pDefaults, &QPushButton::clicked, this, [this] { Fill(units::PressureUnits()); });
    connect(pButtons, &QDialogButtonBox::accepted, this, &CUnitsDlg::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &CUnitsDlg::reject);
    pLayout->addWidget(pButtons);
    Fill(u);
}

void CUnitsDlg::Fill(const units::PressureUnits& u)
{
    for (int c = 0; c < units::PRESSURE_CHANNELS; ++c) {
        m_pName[c]->setText(QString::fromStdString(u.ch[c].name));
        m_pScale[c]->setText(QString::fromStdString(units::FormatNumber(u.ch[c].scale)));
    }
}

bool CUnitsDlg::Read(units::PressureUnits& u, QString* pProblem) const
{
    for (int c = 0; c < units::PRESSURE_CHANNELS; ++c) {
        const std::string strName = m_pName[c]->text().trimmed().toStdString();
        double scale = 0;
        if (!units::ValidUnitName(strName)) {
            *pProblem = tr("静压%1 的单位须为 1 到 8 个字母、数字或 % / . _ - ^ ( ) *。").arg(c + 1);
            return false;
        }
        if (!units::ParseNumber(m_pScale[c]->text().toStdString(), scale) || !units::ValidScale(scale)) {
            *pProblem = tr("静压%1 的每单位计数须为 0.001 到 1000000 之间的数。").arg(c + 1);
            return false;
        }
        u.ch[c].name = strName;
        u.ch[c].scale = scale;
    }
    return true;
}

void CUnitsDlg::ShowCommandLine()
{
    units::PressureUnits u;
    QString strProblem;
    m_pCommandLine->setText(Read(u, &strProblem)
                                ? tr("导出时同样换算：sensor-decode --units %1").arg(QString::fromStdString(units::FormatUnits(u)))
                                : strProblem);
}

void CUnitsDlg::accept()
{
    units::PressureUnits u;
    QString strProblem;
    if (!Read(u, &strProblem)) {
        ShowMessageBox(this, strProblem, QString(), QMessageBox::Warning);
        return;
    }
    m_units = u;
    QDialog::accept();
}
