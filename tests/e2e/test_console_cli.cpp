// The console's command line as a program: Qt's own options left to Qt, refused --com forms,
// --list-ports on a machine with pseudo-terminals and a kept map of the test's own, the logging
// categories off by default and on with --trace, a missing display, and the one version.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include "console_app.h"
#include "dialog_templates.h"
#include "support/pty_pair.h"

namespace {

struct ProgramRun {
    int nExit = -1;  // -1: did not end by itself
    QString strOut;
    QString strErr;
};

// Runs the console with env changes (an empty value removes the variable).
ProgramRun RunConsole(const QStringList& args, const QMap<QString, QString>& env = {})
{
    QProcess proc;
    QProcessEnvironment pe = QProcessEnvironment::systemEnvironment();
    pe.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    pe.remove(QStringLiteral("QT_LOGGING_RULES"));
    for (auto it = env.constBegin(); it != env.constEnd(); ++it) {
        if (it.value().isEmpty())
            pe.remove(it.key());
        else
            pe.insert(it.key(), it.value());
    }
    proc.setProcessEnvironment(pe);
    proc.start(qEnvironmentVariable("VELTRIN_BINARY_DIR") + QStringLiteral("/console/Veltrin"), args);
    ProgramRun r;
    if (!proc.waitForFinished(60000)) {
        proc.kill();
        proc.waitForFinished();
        return r;
    }
    r.strOut = QString::fromUtf8(proc.readAllStandardOutput());
    r.strErr = QString::fromUtf8(proc.readAllStandardError());
    r.nExit = proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
    return r;
}

TEST(ConsoleCli, QtsOwnOptionsAreLeftToQt)
{
    const struct {
        QStringList in;
        QStringList ours;
        QStringList qt;
    } rows[] = {
        {{"Veltrin", "-platform", "offscreen", "--demo"}, {"Veltrin", "--demo"}, {"-platform", "offscreen"}},
        {{"Veltrin", "--platform", "offscreen", "-reverse", "-style=fusion", "--com", "1=/x"},
         {"Veltrin", "--com", "1=/x"}, {"--platform", "offscreen", "-reverse", "-style=fusion"}},
        {{"Veltrin", "-style", "fusion", "-qwindowtitle", "T", "-widgetcount"}, {"Veltrin"},
         {"-style", "fusion", "-qwindowtitle", "T", "-widgetcount"}},
        {{"Veltrin", "--bogus", "-p"}, {"Veltrin", "--bogus", "-p"}, {}},  // ours to refuse
        {{"Veltrin", "--", "-platform"}, {"Veltrin", "--", "-platform"}, {}},
    };
    for (const auto& r : rows) {
        QStringList qt;
        EXPECT_EQ(WithoutQtOptions(r.in, &qt), r.ours) << qPrintable(r.in.join(' '));
        EXPECT_EQ(qt, r.qt) << qPrintable(r.in.join(' '));
    }
    const ProgramRun help = RunConsole({"-platform", "offscreen", "--help"});
    EXPECT_EQ(help.nExit, 0) << qPrintable(help.strErr);
    EXPECT_TRUE(help.strOut.contains(QStringLiteral("--list-ports")));
    // A Qt option with our own working: the demo's picture with a Qt style.
    QTemporaryDir dir;
    const ProgramRun shot = RunConsole({"-style", "fusion", "-platform", "offscreen", "--screenshot",
                                 dir.filePath(QStringLiteral("x.png")), "--after", "0"});
    EXPECT_EQ(shot.nExit, 0) << qPrintable(shot.strErr);
}

TEST(ConsoleCli, RefusedPortForms)
{
    const QStringList rows[] = {
        {"--com", "17=/dev/ttyUSB0"},
        {"--com", "0=/dev/ttyUSB0"},
        {"--com", "1=/dev/ttyUSB0", "--com", "1=/dev/ttyUSB1"},
        {"--com", "01=/dev/ttyUSB0", "--com", "1=/dev/ttyUSB1"},
        {"--com", "x=/dev/ttyUSB0"},
        {"--com", "2="},
    };
    for (const QStringList& args : rows) {
        const ProgramRun r = RunConsole(args);
        EXPECT_EQ(r.nExit, 2) << qPrintable(args.join(' '));
        EXPECT_TRUE(r.strOut.isEmpty()) << qPrintable(args.join(' '));
        EXPECT_TRUE(r.strErr.contains(QStringLiteral("--com"))) << qPrintable(r.strErr);
    }
    ConsoleOptions ok = ParseConsoleArguments({"Veltrin", "--com", "16=/dev/a", "--com", "1=/dev/b"});
    EXPECT_TRUE(ok.strError.isEmpty()) << qPrintable(ok.strError);
}

TEST(ConsoleCli, ListPortsShowsTheSystemsPortsAndTheMap)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    {
        QSettings kept(config.filePath(QStringLiteral("Veltrin/Veltrin.conf")), QSettings::IniFormat);
        kept.setValue(QStringLiteral("PortMap/COM3"), QStringLiteral("/dev/ttyACM9"));
    }
    const QString strPty = QString::fromStdString(pty.SlavePath());
    const ProgramRun r = RunConsole({"--list-ports", "--com", "2=" + strPty},
                             {{QStringLiteral("XDG_CONFIG_HOME"), config.path()}});
    ASSERT_EQ(r.nExit, 0) << qPrintable(r.strErr);
    EXPECT_TRUE(r.strOut.startsWith(QStringLiteral("Serial ports reported by the system:\n")));
    const QStringList lines = r.strOut.split(QLatin1Char('\n'));
    auto line = [&](const QString& strStart) {
        for (const QString& l : lines)
            if (l.trimmed().startsWith(strStart + QLatin1Char(' ')))
                return l.simplified();
        return QString();
    };
    EXPECT_EQ(line(QStringLiteral("COM2")), QStringLiteral("COM2 %1 --com").arg(strPty));
    EXPECT_EQ(line(QStringLiteral("COM3")), QStringLiteral("COM3 /dev/ttyACM9 kept"));
#ifdef __linux__
    EXPECT_EQ(line(QStringLiteral("COM1")), QStringLiteral("COM1 /dev/ttyS0 default"));  // something is kept
    EXPECT_EQ(line(QStringLiteral("COM16")), QStringLiteral("COM16 /dev/ttyS15 default"));
#endif
    EXPECT_TRUE(r.strOut.contains(config.filePath(QStringLiteral("Veltrin/Veltrin.conf"))));
    // A pseudo-terminal is no serial port the system reports.
    EXPECT_EQ(r.strOut.count(strPty), 1) << qPrintable(r.strOut);
}

TEST(ConsoleCli, LoggingIsSilentUnlessTraced)
{
    QTemporaryDir dir;
    const QString strShot = dir.filePath(QStringLiteral("c.png"));
    const QStringList demo = {"--demo", "--screenshot", strShot, "--after", "700"};
    const ProgramRun quiet = RunConsole(demo);
    ASSERT_EQ(quiet.nExit, 0) << qPrintable(quiet.strErr);
    EXPECT_TRUE(quiet.strOut.isEmpty()) << qPrintable(quiet.strOut);
    EXPECT_FALSE(quiet.strErr.contains(QStringLiteral("veltrin."))) << qPrintable(quiet.strErr);
    EXPECT_FALSE(quiet.strErr.contains(QStringLiteral("Send Data"))) << qPrintable(quiet.strErr);

    const ProgramRun traced = RunConsole(QStringList{"--trace"} + demo);
    ASSERT_EQ(traced.nExit, 0) << qPrintable(traced.strErr);
    EXPECT_TRUE(traced.strOut.isEmpty()) << qPrintable(traced.strOut);
    EXPECT_TRUE(traced.strErr.contains(QStringLiteral("veltrin.link: Send Data:F0 2F 01 32"))) << qPrintable(traced.strErr);
    EXPECT_TRUE(traced.strErr.contains(QStringLiteral("veltrin.serial: COM1"))) << qPrintable(traced.strErr);

}

#ifdef __linux__
TEST(ConsoleCli, WithoutADisplayItSaysSoAndExitsTwo)
{
    const ProgramRun r = RunConsole({}, {{QStringLiteral("QT_QPA_PLATFORM"), QString()},
                                  {QStringLiteral("DISPLAY"), QString()},
                                  {QStringLiteral("WAYLAND_DISPLAY"), QString()}});
    EXPECT_EQ(r.nExit, 2);
    EXPECT_TRUE(r.strErr.contains(QStringLiteral("needs a display"))) << qPrintable(r.strErr);
    EXPECT_TRUE(r.strErr.contains(QStringLiteral("QT_QPA_PLATFORM=offscreen"))) << qPrintable(r.strErr);
}
#endif

TEST(ConsoleCli, OneVersionEverywhere)
{
    const QString strVersion = QStringLiteral(PROJECT_VERSION_FOR_TEST);
    const QStringList parts = strVersion.split(QLatin1Char('.'));
    ASSERT_EQ(parts.size(), 4);
    const ProgramRun r = RunConsole({"--version"});
    EXPECT_EQ(r.nExit, 0);
    EXPECT_EQ(r.strOut, QStringLiteral("Veltrin %1\n").arg(strVersion));

    EXPECT_EQ(QString::fromLatin1(ProgramVersionString()), strVersion);
    const VersionRecord& rec = ProgramVersion();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rec.nFileVersion[i], parts[i].toInt());
        EXPECT_EQ(rec.nProductVersion[i], parts[i].toInt());
    }
    // The record's texts keep their form: "1, 0, 0, 1".
    EXPECT_EQ(QString::fromLatin1(rec.pszFileVersion), parts.join(QStringLiteral(", ")));
    EXPECT_EQ(QString::fromLatin1(rec.pszProductVersion), parts.join(QStringLiteral(", ")));
    const DlgItemTemplate& name = AboutDialogTemplate().pItems[1];
    EXPECT_EQ(QString::fromUtf8(name.pszText), QStringLiteral("Veltrin %1.%2 版").arg(parts[0], parts[1]));

    // The Windows resource script, through the C preprocessor as the resource compiler reads it.
    QTemporaryDir stub;
    QFile winver(stub.filePath(QStringLiteral("winver.h")));
    ASSERT_TRUE(winver.open(QIODevice::WriteOnly));
    winver.close();
    QProcess cpp;
    cpp.start(QStringLiteral("cpp"), {"-P", "-x", "c", "-I", stub.path(), "-I", QStringLiteral(VERSION_HEADER_DIR),
                                      qEnvironmentVariable("VELTRIN_SOURCE_DIR") + "/resources/veltrin.rc"});
    ASSERT_TRUE(cpp.waitForFinished(30000));
    const QString strRc = QString::fromUtf8(cpp.readAllStandardOutput());
    const QString strNumbers = parts.join(QLatin1Char(','));
    EXPECT_TRUE(strRc.contains(QStringLiteral("FILEVERSION ") + strNumbers)) << qPrintable(strRc);
    EXPECT_TRUE(strRc.contains(QStringLiteral("PRODUCTVERSION ") + strNumbers)) << qPrintable(strRc);
    const QString strText = QStringLiteral("\"%1\\0\"").arg(parts.join(QStringLiteral(", ")));
    EXPECT_TRUE(strRc.contains(QStringLiteral("VALUE \"FileVersion\", ") + strText)) << qPrintable(strRc);
    EXPECT_TRUE(strRc.contains(QStringLiteral("VALUE \"ProductVersion\", ") + strText)) << qPrintable(strRc);
}

} // namespace
