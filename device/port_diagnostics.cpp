#include "port_diagnostics.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

#ifndef _WIN32
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>
#endif

namespace {

class PortDiagnostics {
    Q_DECLARE_TR_FUNCTIONS(PortDiagnostics)
public:
    static QString Explain(const PortProbe& probe);
};

bool NamesUsbDevice(const QString& strPath)
{
    const QString strLower = strPath.toLower();
    return strLower.contains(QLatin1String("usb")) || strLower.contains(QLatin1String("acm"));
}

#ifndef _WIN32
QString ReadFirstLine(const QString& strFile)
{
    QFile file(strFile);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readLine(256)).trimmed();
}

QString ProgramName(const ProbeEnvironment& env, qint64 nPid)
{
    return ReadFirstLine(QStringLiteral("%1/%2/comm").arg(env.strProcRoot).arg(nPid));
}

bool HasHolder(const QList<PortHolder>& holders, qint64 nPid)
{
    for (const PortHolder& h : holders)
        if (h.nPid == nPid)
            return true;
    return false;
}

// The process ids listed under the proc root.
std::vector<qint64> ProcessIds(const QString& strProcRoot)
{
    std::vector<qint64> pids;
    DIR* pDir = ::opendir(QFile::encodeName(strProcRoot).constData());
    if (!pDir)
        return pids;
    while (const dirent* pEntry = ::readdir(pDir)) {
        bool bOk = false;
        const qint64 nPid = QByteArray(pEntry->d_name).toLongLong(&bOk);
        if (bOk && nPid > 0)
            pids.push_back(nPid);
    }
    ::closedir(pDir);
    return pids;
}

// Whether process nPid has a descriptor open on the character device rdev. Other users'
// descriptors are not readable: those holders are found through their lock files only.
bool HoldsDevice(const QString& strProcRoot, qint64 nPid, dev_t rdev)
{
    const QByteArray fdDir = QFile::encodeName(QStringLiteral("%1/%2/fd").arg(strProcRoot).arg(nPid));
    DIR* pDir = ::opendir(fdDir.constData());
    if (!pDir)
        return false;
    bool bFound = false;
    while (const dirent* pEntry = ::readdir(pDir)) {
        if (pEntry->d_name[0] == '.')
            continue;
        struct stat st {};
        if (::stat((fdDir + '/' + pEntry->d_name).constData(), &st) == 0 && S_ISCHR(st.st_mode)
            && st.st_rdev == rdev) {
            bFound = true;
            break;
        }
    }
    ::closedir(pDir);
    return bFound;
}

// Lock file names for a device path: the name Qt's serial port uses (the path after /dev/,
// slashes turned into underscores) and the UUCP name other programs use (the file name).
QStringList LockNames(const QString& strPath)
{
    QStringList names;
    QStringList paths{strPath};
    const QString strCanonical = QFileInfo(strPath).canonicalFilePath();
    if (!strCanonical.isEmpty() && strCanonical != strPath)
        paths << strCanonical;
    for (const QString& p : paths) {
        QString strQt = p.startsWith(QLatin1String("/dev/")) ? p.mid(5) : p;
        strQt.replace(QLatin1Char('/'), QLatin1Char('_'));
        for (const QString& n : {strQt, QFileInfo(p).fileName()})
            if (!names.contains(QStringLiteral("LCK..") + n))
                names << QStringLiteral("LCK..") + n;
    }
    return names;
}
#endif

} // namespace

QList<PortHolder> FindPortHolders(const QString& strPath, const ProbeEnvironment& env)
{
    QList<PortHolder> holders;
#ifndef _WIN32
    struct stat stDevice {};
    if (::stat(QFile::encodeName(strPath).constData(), &stDevice) != 0 || !S_ISCHR(stDevice.st_mode))
        return holders;
    for (const qint64 nPid : ProcessIds(env.strProcRoot))
        if (HoldsDevice(env.strProcRoot, nPid, stDevice.st_rdev))
            holders.append({nPid, ProgramName(env, nPid)});
    // A lock file names its owner even where the owner's descriptors cannot be seen.
    for (const QString& strDir : env.lockDirs) {
        for (const QString& strName : LockNames(strPath)) {
            bool bOk = false;
            const qint64 nPid = ReadFirstLine(strDir + QLatin1Char('/') + strName).toLongLong(&bOk);
            if (!bOk || nPid <= 0 || HasHolder(holders, nPid))
                continue;
            const QString strName2 = ProgramName(env, nPid);
            if (!strName2.isEmpty())  // a stale lock of a process that is gone names nobody
                holders.append({nPid, strName2});
        }
    }
#else
    Q_UNUSED(strPath);
    Q_UNUSED(env);
#endif
    return holders;
}

PortProbe ProbePortFailure(const QString& strPath, int nSerialError, const ProbeEnvironment& env)
{
    PortProbe probe;
    probe.strPath = strPath;
#ifdef _WIN32
    Q_UNUSED(env);
    if (nSerialError == QSerialPort::DeviceNotFoundError)
        probe.failure = OpenFailure::NotFound;
    else if (nSerialError == QSerialPort::PermissionError)
        probe.failure = OpenFailure::Busy;  // Windows refuses a port in use as access denied
    probe.bUsbName = NamesUsbDevice(strPath);
#else
    const QByteArray path = QFile::encodeName(strPath);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 || nSerialError == QSerialPort::DeviceNotFoundError) {
        probe.failure = OpenFailure::NotFound;
        probe.bUsbName = NamesUsbDevice(strPath);
        for (const QString& strProgram : env.brlttyPrograms)
            probe.bBrltty = probe.bBrltty || QFileInfo::exists(strProgram);
        for (const qint64 nPid : ProcessIds(env.strProcRoot)) {
            if (probe.bBrltty)
                break;
            probe.bBrltty = ProgramName(env, nPid) == QLatin1String("brltty");
        }
        return probe;
    }
    if (nSerialError != QSerialPort::PermissionError)
        return probe;
    if (::access(path.constData(), R_OK | W_OK) != 0 && errno == EACCES) {
        probe.failure = OpenFailure::NoPermission;
        probe.nMode = st.st_mode & 07777;
        probe.bGroupCanUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
        if (const group* pGroup = ::getgrgid(st.st_gid)) {
            probe.strGroup = QString::fromLocal8Bit(pGroup->gr_name);
            const passwd* pUser = ::getpwuid(::getuid());
            if (pUser) {
                probe.bInGroupList = pUser->pw_gid == st.st_gid;
                for (char** ppMember = pGroup->gr_mem; ppMember && *ppMember && !probe.bInGroupList; ++ppMember)
                    probe.bInGroupList = std::strcmp(*ppMember, pUser->pw_name) == 0;
            }
        } else {
            probe.strGroup = QString::number(st.st_gid);
        }
        if (const passwd* pOwner = ::getpwuid(st.st_uid))
            probe.strOwner = QString::fromLocal8Bit(pOwner->pw_name);
        else
            probe.strOwner = QString::number(st.st_uid);
        probe.bInSession = ::getegid() == st.st_gid;
        const int nGroups = ::getgroups(0, nullptr);
        std::vector<gid_t> groups(nGroups > 0 ? size_t(nGroups) : 0);
        if (nGroups > 0 && ::getgroups(nGroups, groups.data()) == nGroups)
            for (const gid_t g : groups)
                probe.bInSession = probe.bInSession || g == st.st_gid;
        return probe;
    }
    // Readable and writable, yet refused: another program has it (exclusive or locked).
    probe.failure = OpenFailure::Busy;
    probe.holders = FindPortHolders(strPath, env);
#endif
    return probe;
}

QString PortDiagnostics::Explain(const PortProbe& probe)
{
    switch (probe.failure) {
    case OpenFailure::NotFound: {
        QString strText = tr("找不到设备 %1。请检查传感器的适配器是否已插好；“端口设置...”列出系统检测到的串口，"
                             "可为 COM1 到 COM16 指定其中之一。").arg(probe.strPath);
        if (probe.bUsbName && probe.bBrltty)
            strText += QLatin1Char('\n')
                + tr("若 USB 串口适配器插入后随即消失，多半是 brltty（盲文显示器服务，Ubuntu 默认安装）占用了它："
                     "请执行 sudo apt remove brltty，然后重新插入适配器。");
        return strText;
    }
    case OpenFailure::NoPermission:
        if (probe.bGroupCanUse && !probe.strGroup.isEmpty()) {
            if (probe.bInGroupList && !probe.bInSession)
                return tr("您已是用户组 %1 的成员，但当前登录会话开始于加入之前：请注销并重新登录后再试。")
                    .arg(probe.strGroup);
            return tr("当前用户无权读写 %1，该设备属于用户组 %2。请执行：\nsudo usermod -aG %2 $USER\n"
                      "然后注销并重新登录。").arg(probe.strPath, probe.strGroup);
        }
        return tr("当前用户无权读写 %1（所有者 %2，用户组 %3，权限 %4）。请让管理员开放该设备的读写权限，"
                  "例如用 udev 规则。")
            .arg(probe.strPath, probe.strOwner, probe.strGroup,
                 QStringLiteral("%1").arg(probe.nMode, 4, 8, QLatin1Char('0')));
    case OpenFailure::Busy: {
        if (probe.holders.isEmpty())
            return tr("%1 正被另一个程序占用。请先关闭使用它的程序，再打开端口。").arg(probe.strPath);
        QStringList names;
        for (const PortHolder& h : probe.holders)
            names << tr("%1（进程 %2）").arg(h.strName.isEmpty() ? QStringLiteral("?") : h.strName).arg(h.nPid);
        return tr("%1 正被另一个程序占用：%2。请先关闭该程序，再打开端口。")
            .arg(probe.strPath, names.join(tr("、")));
    }
    case OpenFailure::Other:
        break;
    }
    return QString();
}

QString ExplainPortFailure(const PortProbe& probe) { return PortDiagnostics::Explain(probe); }
