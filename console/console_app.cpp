#include "console_app.h"
#include "console_app_win.h"

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

#include "dialog_layout.h"
#include "dialog_templates.h"
#include "modal.h"
#include "mscomm.h"
#include "resource_ids.h"
#include "sensor_dlg.h"
#include "sensor_sim.h"

namespace {

constexpr int MAX_SCREENSHOT_AFTER_MS = 3600 * 1000;

// A serial device as a user of the platform would name it.
#if defined(_WIN32)
const char PORT_EXAMPLE[] = "COM12";
#elif defined(__APPLE__)
const char PORT_EXAMPLE[] = "/dev/cu.usbserial";  // macOS: USB adapters appear as /dev/cu.*
#else
const char PORT_EXAMPLE[] = "/dev/ttyUSB0";
#endif

// Runs the button's own click path, handlers and all.
void ClickButton(CSensorDlg& dlg, int nID)
{
    if (auto* pButton = qobject_cast<QPushButton*>(dlg.GetDlgItem(nID)))
        pButton->click();
}

} // namespace

QString ConsoleHelpText(const QString& strProgram)
{
#if defined(_WIN32)
    const QString strDefault = QStringLiteral("COMN");
#elif defined(__APPLE__)
    // macOS: no /dev/ttyS*, so an unmapped port never opens there.
    const QString strDefault = QStringLiteral("/dev/ttyS(N-1), which macOS lacks: map its /dev/cu.* devices");
#else
    const QString strDefault = QStringLiteral("/dev/ttyS(N-1)");
#endif
    return QStringLiteral(
               "Usage: %1 [--com N=PATH]... [--demo [--demo-rate N]] [--screenshot FILE [--after MS]]\n"
               "       [--scroll]\n"
               "Console for a three-channel pulse-pressure sensor on a serial port.\n\n"
               "Options:\n"
               "  --com N=PATH       Use serial device PATH as port COMN (entry N of the port list),\n"
               "                     e.g. --com 1=%4. May be repeated. Unmapped, COMN is\n"
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
               "  -h, --help         List the options and exit.\n")
        .arg(strProgram, strDefault, QString::number(int(SIM_MAX_RATE)), QLatin1String(PORT_EXAMPLE));
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
    parser.addOptions({help, com, demo, demoRate, screenshot, after, scroll});
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
                *pError = QStringLiteral("Malformed --com value \"%1\": expected N=PATH, e.g. 1=%2")
                              .arg(strMap, QLatin1String(PORT_EXAMPLE));
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
    const ConsoleOptions opts = ParseConsoleArguments(ProgramArguments(argc, argv));
    if (!opts.strError.isEmpty() || opts.bHelp)
        AttachParentConsole();
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
        AttachParentConsole();
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
            AttachParentConsole();
            std::fprintf(stderr, "Cannot start the simulated sensor: %s\n", strSimError.c_str());
            return 1;
        }
        CMSComm::MapPort(1, QString::fromStdString(pSim->SlavePath()));
    }
#else
    if (opts.bDemo) {
        AttachParentConsole();
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
    if (opts.strScreenshot.isEmpty()) {
        RunModal(dlg);  // its end code is not used
        return 0;
    }

    // Unattended: the console runs modally, but no other box may wait for an answer; its text
    // goes to the error output instead.
    AttachParentConsole();
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
