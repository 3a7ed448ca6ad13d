#pragma once
// What the operator can do about a port that would not open. The facts come from the device
// node and the system (on Linux: the node's owner and group, this session's groups, the
// programs holding the device according to /proc and the lock files, brltty); the remedy is
// written from them in the operator's language.
#include <QList>
#include <QString>
#include <QStringList>

enum class OpenFailure { Other, NotFound, NoPermission, Busy };

struct PortHolder {
    qint64 nPid = 0;
    QString strName;  // the program's name as /proc gives it
};

struct PortProbe {
    QString strPath;
    OpenFailure failure = OpenFailure::Other;
    // NoPermission
    QString strGroup;          // group owning the device node ("dialout", "uucp")
    QString strOwner;          // user owning it
    unsigned nMode = 0;        // its permission bits
    bool bGroupCanUse = false; // its group may read and write it
    bool bInGroupList = false; // the user is a member of that group in the group database
    bool bInSession = false;   // this process has the group (false: joined since logging in)
    // Busy
    QList<PortHolder> holders;
    // NotFound
    bool bUsbName = false;     // the path names a USB serial device
    bool bBrltty = false;      // brltty is installed or running
};

// Where the probe looks; tests point it at their own folders.
struct ProbeEnvironment {
    QString strProcRoot = QStringLiteral("/proc");
    QStringList lockDirs = {QStringLiteral("/var/lock"), QStringLiteral("/run/lock"), QStringLiteral("/etc/locks"),
                            QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"),
                            QStringLiteral("/tmp"), QStringLiteral("/var/tmp")};
    QStringList brlttyPrograms = {QStringLiteral("/usr/bin/brltty"), QStringLiteral("/bin/brltty"),
                                  QStringLiteral("/usr/sbin/brltty"), QStringLiteral("/sbin/brltty")};
};

// Gathers the facts about strPath after QSerialPort refused to open it with nSerialError
// (a QSerialPort::SerialPortError).
PortProbe ProbePortFailure(const QString& strPath, int nSerialError,
                           const ProbeEnvironment& env = ProbeEnvironment());
// The programs that hold strPath open or locked.
QList<PortHolder> FindPortHolders(const QString& strPath, const ProbeEnvironment& env = ProbeEnvironment());
// The remedy for the operator; empty when there is nothing useful to add.
QString ExplainPortFailure(const PortProbe& probe);
