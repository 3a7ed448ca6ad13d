// What the device link asks of the console window, and the dialog's text access by id.
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "modal.h"
#include "resource_ids.h"
#include "sensor_dlg.h"
#include "spin_button.h"

void CSensorDlg::EnableGainSpins(bool bEnable)
{
    for (SpinButton* pSpin : {m_spinGain1, m_spinGain2, m_spinGain3, m_spinEcgGain, m_spinVolumeGain})
        if (pSpin)
            pSpin->setEnabled(bEnable);
}

void CSensorDlg::AddSamples(int ch0, int ch1, int ch2, int ch3, int ch4)
{
    m_waveChart.AddSamples(ch0, ch1, ch2, ch3, ch4);
}

bool CSensorDlg::IsWindow() const { return m_bWindow; }

void CSensorDlg::InvalidatePressureArea()
{
    // The dialog's update of this rectangle repaints the three readout frames lying in it.
    if (m_framePressureArea)
        update(m_framePressureArea->geometry());
}

void CSensorDlg::StartPressureRepaintTimer(uint32_t nDelayMs)
{
    m_timerPressure.start(static_cast<int>(nDelayMs));
}

int CSensorDlg::GetPortSelection() const { return m_comboPort ? m_comboPort->currentIndex() : -1; }

void CSensorDlg::SetOpenButtonText(const QString& strText) { SetDlgItemText(IDC_BTN_OPEN, strText); }

void CSensorDlg::SetDlgItemInt(int nID, int nValue) { SetDlgItemText(nID, QString::number(nValue)); }

void CSensorDlg::SetDlgItemText(int nID, const QString& strText)
{
    QWidget* pWidget = GetDlgItem(nID);
    if (auto* pEdit = qobject_cast<QLineEdit*>(pWidget))
        pEdit->setText(strText);
    else if (auto* pButton = qobject_cast<QPushButton*>(pWidget))
        pButton->setText(strText);
    else if (auto* pCombo = qobject_cast<QComboBox*>(pWidget))
        pCombo->setEditText(strText);
    else if (auto* pLabel = qobject_cast<QLabel*>(pWidget))
        pLabel->setText(strText);
    else if (auto* pGroup = qobject_cast<QGroupBox*>(pWidget))
        pGroup->setTitle(strText);
}

QString CSensorDlg::GetDlgItemText(int nID) const
{
    const QWidget* pWidget = GetDlgItem(nID);
    if (auto* pEdit = qobject_cast<const QLineEdit*>(pWidget))
        return pEdit->text();
    if (auto* pButton = qobject_cast<const QPushButton*>(pWidget))
        return pButton->text();
    if (auto* pCombo = qobject_cast<const QComboBox*>(pWidget))
        return pCombo->currentText();
    if (auto* pLabel = qobject_cast<const QLabel*>(pWidget))
        return pLabel->text();
    if (auto* pGroup = qobject_cast<const QGroupBox*>(pWidget))
        return pGroup->title();
    return QString();
}

void CSensorDlg::MessageBox(const QString& strText)
{
    ShowMessageBox(this, strText, QString(), QMessageBox::NoIcon);
}

void CSensorDlg::ShowErrorBox(const QString& strText)
{
    ShowMessageBox(this, strText, QString(), QMessageBox::Critical);
}

void CSensorDlg::SetStatusLabelText(const QString& strText)
{
    if (m_stStatus)
        m_stStatus->setText(strText);
}

void CSensorDlg::ShowStatusLabel(bool bShow)
{
    if (m_stStatus)
        m_stStatus->setVisible(bShow);
}
