#include "port_map.h"

#include <QSerialPortInfo>
#include <QSettings>

#include <memory>

#include "mscomm.h"

namespace {

const char* const SETTINGS_GROUP = "PortMap";
const char* const SETTINGS_ORGANIZATION = "Veltrin";
const char* const SETTINGS_APPLICATION = "Veltrin";

CPortMap* g_pActive = nullptr;

bool InRange(int nPort) { return nPort >= 1 && nPort <= PORT_MAP_SIZE; }

QString EntryKey(int nPort) { return QStringLiteral("COM%1").arg(nPort); }

} // namespace

CPortMap::CPortMap(const QString& strSettingsFile) : m_strSettingsFile(strSettingsFile) {}

QString UsbIdText(const DetectedPort& port)
{
    if (!port.bUsb)
        return QString();
    return QStringLiteral("%1:%2")
        .arg(port.nVendorId, 4, 16, QLatin1Char('0'))
        .arg(port.nProductId, 4, 16, QLatin1Char('0'));
}

QString CPortMap::DefaultPath(int nPort) { return CMSComm::DefaultDevicePath(nPort); }

QList<DetectedPort> CPortMap::Detect()
{
    QList<DetectedPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef __APPLE__
        // macOS: every device is reported twice, as /dev/cu.* and /dev/tty.*; opening the tty.*
        // one waits for carrier detect, so only the cu.* one is offered (and counted as an adapter).
        if (info.systemLocation().startsWith(QLatin1String("/dev/tty.")))
            continue;
#endif
        DetectedPort port;
        port.strPath = info.systemLocation();
        port.strDescription = info.description();
        port.strManufacturer = info.manufacturer();
        port.strSerialNumber = info.serialNumber();
        port.bUsb = info.hasVendorIdentifier() && info.hasProductIdentifier();
        port.nVendorId = info.vendorIdentifier();
        port.nProductId = info.productIdentifier();
        ports.append(port);
    }
    return ports;
}

void CPortMap::SetCommandLine(int nPort, const QString& strPath)
{
    if (InRange(nPort) && !strPath.isEmpty())
        m_commandLine.insert(nPort, strPath);
}

void CPortMap::SetKept(int nPort, const QString& strPath)
{
    if (!CAN_KEEP || !InRange(nPort))
        return;
    if (strPath.isEmpty())
        m_kept.remove(nPort);
    else
        m_kept.insert(nPort, strPath);
}

void CPortMap::ClearKept() { m_kept.clear(); }

QString CPortMap::SingleUsbAdapter() const
{
    QString strFound;
    for (const DetectedPort& port : m_detected) {
        if (!port.bUsb)
            continue;
        if (!strFound.isEmpty())
            return QString();  // two or more: no way to tell which is the sensor's
        strFound = port.strPath;
    }
    return strFound;
}

PortTarget CPortMap::Resolve(int nPort) const
{
    if (const auto it = m_commandLine.constFind(nPort); it != m_commandLine.constEnd())
        return {it.value(), PortSource::CommandLine};
    if (const auto it = m_kept.constFind(nPort); it != m_kept.constEnd())
        return {it.value(), PortSource::Kept};
    if (CAN_KEEP && nPort == 1 && m_kept.isEmpty()) {
        const QString strAdapter = SingleUsbAdapter();
        if (!strAdapter.isEmpty())
            return {strAdapter, PortSource::UsbAdapter};
    }
    return {DefaultPath(nPort), PortSource::Default};
}

namespace {

std::unique_ptr<QSettings> OpenSettings(const QString& strFile)
{
    if (!strFile.isEmpty())
        return std::make_unique<QSettings>(strFile, QSettings::IniFormat);
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromLatin1(SETTINGS_ORGANIZATION),
                                       QString::fromLatin1(SETTINGS_APPLICATION));
}

QString SettingsProblem(const QSettings& settings)
{
    switch (settings.status()) {
    case QSettings::NoError:
        return QString();
    case QSettings::AccessError:
        return QStringLiteral("%1 cannot be read or written").arg(settings.fileName());
    case QSettings::FormatError:
        return QStringLiteral("%1 is malformed").arg(settings.fileName());
    }
    return QString();
}

} // namespace

QString CPortMap::SettingsLocation() const { return OpenSettings(m_strSettingsFile)->fileName(); }

bool CPortMap::Load(QString* pError)
{
    m_kept.clear();
    if (!CAN_KEEP)
        return true;
    const auto pSettings = OpenSettings(m_strSettingsFile);
    pSettings->beginGroup(QString::fromLatin1(SETTINGS_GROUP));
    for (int n = 1; n <= PORT_MAP_SIZE; ++n) {
        const QString strPath = pSettings->value(EntryKey(n)).toString().trimmed();
        if (!strPath.isEmpty())
            m_kept.insert(n, strPath);
    }
    pSettings->endGroup();
    const QString strProblem = SettingsProblem(*pSettings);
    if (pError)
        *pError = strProblem;
    return strProblem.isEmpty();
}

bool CPortMap::Save(QString* pError) const
{
    if (!CAN_KEEP)
        return true;
    const auto pSettings = OpenSettings(m_strSettingsFile);
    pSettings->remove(QString::fromLatin1(SETTINGS_GROUP));
    pSettings->beginGroup(QString::fromLatin1(SETTINGS_GROUP));
    for (auto it = m_kept.constBegin(); it != m_kept.constEnd(); ++it)
        pSettings->setValue(EntryKey(it.key()), it.value());
    pSettings->endGroup();
    pSettings->sync();  // a write that did not happen must be told, not found at the next start
    const QString strProblem = SettingsProblem(*pSettings);
    if (pError)
        *pError = strProblem;
    return strProblem.isEmpty();
}

void CPortMap::Apply() const
{
    for (int n = 1; n <= PORT_MAP_SIZE; ++n)
        CMSComm::MapPort(n, Resolve(n).strPath);
}

CPortMap* ActivePortMap() { return g_pActive; }

void SetActivePortMap(CPortMap* pMap) { g_pActive = pMap; }
