#pragma once
// The port map: which device each entry COM1..COM16 of the console's port list opens.
// Where the system names its serial ports otherwise (Linux, macOS) the user keeps a map in the
// settings; --com overrides an entry for one run; an entry without either opens the serial
// layer's default, except that COM1 opens the USB serial adapter when no map is kept and exactly
// one adapter is present. On Windows the entries are the system's own COMn and nothing is kept.
#include <QList>
#include <QMap>
#include <QString>

constexpr int PORT_MAP_SIZE = 16;  // COM1..COM16, the entries of the port list

// A serial port the system reports.
struct DetectedPort {
    QString strPath;  // device path: /dev/ttyUSB0, COM3
    QString strDescription;
    QString strManufacturer;
    QString strSerialNumber;
    bool bUsb = false;  // a USB device: vendor and product ids known
    quint16 nVendorId = 0;
    quint16 nProductId = 0;
};

// "VVVV:PPPP" in hex for a USB device, empty otherwise.
QString UsbIdText(const DetectedPort& port);

// Where an entry's device comes from, strongest first.
enum class PortSource { CommandLine, Kept, UsbAdapter, Default };

struct PortTarget {
    QString strPath;
    PortSource source = PortSource::Default;
};

class CPortMap {
public:
    // Windows names its ports COMn itself: there is nothing to keep.
#ifdef _WIN32
    static constexpr bool CAN_KEEP = false;
#else
    static constexpr bool CAN_KEEP = true;
#endif

    // strSettingsFile: an INI file holding the kept map; empty for the user's own settings.
    explicit CPortMap(const QString& strSettingsFile = QString());

    // The serial layer's default device of entry n: /dev/ttyS(n-1), or COMn on Windows.
    static QString DefaultPath(int nPort);
    // The serial ports the system reports now.
    static QList<DetectedPort> Detect();

    // --com N=PATH for this run; wins over the kept map.
    void SetCommandLine(int nPort, const QString& strPath);
    // Keeps strPath for entry n; an empty path gives the entry back to its default.
    void SetKept(int nPort, const QString& strPath);
    void ClearKept();
    const QMap<int, QString>& Kept() const { return m_kept; }
    void SetDetected(const QList<DetectedPort>& ports) { m_detected = ports; }
    const QList<DetectedPort>& Detected() const { return m_detected; }

    // The device entry n opens, and why.
    PortTarget Resolve(int nPort) const;
    // The USB serial adapter when exactly one is detected, else an empty path.
    QString SingleUsbAdapter() const;

    // Reads and writes the kept map; false (with *pError) when the settings cannot be read or
    // written. Nothing is read or written where nothing can be kept.
    bool Load(QString* pError = nullptr);
    bool Save(QString* pError = nullptr) const;
    // Where the kept map lives (a file path, or a registry key).
    QString SettingsLocation() const;

    // Hands the device of every entry to the serial layer for its next open.
    void Apply() const;

private:
    QString m_strSettingsFile;
    QMap<int, QString> m_commandLine;
    QMap<int, QString> m_kept;
    QList<DetectedPort> m_detected;
};

// The map the console runs with. The application sets it; a console dialog made without one
// (as the tests make it) shows the serial layer's paths as they are.
CPortMap* ActivePortMap();
void SetActivePortMap(CPortMap* pMap);
