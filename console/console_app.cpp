#include "console_app.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string>

#include "diag_run.h"
#include "dialog_layout.h"
#include "dialog_templates.h"
#include "modal.h"
#include "mscomm.h"
#include "resource_ids.h"
#include "sensor_dlg.h"
#include "sensor_sim.h"

namespace {

constexpr int MAX_SCREENSHOT_AFTER_MS = 3600 * 1000;

// Runs the button's own click path, handlers and all.
void ClickButton(CSensorDlg& dlg, int nID)
{
    if (auto* pButton = qobject_cast<QPushButton*>(dlg.GetDlgItem(nID)))
        pButton->click();
}

} // namespace

QString ConsoleHelpText(const QString& strProgram)
{
#ifdef _WIN32
    const QString strDefault = QStringLiteral("COMN");
#else
    const QString strDefault = QStringLiteral("/dev/ttyS(N-1)");
#endif
    return QStringLiteral(
               "Usage: %1 [--com N=PATH]... [--demo [--demo-rate N]] [--screenshot FILE [--after MS]]\n"
               "       [--scroll] [--auto-observe] [--diag-report FILE]\n"
               "Console for a three-channel pulse-pressure sensor on a serial port.\n\n"
               "Options:\n"
               "  --com N=PATH       Use serial device PATH as port COMN (entry N of the port list),\n"
               "                     e.g. --com 1=/dev/ttyUSB0. May be repeated. Unmapped, COMN is\n"
               "                     %2.\n"
               "  --demo             Run against a built-in simulated sensor: COM1 is a\n"
               "                     pseudo-terminal with the sensor on its far side (this\n"
               "                     overrides a --com 1=PATH).\n"
               "  --demo-rate N      Data frames a second of the simulated sensor, 1 to %3\n"
               "                     (default 500).\n"
               "  --screenshot FILE  Save the console window as a PNG to FILE after a while and\n"
               "                     exit (2 when FILE cannot be written). With --demo the port is\n"
               "                     opened and observing started first. Runs offscreen unless\n"
               "                     QT_QPA_PLATFORM says otherwise.\n"
               "  --after MS         Milliseconds before the screenshot is taken (default 3000).\n"
               "  --scroll           Start the traces in scrolling mode instead of page flip.\n"
               "  --auto-observe     Run unattended: open COM1 and start observing at once, do it\n"
               "                     again whenever the device was lost and its path is back,\n"
               "                     answer every message box at once (its text goes to standard\n"
               "                     error), and on SIGTERM or SIGINT stop observing, wait for the\n"
               "                     line to fall silent and exit. For soak tests and measurements.\n"
               "  --diag-report FILE Rewrite FILE once a second and at exit with the console's own\n"
               "                     counters as key=value lines: data frames decoded, bad checks,\n"
               "                     port openings, waveform paints, the longest wait of a sample\n"
               "                     for its paint, message boxes shown.\n"
               "  -h, --help         List the options and exit.\n")
        .arg(strProgram, strDefault, QString::number(int(SIM_MAX_RATE)));
}

ConsoleOptions ParseConsoleArguments(const QStringList& args)
{
    ConsoleOptions opts;
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("List the options and exit."));
    const QCommandLineOption com(QStringLiteral("com"), QString(), QStringLiteral("N=PATH"));
    const QCommandLineOption demo(QStringLiteral("demo"));
    const QCommandLineOption demoRate(QStringLiteral("demo-rate"), QString(), QStringLiteral("N"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption after(QStringLiteral("after"), QString(), QStringLiteral("MS"));
    const QCommandLineOption scroll(QStringLiteral("scroll"));
    const QCommandLineOption autoObserve(QStringLiteral("auto-observe"));
    const QCommandLineOption diagReport(QStringLiteral("diag-report"), QString(), QStringLiteral("FILE"));
    parser.addOptions({help, com, demo, demoRate, screenshot, after, scroll, autoObserve, diagReport});
    opts.strHelpText = ConsoleHelpText(args.isEmpty() ? QStringLiteral("Veltrin") : ApplicationNameFromPath(args.first()));
    if (!parser.parse(args)) {
        opts.strError = parser.errorText();
        return opts;
    }
    if (!parser.positionalArguments().isEmpty()) {
        opts.strError = QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
        return opts;
    }
    opts.bHelp = parser.isSet(help);
    opts.portMaps = parser.values(com);
    opts.bDemo = parser.isSet(demo);
    opts.bScroll = parser.isSet(scroll);
    opts.bAutoObserve = parser.isSet(autoObserve);
    opts.strDiagReport = parser.value(diagReport);
    if (parser.isSet(diagReport) && opts.strDiagReport.isEmpty()) {
        opts.strError = QStringLiteral("--diag-report needs a file name");
        return opts;
    }
    if (parser.isSet(demoRate)) {
        bool bOk = false;
        const QString strRate = parser.value(demoRate);
        opts.dDemoRate = strRate.toDouble(&bOk);
        if (!bOk || !(opts.dDemoRate >= 1 && opts.dDemoRate <= SIM_MAX_RATE)) {
            opts.strError = QStringLiteral("Bad --demo-rate \"%1\": expected 1 to %2 frames a second")
                                .arg(strRate).arg(int(SIM_MAX_RATE));
            return opts;
        }
        if (!opts.bDemo) {
            opts.strError = QStringLiteral("--demo-rate needs --demo");
            return opts;
        }
    }
    if (parser.isSet(screenshot)) {
        opts.strScreenshot = parser.value(screenshot);
        if (opts.strScreenshot.isEmpty()) {
            opts.strError = QStringLiteral("--screenshot needs a file name");
            return opts;
        }
    }
    if (opts.bAutoObserve && !opts.strScreenshot.isEmpty()) {
        opts.strError = QStringLiteral("--auto-observe cannot be combined with --screenshot");
        return opts;
    }
    if (parser.isSet(after)) {
        bool bOk = false;
        const QString strAfter = parser.value(after);
        opts.nScreenshotAfterMs = strAfter.toInt(&bOk, 10);
        if (!bOk || opts.nScreenshotAfterMs < 0 || opts.nScreenshotAfterMs > MAX_SCREENSHOT_AFTER_MS) {
            opts.strError = QStringLiteral("Bad --after \"%1\": expected 0 to %2 milliseconds")
                                .arg(strAfter).arg(MAX_SCREENSHOT_AFTER_MS);
            return opts;
        }
        if (opts.strScreenshot.isEmpty()) {
            opts.strError = QStringLiteral("--after needs --screenshot");
            return opts;
        }
    }
    return opts;
}

bool ApplyConsoleOptions(const ConsoleOptions& opts, QString* pError)
{
    for (const QString& strMap : opts.portMaps) {
        if (!CMSComm::MapPortFromArg(strMap)) {
            if (pError)
                *pError = QStringLiteral("Malformed --com value \"%1\": expected N=PATH, e.g. 1=/dev/ttyUSB0").arg(strMap);
            return false;
        }
    }
    return true;
}

QString ApplicationNameFromPath(const QString& strPath)
{
    // Both separators: a Windows path seen from anywhere still names its file.
    QString strName = strPath.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    const int nDot = strName.lastIndexOf(QLatin1Char('.'));
    if (nDot > 0)
        strName.truncate(nDot);
    return strName;
}

CConsoleApp::CConsoleApp(int& argc, char** argv) : m_app(argc, argv)
{
    // Qt keeps an extension on some platforms and cuts at the first dot on others.
    const QString strName = ApplicationNameFromPath(QCoreApplication::applicationFilePath());
    if (!strName.isEmpty())
        QCoreApplication::setApplicationName(strName);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ProgramVersionString()));
    QApplication::setWindowIcon(LoadIconResource(IDR_MAINFRAME));
}

int CConsoleApp::Main(int argc, char** argv)
{
    // The command line is handled before any window system is needed, so --help works anywhere.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const ConsoleOptions opts = ParseConsoleArguments(args);
    if (!opts.strError.isEmpty()) {
        std::fprintf(stderr, "%s\n\n%s", qPrintable(opts.strError), qPrintable(opts.strHelpText));
        return 2;
    }
    if (opts.bHelp) {
        std::fputs(qPrintable(opts.strHelpText), stdout);
        return 0;
    }
    QString strError;
    if (!ApplyConsoleOptions(opts, &strError)) {
        std::fprintf(stderr, "%s\n", qPrintable(strError));
        return 2;
    }
    // A picture needs no screen: unattended runs work on machines without a display.
    if (!opts.strScreenshot.isEmpty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // The simulated sensor outlives the console: the console's port must be closed before the
    // terminal goes, or it would see a hang-up and report a lost device.
#ifdef VELTRIN_HAVE_PTY_SIM
    std::unique_ptr<SensorSim> pSim;
    if (opts.bDemo) {
        SensorSimOptions simOpts;
        if (opts.dDemoRate > 0)
            simOpts.rate = opts.dDemoRate;
        pSim = std::make_unique<SensorSim>(simOpts);
        std::string strSimError;
        if (!pSim->Start(&strSimError)) {
            std::fprintf(stderr, "Cannot start the simulated sensor: %s\n", strSimError.c_str());
            return 1;
        }
        CMSComm::MapPort(1, QString::fromStdString(pSim->SlavePath()));
    }
#else
    if (opts.bDemo) {
        std::fprintf(stderr, "--demo needs pseudo-terminals, which this platform does not offer\n");
        return 1;
    }
#endif
    int nResult = 0;
    {
        CConsoleApp app(argc, argv);
        nResult = app.InitInstance(opts);
    }
#ifdef VELTRIN_HAVE_PTY_SIM
    if (pSim)
        pSim->Stop();
#endif
    return nResult;
}

int CConsoleApp::InitInstance(const ConsoleOptions& opts)
{
    CSensorDlg dlg;
    if (opts.bScroll)
        dlg.m_waveChart.OnScrolling();
    std::unique_ptr<CDiagRun> pDiag;
    if (opts.bAutoObserve || !opts.strDiagReport.isEmpty())
        pDiag = std::make_unique<CDiagRun>(dlg, opts.bAutoObserve, opts.strDiagReport);
    if (opts.strScreenshot.isEmpty()) {
        RunModal(dlg);  // its end code is not used
        return 0;
    }

    // Unattended: the console runs modally, but no other box may wait for an answer; its text
    // goes to the error output instead.
    ScopedModalHook hook([&dlg](QDialog& box) {
        if (&box == &dlg)
            return box.exec();
        const auto* pBox = qobject_cast<QMessageBox*>(&box);
        std::fprintf(stderr, "%s\n", qPrintable(pBox ? pBox->text() : box.windowTitle()));
        return 0;
    });
    if (opts.bDemo) {
        // As an operator would: open the port, then start observing.
        QTimer::singleShot(0, &dlg, [&dlg] {
            ClickButton(dlg, IDC_BTN_OPEN);
            if (dlg.m_comm.GetPortOpen())
                ClickButton(dlg, IDC_BTN_START);
        });
    }
    int nResult = 0;
    bool bTaken = false;
    const QString strFile = opts.strScreenshot;
    QTimer::singleShot(opts.nScreenshotAfterMs, &dlg, [&dlg, &nResult, &bTaken, strFile] {
        bTaken = true;
        const QImage img = dlg.grab().toImage();
        if (!img.save(strFile, "PNG")) {
            std::fprintf(stderr, "Cannot write the screenshot %s\n", qPrintable(strFile));
            nResult = 2;
        }
        dlg.done(QDialog::Accepted);
    });
    RunModal(dlg);
    if (!bTaken) {
        std::fprintf(stderr, "The console was closed before the screenshot was taken\n");
        return 1;
    }
    return nResult;
}
