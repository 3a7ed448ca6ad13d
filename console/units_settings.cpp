#include "units_settings.h"

#include <QSettings>

#include <memory>

namespace {

const char* const SETTINGS_ORGANIZATION = "Veltrin";
const char* const SETTINGS_APPLICATION = "Veltrin";

std::unique_ptr<QSettings> OpenSettings(const QString& strFile)
{
    if (!strFile.isEmpty())
        return std::make_unique<QSettings>(strFile, QSettings::IniFormat);
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromLatin1(SETTINGS_ORGANIZATION),
                                       QString::fromLatin1(SETTINGS_APPLICATION));
}

QString Key(const std::string& s) { return QString::fromStdString(s); }

} // namespace

QString UnitSettingsLocation(const QString& strFile)
{
    return OpenSettings(strFile)->fileName();
}

bool LoadPressureUnits(units::PressureUnits& out, const QString& strFile, QString* pError)
{
    out = units::PressureUnits();
    const auto pSettings = OpenSettings(strFile);
    if (pSettings->status() != QSettings::NoError) {
        if (pError)
            *pError = QStringLiteral("%1 cannot be read").arg(pSettings->fileName());
        return false;
    }
    pSettings->beginGroup(QString::fromLatin1(units::SETTINGS_GROUP));
    units::PressureUnits u;
    for (int c = 0; c < units::PRESSURE_CHANNELS; ++c) {
        const QString strName = pSettings->value(Key(units::UnitKey(c))).toString();
        const QString strScale = pSettings->value(Key(units::ScaleKey(c))).toString();
        if (!strName.isEmpty())
            u.ch[c].name = strName.toStdString();
        if (!strScale.isEmpty() && !units::ParseNumber(strScale.toStdString(), u.ch[c].scale))
            u.ch[c].scale = 0;
        if (!units::ValidUnitName(u.ch[c].name) || !units::ValidScale(u.ch[c].scale)) {
            if (pError)
                *pError = QStringLiteral("%1: the units of channel %2 (%3, %4) are not valid")
                              .arg(pSettings->fileName()).arg(c + 1).arg(strName, strScale);
            return false;
        }
    }
    out = u;
    return true;
}

bool SavePressureUnits(const units::PressureUnits& u, const QString& strFile, QString* pError)
{
    const auto pSettings = OpenSettings(strFile);
    pSettings->beginGroup(QString::fromLatin1(units::SETTINGS_GROUP));
    for (int c = 0; c < units::PRESSURE_CHANNELS; ++c) {
        // Text, so that the file reads the same to programs without Qt.
        pSettings->setValue(Key(units::UnitKey(c)), QString::fromStdString(u.ch[c].name));
        pSettings->setValue(Key(units::ScaleKey(c)), QString::fromStdString(units::FormatNumber(u.ch[c].scale)));
    }
    pSettings->endGroup();
    pSettings->sync();
    if (pSettings->status() != QSettings::NoError) {
        if (pError)
            *pError = pSettings->fileName();
        return false;
    }
    return true;
}

CUnitSettings::CUnitSettings(QObject* pParent, const QString& strFile) : QObject(pParent), m_strFile(strFile)
{
    LoadPressureUnits(m_units, m_strFile);
}

bool CUnitSettings::Set(const units::PressureUnits& u, QString* pError)
{
    if (!SavePressureUnits(u, m_strFile, pError))
        return false;
    m_units = u;
    emit Changed();
    return true;
}
