#pragma once
// "单位设置...": per pressure channel a unit name and a scale in counts per unit. Accepting
// checks both; the caller keeps what was accepted.
#include <QDialog>

#include "channel_units.h"

class QLabel;
class QLineEdit;

class CUnitsDlg : public QDialog {
    Q_OBJECT
public:
    CUnitsDlg(const units::PressureUnits& u, QWidget* pParent = nullptr);

    // What the fields hold; valid once the dialog was accepted.
    const units::PressureUnits& Units() const { return m_units; }
    QLineEdit* NameEdit(int c) const { return m_pName[c]; }
    QLineEdit* ScaleEdit(int c) const { return m_pScale[c]; }

    void accept() override;

private:
    // The fields as units; false with the first problem in *pProblem.
    bool Read(units::PressureUnits& u, QString* pProblem) const;
    void Fill(const units::PressureUnits& u);
    void ShowCommandLine();

    units::PressureUnits m_units;
    QLineEdit* m_pName[units::PRESSURE_CHANNELS] = {};
    QLineEdit* m_pScale[units::PRESSURE_CHANNELS] = {};
    QLabel* m_pCommandLine = nullptr;  // the same units for sensor-decode --units
};
