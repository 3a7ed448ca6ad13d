// The demo and screenshot options: parsing, and the real program run offscreen against its
// built-in simulated sensor.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "console_app.h"
#include "resource_ids.h"
#include "sensor_dlg.h"
#include "wave_chart.h"

namespace {

ConsoleOptions Parse(const QStringList& args)
{
    return ParseConsoleArguments(QStringList{QStringLiteral("Veltrin")} + args);
}

TEST(DemoOptions, AcceptedCombinations)
{
    ConsoleOptions o = Parse({});
    EXPECT_FALSE(o.bDemo);
    EXPECT_TRUE(o.strScreenshot.isEmpty());
    EXPECT_FALSE(o.bScroll);

    o = Parse({"--demo", "--demo-rate", "250", "--screenshot", "a b.png", "--scroll"});
    EXPECT_TRUE(o.strError.isEmpty()) << qPrintable(o.strError);
    EXPECT_TRUE(o.bDemo);
    EXPECT_EQ(o.dDemoRate, 250.0);
    EXPECT_EQ(o.strScreenshot, QStringLiteral("a b.png"));
    EXPECT_EQ(o.nScreenshotAfterMs, 3000);
    EXPECT_TRUE(o.bScroll);

    o = Parse({"--screenshot=x.png", "--after=0"});
    EXPECT_TRUE(o.strError.isEmpty()) << qPrintable(o.strError);
    EXPECT_EQ(o.nScreenshotAfterMs, 0);
    EXPECT_TRUE(Parse({"--help"}).strHelpText.contains(QStringLiteral("--screenshot")));
}

TEST(DemoOptions, RefusedCombinations)
{
    const QStringList rows[] = {
        {"--demo-rate", "100"},                       // without --demo
        {"--demo", "--demo-rate", "0"},
        {"--demo", "--demo-rate", "5000"},            // beyond the line rate
        {"--demo", "--demo-rate", "fast"},
        {"--after", "100"},                           // without --screenshot
        {"--screenshot", "x.png", "--after", "-1"},
        {"--screenshot", "x.png", "--after", "1.5"},
        {"--screenshot", "x.png", "--after", "99999999999"},
        {"--screenshot", ""},
        {"--screenshot"},
    };
    for (const QStringList& args : rows)
        EXPECT_FALSE(Parse(args).strError.isEmpty()) << qPrintable(args.join(' '));
}

QString Program()
{
    return qEnvironmentVariable("VELTRIN_BINARY_DIR") + QStringLiteral("/console/Veltrin");
}

// Runs the console to its end; returns its exit code, -1 when it did not end by itself.
int RunConsole(const QStringList& args, QString* pErr = nullptr)
{
    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    proc.setProcessEnvironment(env);
    proc.start(Program(), args);
    if (!proc.waitForFinished(60000)) {
        proc.kill();
        proc.waitForFinished();
        return -1;
    }
    if (pErr)
        *pErr = QString::fromLocal8Bit(proc.readAllStandardError());
    return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
}

TEST(DemoRun, ScreenshotShowsLiveTracesOfTheSimulatedSensor)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString strFile = dir.filePath(QStringLiteral("console.png"));
    QString strErr;
    ASSERT_EQ(RunConsole({"--demo", "--screenshot", strFile, "--after", "1500"}, &strErr), 0) << qPrintable(strErr);
    // No box came up (a lost device, a port that would not open).
    EXPECT_FALSE(strErr.contains(QStringLiteral("串口打开失败"))) << qPrintable(strErr);

    const QImage img(strFile);
    ASSERT_FALSE(img.isNull());
    CSensorDlg dlg;
    EXPECT_EQ(img.size(), dlg.size());

    // Trace pixels in the waveform field: white pulse waves, green ECG and volume wave.
    const QRect rcWave = dlg.GetDlgItem(IDC_WAVECHART)->geometry();
    const QRgb white = ColorFromColorref(WAVE_CLR_PULSE).rgb();
    const QRgb green = ColorFromColorref(WAVE_CLR_AUX).rgb();
    int nWhite = 0;
    int nGreen = 0;
    for (int y = rcWave.top(); y <= rcWave.bottom(); ++y) {
        for (int x = rcWave.left(); x <= rcWave.right(); ++x) {
            const QRgb c = img.pixel(x, y) | 0xFF000000u;
            nWhite += c == white;
            nGreen += c == green;
        }
    }
    EXPECT_GT(nWhite, 300);
    EXPECT_GT(nGreen, 200);
}

TEST(DemoRun, UnwritableScreenshotFailsWithStatusTwo)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString strFile = dir.filePath(QStringLiteral("missing/console.png"));
    QString strErr;
    EXPECT_EQ(RunConsole({"--screenshot", strFile, "--after", "0"}, &strErr), 2);
    EXPECT_TRUE(strErr.contains(strFile)) << qPrintable(strErr);
    EXPECT_FALSE(QFileInfo::exists(strFile));
}

} // namespace
