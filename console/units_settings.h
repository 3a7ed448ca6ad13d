#pragma once
// The pressure units as the console keeps them: loaded from and saved to QSettings (the same
// file sensor-decode --units kept reads), and one object per program that tells the windows
// showing values when they change. A window that shows pressures takes Units() and follows
// Changed().
#include <QObject>
#include <QString>

#include "channel_units.h"

// Reads the kept units; counts where nothing is kept. strFile: an INI file instead of the
// user's settings (tests). False with *pError when the settings cannot be read or hold a value
// that is no unit; the units are counts then.
bool LoadPressureUnits(units::PressureUnits& out, const QString& strFile = QString(), QString* pError = nullptr);
bool SavePressureUnits(const units::PressureUnits& u, const QString& strFile = QString(), QString* pError = nullptr);
// Where they are kept.
QString UnitSettingsLocation(const QString& strFile = QString());

class CUnitSettings : public QObject {
    Q_OBJECT
public:
    // Loads the kept units at once.
    explicit CUnitSettings(QObject* pParent = nullptr, const QString& strFile = QString());

    const units::PressureUnits& Units() const { return m_units; }
    // Keeps u and tells the windows; false with *pError when it could not be saved (the units
    // are not changed then).
    bool Set(const units::PressureUnits& u, QString* pError = nullptr);
    const QString& SettingsFile() const { return m_strFile; }

signals:
    void Changed();

private:
    QString m_strFile;
    units::PressureUnits m_units;
};
