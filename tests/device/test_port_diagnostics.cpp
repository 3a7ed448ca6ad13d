// A port that will not open is explained with a remedy: the texts from the facts, and the facts
// gathered from real device nodes whose owner and mode the test sets up, opened through the
// serial layer by a separate process that runs as an unprivileged user (the test needs root
// for that and skips the node tests otherwise).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "mscomm.h"
#include "port_diagnostics.h"
#include "support/pty_pair.h"

namespace {

constexpr unsigned NOBODY = 65534;  // nobody:nogroup on Debian

// The console's open path in a process of its own, as nobody; returns its exit status and
// leaves the refusal in *pText.
int OpenAsNobody(const std::string& strPath, QString* pText)
{
    QProcess proc;
    proc.start(QStringLiteral(PORT_OPEN_PROBE_PATH),
               {QStringLiteral("--as"), QStringLiteral("%1:%1").arg(NOBODY), QString::fromStdString(strPath)});
    if (!proc.waitForFinished(30000))
        return -1;
    *pText = QString::fromUtf8(proc.readAllStandardOutput());
    return proc.exitCode();
}

// A child process that holds strPath open with exclusive use, as user uid, under its name.
class Holder {
public:
    Holder(const std::string& strPath, unsigned uid, const char* pszName)
    {
        int ready[2], hold[2];
        if (::pipe(ready) != 0 || ::pipe(hold) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(hold[1]);
            char ok = 0;
            if (uid == 0 || (::setgroups(0, nullptr) == 0 && ::setgid(uid) == 0 && ::setuid(uid) == 0)) {
                ::prctl(PR_SET_DUMPABLE, 1);  // its descriptors stay visible to its own user
                ::prctl(PR_SET_NAME, pszName);
                const int fd = ::open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                ok = fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0;
            }
            (void)!::write(ready[1], &ok, 1);
            (void)!::read(hold[0], &ok, 1);  // until the test lets go
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(hold[0]);
        m_hold = hold[1];
        char ok = 0;
        m_bHolding = ::read(ready[0], &ok, 1) == 1 && ok;
        ::close(ready[0]);
    }
    ~Holder()
    {
        if (m_hold >= 0)
            ::close(m_hold);
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
    }
    bool Holding() const { return m_bHolding; }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_hold = -1;
    bool m_bHolding = false;
};

class PortNodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::getuid() != 0)
            GTEST_SKIP() << "setting up device nodes for another user needs root";
        ASSERT_TRUE(m_pty.Ok());
    }
    // The pty's slave stands in for the device node; the test gives it an owner and a mode.
    void Own(uid_t uid, gid_t gid, mode_t mode)
    {
        ASSERT_EQ(::chown(m_pty.SlavePath().c_str(), uid, gid), 0);
        ASSERT_EQ(::chmod(m_pty.SlavePath().c_str(), mode), 0);
    }
    QString Path() const { return QString::fromStdString(m_pty.SlavePath()); }

    PtyPair m_pty;
};

TEST(PortRemedies, WrittenFromTheFacts)
{
    auto probe = [](OpenFailure failure) {
        PortProbe p;
        p.strPath = QStringLiteral("/dev/ttyUSB0");
        p.failure = failure;
        p.strGroup = QStringLiteral("dialout");
        p.strOwner = QStringLiteral("root");
        p.nMode = 0660;
        p.bGroupCanUse = true;
        return p;
    };
    const struct {
        const char* pszWhat;
        PortProbe probe;
        QStringList has;
        QStringList hasNot;
    } rows[] = {
        {"not in the group", probe(OpenFailure::NoPermission),
         {"/dev/ttyUSB0", "dialout", "sudo usermod -aG dialout $USER"}, {}},
        {"joined the group since logging in",
         [&] { PortProbe p = probe(OpenFailure::NoPermission); p.bInGroupList = true; return p; }(),
         {"dialout"}, {"usermod"}},
        {"no group access at all",
         [&] { PortProbe p = probe(OpenFailure::NoPermission); p.bGroupCanUse = false; p.nMode = 0600; return p; }(),
         {"/dev/ttyUSB0", "root", "0600"}, {"usermod"}},
        {"held by named programs",
         [&] { PortProbe p = probe(OpenFailure::Busy); p.holders = {{4242, "minicom"}, {77, "cu"}}; return p; }(),
         {"/dev/ttyUSB0", "minicom", "4242", "cu", "77"}, {"usermod"}},
        {"held by someone unseen", probe(OpenFailure::Busy), {"/dev/ttyUSB0"}, {"usermod"}},
        {"missing adapter with brltty about",
         [&] { PortProbe p = probe(OpenFailure::NotFound); p.bUsbName = true; p.bBrltty = true; return p; }(),
         {"/dev/ttyUSB0", "brltty", "sudo apt remove brltty"}, {}},
        {"missing adapter, no brltty",
         [&] { PortProbe p = probe(OpenFailure::NotFound); p.bUsbName = true; return p; }(),
         {"/dev/ttyUSB0"}, {"brltty"}},
        {"missing on-board port: brltty does not take those",
         [&] { PortProbe p = probe(OpenFailure::NotFound); p.strPath = "/dev/ttyS4"; p.bBrltty = true; return p; }(),
         {"/dev/ttyS4"}, {"brltty"}},
    };
    for (const auto& r : rows) {
        const QString strText = ExplainPortFailure(r.probe);
        for (const QString& s : r.has)
            EXPECT_TRUE(strText.contains(s)) << r.pszWhat << ": no " << qPrintable(s) << " in " << qPrintable(strText);
        for (const QString& s : r.hasNot)
            EXPECT_FALSE(strText.contains(s)) << r.pszWhat << ": " << qPrintable(s) << " in " << qPrintable(strText);
    }
    EXPECT_TRUE(ExplainPortFailure(probe(OpenFailure::Other)).isEmpty());
}

TEST(PortRemedies, MissingAdapterLooksForBrlttyAmongTheProcesses)
{
    QTemporaryDir proc;
    ASSERT_TRUE(proc.isValid());
    auto addProcess = [&](int nPid, const char* pszName) {
        ASSERT_TRUE(QDir(proc.path()).mkpath(QString::number(nPid)));
        QFile comm(proc.filePath(QStringLiteral("%1/comm").arg(nPid)));
        ASSERT_TRUE(comm.open(QIODevice::WriteOnly));
        comm.write(QByteArray(pszName) + '\n');
    };
    addProcess(1, "systemd");
    ProbeEnvironment env;
    env.strProcRoot = proc.path();
    env.brlttyPrograms = {proc.filePath(QStringLiteral("no-such-program"))};
    const QString strMissing = QStringLiteral("/dev/ttyUSB-veltrin-missing");
    PortProbe p = ProbePortFailure(strMissing, QSerialPort::DeviceNotFoundError, env);
    EXPECT_EQ(p.failure, OpenFailure::NotFound);
    EXPECT_TRUE(p.bUsbName);
    EXPECT_FALSE(p.bBrltty);
    addProcess(812, "brltty");
    p = ProbePortFailure(strMissing, QSerialPort::DeviceNotFoundError, env);
    EXPECT_TRUE(p.bBrltty);
    EXPECT_TRUE(ExplainPortFailure(p).contains(QStringLiteral("brltty")));
}

TEST(PortRemedies, FollowTheSystemsDescriptionInTheRefusal)
{
    CMSComm::ClearPortMap();
    CMSComm::MapPort(2, QStringLiteral("/dev/ttyUSB-veltrin-missing"));
    CMSComm comm;
    comm.SetCommPort(2);
    try {
        comm.SetPortOpen(true);
        ADD_FAILURE() << "a missing device opened";
    } catch (const CommError& e) {
        const QString& s = e.Description();
        const int nSystem = s.indexOf(QStringLiteral("No such file or directory"));
        const int nRemedy = s.lastIndexOf(QStringLiteral("/dev/ttyUSB-veltrin-missing"));
        EXPECT_GE(nSystem, 0) << qPrintable(s);
        EXPECT_GT(nRemedy, nSystem) << qPrintable(s);
    }
    CMSComm::ClearPortMap();
}

TEST_F(PortNodeTest, PermissionDeniedNamesTheDevicesGroupAndTheRemedy)
{
    const group* pDialout = ::getgrnam("dialout");
    ASSERT_NE(pDialout, nullptr);
    Own(0, pDialout->gr_gid, 0660);
    QString strText;
    ASSERT_EQ(OpenAsNobody(m_pty.SlavePath(), &strText), 1) << qPrintable(strText);
    const int nSystem = strText.indexOf(QStringLiteral("Permission denied"));
    EXPECT_GE(nSystem, 0) << qPrintable(strText);
    EXPECT_GT(strText.indexOf(QStringLiteral("sudo usermod -aG dialout $USER")), nSystem) << qPrintable(strText);

    // A node no group may use: the remedy cannot be a group, it names owner and mode instead.
    Own(0, 0, 0600);
    ASSERT_EQ(OpenAsNobody(m_pty.SlavePath(), &strText), 1) << qPrintable(strText);
    EXPECT_TRUE(strText.contains(QStringLiteral("0600"))) << qPrintable(strText);
    EXPECT_FALSE(strText.contains(QStringLiteral("usermod"))) << qPrintable(strText);

    // Access granted: the same node opens.
    Own(0, 0, 0666);
    EXPECT_EQ(OpenAsNobody(m_pty.SlavePath(), &strText), 0) << qPrintable(strText);
}

TEST_F(PortNodeTest, BusyNamesTheProgramHoldingThePortWhenProcShowsIt)
{
    Own(0, 0, 0666);
    {
        const Holder holder(m_pty.SlavePath(), NOBODY, "sensor-grabber");
        ASSERT_TRUE(holder.Holding());
        QString strText;
        ASSERT_EQ(OpenAsNobody(m_pty.SlavePath(), &strText), 1) << qPrintable(strText);
        EXPECT_TRUE(strText.contains(QStringLiteral("sensor-grabber"))) << qPrintable(strText);
        EXPECT_TRUE(strText.contains(QString::number(holder.Pid()))) << qPrintable(strText);
    }
    {
        // Another user's program: /proc does not show whose it is, the message still says busy.
        const Holder holder(m_pty.SlavePath(), 0, "root-grabber");
        ASSERT_TRUE(holder.Holding());
        QString strText;
        ASSERT_EQ(OpenAsNobody(m_pty.SlavePath(), &strText), 1) << qPrintable(strText);
        EXPECT_TRUE(strText.contains(Path())) << qPrintable(strText);
        EXPECT_FALSE(strText.contains(QStringLiteral("root-grabber"))) << qPrintable(strText);
        EXPECT_GT(strText.count(Path()), 1) << "no busy remedy in: " << qPrintable(strText);
    }
}

TEST_F(PortNodeTest, BusyNamesAnotherUsersProgramFromItsLockFile)
{
    Own(0, 0, 0666);
    CMSComm::MapPort(1, Path());
    CMSComm comm;  // this test, as root, holds the port and its lock file
    comm.SetCommPort(1);
    ASSERT_NO_THROW(comm.SetPortOpen(true));
    QFile self(QStringLiteral("/proc/self/comm"));
    ASSERT_TRUE(self.open(QIODevice::ReadOnly));
    const QString strSelf = QString::fromLocal8Bit(self.readAll()).trimmed();
    QString strText;
    ASSERT_EQ(OpenAsNobody(m_pty.SlavePath(), &strText), 1) << qPrintable(strText);
    EXPECT_TRUE(strText.contains(strSelf)) << qPrintable(strText);
    EXPECT_TRUE(strText.contains(QString::number(::getpid()))) << qPrintable(strText);
    comm.SetPortOpen(false);
    CMSComm::ClearPortMap();
}

} // namespace
