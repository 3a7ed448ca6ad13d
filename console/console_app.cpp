#include "console_app.h"
#include "console_app_win.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "diag_run.h"
#include "dialog_layout.h"
#include "dialog_templates.h"
#include "logging.h"
#include "modal.h"
#include "mscomm.h"
#include "output_files.h"
#include "port_map.h"
#include "resource_ids.h"
#include "sensor_dlg.h"
#include "replay_source.h"
#include "replay_status.h"
#include "review_feature.h"
#include "review_window.h"
#include "units_settings.h"
#include "report_pdf.h"
#include "sensor_sim.h"
#include "translator.h"

namespace {

constexpr int MAX_SCREENSHOT_AFTER_MS = 3600 * 1000;
constexpr double DEMO_SWEEP_MIN_S = 5;     // the simulated sensor's sweep, as sensor-sim takes it
constexpr double DEMO_SWEEP_MAX_S = 600;

// A serial device as a user of the platform would name it.
#if defined(_WIN32)
const char PORT_EXAMPLE[] = "COM12";
#elif defined(__APPLE__)
const char PORT_EXAMPLE[] = "/dev/cu.usbserial";  // macOS: USB adapters appear as /dev/cu.*
#else
const char PORT_EXAMPLE[] = "/dev/ttyUSB0";
#endif

// Qt would look for an X11 or Wayland display, find none and stop with its plugin error; the
// console says what is missing instead.
bool DisplayMissing(const QStringList& qtArgs)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (const QString& strArg : qtArgs)
        if (strArg == QLatin1String("-platform") || strArg == QLatin1String("--platform"))
            return false;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return false;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    Q_UNUSED(qtArgs);
    return false;
#endif
}

QString MalformedComText(const QString& strArg)
{
    return QStringLiteral("Malformed --com value \"%1\": expected N=PATH, e.g. 1=%2")
        .arg(strArg, QLatin1String(PORT_EXAMPLE));
}

// The window with a plain title strip above it: offscreen windows have no frame, and the title
// is where a recording shows its progress.
QImage GrabWithCaption(QWidget& wnd)
{
    const QImage body = wnd.grab().toImage();
    const QFontMetrics fm(wnd.font());
    const int nStrip = fm.height() + 10;
    QImage img(body.width(), body.height() + nStrip, QImage::Format_ARGB32);
    img.fill(QColor(0xDD, 0xDD, 0xDD));
    QPainter p(&img);
    p.setFont(wnd.font());
    p.setPen(Qt::black);
    p.drawText(QRect(8, 0, body.width() - 16, nStrip), Qt::AlignVCenter | Qt::AlignLeft, wnd.windowTitle());
    p.drawImage(0, nStrip, body);
    return img;
}

// --report OUT FILE [--field KEY=TEXT]...: a command of its own, without a window. True when the
// command line asked for it (opts filled in, or strError set).
bool ParseReportArguments(const QCommandLineParser& parser, const QCommandLineOption& report,
                          const QCommandLineOption& field, ConsoleOptions& opts)
{
    if (!parser.isSet(report)) {
        if (parser.isSet(field))
            opts.strError = QStringLiteral("--field needs --report");
        return parser.isSet(field);
    }
    opts.strReport = parser.value(report);
    const QStringList files = parser.positionalArguments();
    if (opts.strReport.isEmpty())
        opts.strError = QStringLiteral("--report needs the name of the PDF to write");
    else if (files.size() != 1 || files.first().isEmpty())
        opts.strError = QStringLiteral("--report OUT.pdf needs one capture file to report on");
    if (!opts.strError.isEmpty())
        return true;
    opts.strReportCapture = files.first();
    opts.reportFields = parser.values(field);
    for (const QString& strField : opts.reportFields) {
        if (!ReportFieldKeys().contains(strField.section(QLatin1Char('='), 0, 0)) || !strField.contains(QLatin1Char('='))) {
            opts.strError = QStringLiteral("Bad --field \"%1\": expected KEY=TEXT, KEY one of %2")
                                .arg(strField, ReportFieldKeys().join(QStringLiteral(", ")));
            return true;
        }
    }
    const QStringList windowOptions = {QStringLiteral("com"), QStringLiteral("demo"), QStringLiteral("screenshot"),
                                       QStringLiteral("record"), QStringLiteral("replay"), QStringLiteral("auto-observe"),
                                       QStringLiteral("diag-report"), QStringLiteral("list-ports"),
                                       QStringLiteral("review"), QStringLiteral("open-review")};
    for (const QString& strName : windowOptions)
        if (parser.isSet(strName))
            opts.strError = QStringLiteral("--report makes a report and exits; it cannot be combined with --%1").arg(strName);
    return true;
}

} // namespace

QStringList ReportFieldKeys()
{
    return {QStringLiteral("name"), QStringLiteral("age"), QStringLiteral("sex"), QStringLiteral("notes")};
}

QString ConsoleHelpText(const QString& strProgram)
{
#if defined(_WIN32)
    const QString strDefault = QStringLiteral("COMN");
#elif defined(__APPLE__)
    // macOS: no /dev/ttyS*, so an unmapped port never opens there.
    const QString strDefault = QStringLiteral("/dev/ttyS(N-1),\n"
                                              "                     which macOS lacks: map its /dev/cu.* devices");
#else
    const QString strDefault = QStringLiteral("/dev/ttyS(N-1)");
#endif
    return QStringLiteral(
               "Usage: %1 [--com N=PATH]... [--demo [--demo-rate N] [--demo-sweep S]]\n"
               "       [--screenshot FILE [--after MS]]\n"
               "       [--scroll] [--trace] [--list-ports] [--record FILE] [--replay FILE [--speed X]]\n"
               "       [--caption] [--auto-observe] [--diag-report FILE] [Qt options]\n"
               "       [--open-review]\n"
               "       %1 --review FILE [--screenshot FILE [--after MS]]\n"
               "       %1 --report OUT.pdf FILE.vcap [--field KEY=TEXT]...\n"
               "Console for a three-channel pulse-pressure sensor on a serial port.\n\n"
               "Options:\n"
               "  --com N=PATH       Use serial device PATH as port COMN (entry N of the port list,\n"
               "                     1 to 16) for this run, e.g. --com 1=%4. May be\n"
               "                     repeated, once for each N. It wins over the port map kept by\n"
               "                     the dialog's \"port settings\"; unmapped, COMN is %2\n"
               "                     (COM1 is the USB serial adapter when exactly one is present\n"
               "                     and no map is kept).\n"
               "  --list-ports       List the serial ports the system reports and what each of\n"
               "                     COM1 to COM16 opens, then exit.\n"
               "  --trace            Log the commands sent and the serial port's events on standard\n"
               "                     error (the veltrin.link and veltrin.serial logging categories;\n"
               "                     QT_LOGGING_RULES works too).\n"
               "  --demo             Run against a built-in simulated sensor: COM1 is a\n"
               "                     pseudo-terminal with the sensor on its far side (this\n"
               "                     overrides a --com 1=PATH).\n"
               "  --demo-rate N      Data frames a second of the simulated sensor, 1 to %3\n"
               "                     (default 500).\n"
               "  --demo-sweep S     The simulated sensor's hold-down pressures rise from light to\n"
               "                     heavy over S seconds (5 to 600) and back, again and again,\n"
               "                     for the pressure-amplitude curve of the pulse diagram window.\n"
               "  --screenshot FILE  Save the console window as a PNG to FILE after a while and\n"
               "                     exit (2 when FILE cannot be written). With --demo the port is\n"
               "                     opened and observing started first. Runs offscreen unless\n"
               "                     QT_QPA_PLATFORM says otherwise.\n"
               "  --after MS         Milliseconds before the screenshot is taken (default 3000).\n"
               "  --scroll           Start the traces in scrolling mode instead of page flip.\n"
               "  --record FILE      Record the session into the capture FILE from the moment the\n"
               "                     port opens until it closes or the console ends.\n"
               "  --replay FILE      Run against a sensor that replays the capture FILE: COM1 is a\n"
               "                     pseudo-terminal as with --demo; start plays the capture's\n"
               "                     received bytes from its first data frame at their recorded\n"
               "                     pace, stop pauses them.\n"
               "  --speed X          Pace of --replay against the recording, 0.1 to 20 (default 1).\n"
               "  --review FILE      Open the capture FILE in the review window, without the console\n"
               "                     and its serial port: the traces of all eight channels with\n"
               "                     their markers, to scroll, zoom and measure with two cursors.\n"
               "                     With --screenshot the picture is of that window.\n"
               "  --open-review      Open the review window at start, following the live traces\n"
               "                     (for measuring its cost with soak-console).\n"
               "  --caption          With --screenshot: draw the window's title above the picture\n"
               "                     (offscreen windows have no frame to show it).\n"
               "  --auto-observe     Run unattended: open COM1 and start observing at once, do it\n"
               "                     again whenever the device was lost and its path is back,\n"
               "                     answer every message box at once (its text goes to standard\n"
               "                     error), and on SIGTERM or SIGINT stop observing, wait for the\n"
               "                     line to fall silent and exit. For soak tests and measurements.\n"
               "  --diag-report FILE Rewrite FILE once a second and at exit with the console's own\n"
               "                     counters as key=value lines: data frames decoded, bad checks,\n"
               "                     port openings, waveform paints, the longest wait of a sample\n"
               "                     for its paint, message boxes shown.\n"
               "  --report OUT.pdf   Make the session report of the capture FILE.vcap (the one\n"
               "                     argument) as the two-page PDF OUT.pdf and exit; no display is\n"
               "                     needed; static pressures in the units the console keeps. Exit\n"
               "                     status 2, with the file and the reason, when the capture\n"
               "                     cannot be read or OUT.pdf cannot be written.\n"
               "  --field KEY=TEXT   With --report: fill in a field of the report, KEY one of name,\n"
               "                     age, sex and notes (left as lines to write on otherwise). May be\n"
               "                     repeated.\n"
               "  -v, --version      Print the version and exit.\n"
               "  -h, --help         List the options and exit.\n"
               "Qt's own options work as in any Qt program, e.g. -platform offscreen, -style fusion,\n"
               "-reverse.\n")
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
    const QCommandLineOption demoSweep(QStringLiteral("demo-sweep"), QString(), QStringLiteral("S"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption after(QStringLiteral("after"), QString(), QStringLiteral("MS"));
    const QCommandLineOption scroll(QStringLiteral("scroll"));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"));
    const QCommandLineOption trace(QStringLiteral("trace"));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption autoObserve(QStringLiteral("auto-observe"));
    const QCommandLineOption diagReport(QStringLiteral("diag-report"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption record(QStringLiteral("record"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption replay(QStringLiteral("replay"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption speed(QStringLiteral("speed"), QString(), QStringLiteral("X"));
    const QCommandLineOption caption(QStringLiteral("caption"));
    const QCommandLineOption reviewFile(QStringLiteral("review"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption openReview(QStringLiteral("open-review"));
    parser.addOptions({help, com, demo, demoRate, screenshot, after, scroll});
    parser.addOptions({listPorts, trace, version, autoObserve, diagReport});
    parser.addOptions({record, replay, speed, caption, reviewFile, openReview});
    const QCommandLineOption report(QStringLiteral("report"), QString(), QStringLiteral("OUT"));
    const QCommandLineOption field(QStringLiteral("field"), QString(), QStringLiteral("KEY=TEXT"));
    parser.addOptions({report, field});
    parser.addOption(demoSweep);
    opts.strHelpText = ConsoleHelpText(args.isEmpty() ? QStringLiteral("Veltrin") : ApplicationNameFromPath(args.first()));
    if (!parser.parse(WithoutQtOptions(args, &opts.qtArgs))) {
        opts.strError = parser.errorText();
        return opts;
    }
    if (ParseReportArguments(parser, report, field, opts))
        return opts;
    if (!parser.positionalArguments().isEmpty()) {
        opts.strError = QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
        return opts;
    }
    opts.bHelp = parser.isSet(help);
    opts.portMaps = parser.values(com);
    opts.bDemo = parser.isSet(demo);
    opts.bScroll = parser.isSet(scroll);
    opts.bAutoObserve = parser.isSet(autoObserve);
    // An option that names a file: refused when given empty.
    auto fileOption = [&parser, &opts](const QCommandLineOption& option, QString& strOut, const char* pszMissing) {
        if (!parser.isSet(option))
            return true;
        strOut = parser.value(option);
        if (strOut.isEmpty())
            opts.strError = QString::fromLatin1(pszMissing);
        return !strOut.isEmpty();
    };
    if (!fileOption(diagReport, opts.strDiagReport, "--diag-report needs a file name"))
        return opts;
    opts.bListPorts = parser.isSet(listPorts);
    opts.bVersion = parser.isSet(version);
    opts.bTrace = parser.isSet(trace);
    QSet<int> portsGiven;
    for (const QString& strMap : opts.portMaps) {
        int nPort = 0;
        QString strPath;
        if (!CMSComm::ParsePortArg(strMap, &nPort, &strPath)) {
            opts.strError = MalformedComText(strMap);
            return opts;
        }
        if (nPort < 1 || nPort > PORT_MAP_SIZE) {
            opts.strError = QStringLiteral("Bad --com \"%1\": the port list has COM1 to COM%2").arg(strMap).arg(PORT_MAP_SIZE);
            return opts;
        }
        if (portsGiven.contains(nPort)) {
            opts.strError = QStringLiteral("--com %1 is given twice").arg(nPort);
            return opts;
        }
        portsGiven.insert(nPort);
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
    if (parser.isSet(demoSweep)) {
        bool bOk = false;
        const QString strSweep = parser.value(demoSweep);
        opts.dDemoSweepS = strSweep.toDouble(&bOk);
        if (!bOk || !(opts.dDemoSweepS >= DEMO_SWEEP_MIN_S && opts.dDemoSweepS <= DEMO_SWEEP_MAX_S)) {
            opts.strError = QStringLiteral("Bad --demo-sweep \"%1\": expected %2 to %3 seconds")
                                .arg(strSweep).arg(DEMO_SWEEP_MIN_S).arg(DEMO_SWEEP_MAX_S);
            return opts;
        }
        if (!opts.bDemo) {
            opts.strError = QStringLiteral("--demo-sweep needs --demo");
            return opts;
        }
    }
    if (!fileOption(screenshot, opts.strScreenshot, "--screenshot needs a file name"))
        return opts;
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
    if (!fileOption(record, opts.strRecord, "--record needs a file name")
        || !fileOption(replay, opts.strReplay, "--replay needs a capture file"))
        return opts;
    if (opts.bDemo && !opts.strReplay.isEmpty()) {
        opts.strError = QStringLiteral("--replay and --demo each put a sensor on COM1: give one of them");
        return opts;
    }
    if (parser.isSet(speed)) {
        bool bOk = false;
        const QString strSpeed = parser.value(speed);
        opts.dReplaySpeed = strSpeed.toDouble(&bOk);
        if (!bOk || !(opts.dReplaySpeed >= capture::REPLAY_MIN_SPEED && opts.dReplaySpeed <= capture::REPLAY_MAX_SPEED)) {
            opts.strError = QStringLiteral("Bad --speed \"%1\": expected 0.1 to 20").arg(strSpeed);
            return opts;
        }
        if (opts.strReplay.isEmpty()) {
            opts.strError = QStringLiteral("--speed needs --replay");
            return opts;
        }
    }
    opts.bCaption = parser.isSet(caption);
    if (opts.bCaption && opts.strScreenshot.isEmpty()) {
        opts.strError = QStringLiteral("--caption needs --screenshot");
        return opts;
    }
    if (!fileOption(reviewFile, opts.strReview, "--review needs a capture file"))
        return opts;
    opts.bOpenReview = parser.isSet(openReview);
    if (!opts.strReview.isEmpty()
        && (opts.UsesSimulatedSensor() || !opts.strRecord.isEmpty() || opts.bAutoObserve || !opts.portMaps.isEmpty()
            || opts.bOpenReview)) {
        opts.strError = QStringLiteral("--review opens a capture without the serial port: it goes with none of "
                                       "--com, --demo, --replay, --record, --auto-observe and --open-review");
        return opts;
    }
    return opts;
}

bool ApplyConsoleOptions(const ConsoleOptions& opts, QString* pError, CPortMap* pMap)
{
    for (const QString& strMap : opts.portMaps) {
        int nPort = 0;
        QString strPath;
        const bool bOk = pMap ? CMSComm::ParsePortArg(strMap, &nPort, &strPath) && nPort >= 1 && nPort <= PORT_MAP_SIZE
                              : CMSComm::MapPortFromArg(strMap);
        if (!bOk) {
            if (pError)
                *pError = MalformedComText(strMap);
            return false;
        }
        if (pMap)
            pMap->SetCommandLine(nPort, strPath);
    }
    return true;
}

QStringList WithoutQtOptions(const QStringList& args, QStringList* pQtArgs)
{
    // The options QGuiApplication, QApplication and the X11 platform take, with or without a
    // value; Qt accepts them with one dash or two.
    static const QStringList withValue = {
        QStringLiteral("platform"), QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
        QStringLiteral("plugin"), QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowtitle"),
        QStringLiteral("qwindowicon"), QStringLiteral("session"), QStringLiteral("style"),
        QStringLiteral("stylesheet"), QStringLiteral("display"), QStringLiteral("geometry"),
        QStringLiteral("title"), QStringLiteral("icon"), QStringLiteral("name")};
    static const QStringList flags = {
        QStringLiteral("reverse"), QStringLiteral("widgetcount"), QStringLiteral("testability"),
        QStringLiteral("nograb"), QStringLiteral("dograb"), QStringLiteral("sync")};
    // These also come as -option=value.
    static const QStringList joined = {QStringLiteral("style"), QStringLiteral("stylesheet"),
                                       QStringLiteral("qmljsdebugger")};
    QStringList ours;
    for (int i = 0; i < args.size(); ++i) {
        const QString& strArg = args[i];
        QString strName;
        if (i > 0 && strArg.startsWith(QLatin1Char('-')) && strArg != QLatin1String("--"))
            strName = strArg.mid(strArg.startsWith(QLatin1String("--")) ? 2 : 1);
        const int nEq = strName.indexOf(QLatin1Char('='));
        const bool bJoined = nEq > 0 && joined.contains(strName.left(nEq));
        const bool bWithValue = !bJoined && withValue.contains(strName);
        if (!bJoined && !bWithValue && !flags.contains(strName)) {
            ours << strArg;
            if (strArg == QLatin1String("--")) {  // everything after it is an argument
                ours << args.mid(i + 1);
                break;
            }
            continue;
        }
        if (pQtArgs)
            *pQtArgs << strArg;
        if (bWithValue && i + 1 < args.size()) {
            ++i;
            if (pQtArgs)
                *pQtArgs << args[i];
        }
    }
    return ours;
}

QString PortListText(const CPortMap& map)
{
    QString strText = QStringLiteral("Serial ports reported by the system:\n");
    const QList<DetectedPort>& ports = map.Detected();
    if (ports.isEmpty()) {
        strText += QStringLiteral("  (none)\n");
    } else {
        const QStringList head = {QStringLiteral("PATH"), QStringLiteral("DESCRIPTION"),
                                  QStringLiteral("MANUFACTURER"), QStringLiteral("SERIAL NUMBER"),
                                  QStringLiteral("USB VID:PID")};
        QList<QStringList> rows{head};
        auto orDash = [](const QString& s) { return s.isEmpty() ? QStringLiteral("-") : s; };
        for (const DetectedPort& p : ports) {
            rows.append({p.strPath, orDash(p.strDescription), orDash(p.strManufacturer),
                         orDash(p.strSerialNumber), orDash(UsbIdText(p))});
        }
        QList<int> widths(head.size(), 0);
        for (const QStringList& row : rows)
            for (int c = 0; c < row.size(); ++c)
                widths[c] = std::max(widths[c], int(row[c].size()));
        for (const QStringList& row : rows) {
            QString strLine = QStringLiteral("  ");
            for (int c = 0; c < row.size(); ++c)
                strLine += c + 1 < row.size() ? row[c].leftJustified(widths[c] + 2) : row[c];
            strText += strLine + QLatin1Char('\n');
        }
    }
    strText += QStringLiteral("\nPort map (--com, then the kept map, then the default):\n");
    for (int n = 1; n <= PORT_MAP_SIZE; ++n) {
        const PortTarget target = map.Resolve(n);
        QString strWhy;
        switch (target.source) {
        case PortSource::CommandLine: strWhy = QStringLiteral("--com"); break;
        case PortSource::Kept: strWhy = QStringLiteral("kept"); break;
        case PortSource::UsbAdapter: strWhy = QStringLiteral("default: the only USB serial adapter, no map kept"); break;
        case PortSource::Default: strWhy = QStringLiteral("default"); break;
        }
        strText += QStringLiteral("  %1 %2  %3\n").arg(QStringLiteral("COM%1").arg(n), -5)
                       .arg(target.strPath, -14).arg(strWhy);
    }
    if (CPortMap::CAN_KEEP)
        strText += QStringLiteral("\nKept map: %1\n").arg(map.SettingsLocation());
    else
        strText += QStringLiteral("\nCOM1 to COM16 are the system's own port names; nothing is kept.\n");
    return strText;
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
    InstallTranslations(m_app);
}

int CConsoleApp::Main(int argc, char** argv)
{
    // The command line is handled before any window system is needed, so --help works anywhere.
    const QStringList args = ProgramArguments(argc, argv);
    const ConsoleOptions opts = ParseConsoleArguments(args);
    if (!opts.strError.isEmpty() || opts.bHelp || opts.bVersion || opts.bListPorts)
        AttachParentConsole();
    if (!opts.strError.isEmpty()) {
        std::fprintf(stderr, "%s\n\n%s", qPrintable(opts.strError), qPrintable(opts.strHelpText));
        return 2;
    }
    if (opts.bHelp) {
        std::fputs(qPrintable(opts.strHelpText), stdout);
        return 0;
    }
    if (opts.bVersion) {
        std::printf("%s %s\n", qPrintable(ApplicationNameFromPath(args.first())), ProgramVersionString());
        return 0;
    }
    if (!opts.strReport.isEmpty()) {
        AttachParentConsole();
        return MakeReport(argc, argv, opts);
    }
    QString strError;
    CPortMap portMap;
    if (!ApplyConsoleOptions(opts, &strError, &portMap)) {
        AttachParentConsole();
        std::fprintf(stderr, "%s\n", qPrintable(strError));
        return 2;
    }
    RouteDebugOutputToLog();
    if (opts.bTrace)
        EnableTrace();
    if (!portMap.Load(&strError))
        std::fprintf(stderr, "Cannot read the kept port map: %s\n", qPrintable(strError));
    portMap.SetDetected(CPortMap::Detect());
    if (opts.bListPorts) {
        std::fputs(qPrintable(PortListText(portMap)), stdout);
        return 0;
    }
    // A picture needs no screen: unattended runs work on machines without a display.
    if (!opts.strScreenshot.isEmpty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (DisplayMissing(opts.qtArgs)) {
        std::fputs("Veltrin needs a display, and there is none: DISPLAY and WAYLAND_DISPLAY are unset.\n"
                   "Start it from a desktop session, or run it without a screen with\n"
                   "QT_QPA_PLATFORM=offscreen (e.g. with --screenshot FILE to save a picture).\n",
                   stderr);
        return 2;
    }

    if (!opts.strReview.isEmpty()) {
        CConsoleApp app(argc, argv);
        return app.RunReview(opts);
    }

    capture::FileId replayId, recordId;
    if (!opts.strReplay.isEmpty() && !opts.strRecord.isEmpty()
        && capture::FileIdOfPath(QFile::encodeName(opts.strReplay).toStdString(), replayId)
        && capture::FileIdOfPath(QFile::encodeName(opts.strRecord).toStdString(), recordId) && replayId == recordId) {
        AttachParentConsole();
        std::fprintf(stderr, "--record %s is the capture to replay; recording would destroy it\n",
                     qPrintable(opts.strRecord));
        return 2;
    }

    // The simulated sensor outlives the console: the console's port must be closed before the
    // terminal goes, or it would see a hang-up and report a lost device.
#ifdef VELTRIN_HAVE_PTY_SIM
    std::unique_ptr<SensorSim> pSim;
    if (opts.UsesSimulatedSensor()) {
        SensorSimOptions simOpts;
        if (opts.dDemoRate > 0)
            simOpts.rate = opts.dDemoRate;
        simOpts.pulse.sweepS = opts.dDemoSweepS;
        simOpts.replayPath = QFile::encodeName(opts.strReplay).toStdString();
        simOpts.replaySpeed = opts.dReplaySpeed;
        pSim = std::make_unique<SensorSim>(simOpts);
        std::string strSimError;
        if (!pSim->Start(&strSimError)) {
            AttachParentConsole();
            std::fprintf(stderr, "Cannot start the simulated sensor: %s\n", strSimError.c_str());
            return pSim->ReplayRefused() ? 2 : 1;  // a bad capture, as every tool refuses it
        }
        if (!pSim->ReplayWarning().empty()) {
            AttachParentConsole();
            std::fprintf(stderr, "%s\n", pSim->ReplayWarning().c_str());
        }
        portMap.SetCommandLine(1, QString::fromStdString(pSim->SlavePath()));
    }
#else
    if (opts.UsesSimulatedSensor()) {
        AttachParentConsole();
        std::fprintf(stderr, "--demo and --replay need pseudo-terminals, which this platform does not offer\n");
        return 1;
    }
#endif
    portMap.Apply();
    SetActivePortMap(&portMap);
    int nResult = 0;
    {
        CConsoleApp app(argc, argv);
#ifdef VELTRIN_HAVE_PTY_SIM
        nResult = app.InitInstance(opts, opts.strReplay.isEmpty() ? nullptr : pSim.get());
#else
        nResult = app.InitInstance(opts);
#endif
    }
    SetActivePortMap(nullptr);
#ifdef VELTRIN_HAVE_PTY_SIM
    if (pSim)
        pSim->Stop();
#endif
    return nResult;
}

int CConsoleApp::RunReview(const ConsoleOptions& opts)
{
    CUnitSettings unitSettings;
    QString strError;
    QPointer<CReviewWindow> pWnd = CReviewWindow::OpenCapture(opts.strReview, unitSettings, nullptr, &strError);
    if (!pWnd) {
        AttachParentConsole();
        std::fprintf(stderr, "%s\n", qPrintable(strError));
        return 2;
    }
    int nResult = 0;
    if (!opts.strScreenshot.isEmpty()) {
        const QString strFile = opts.strScreenshot;
        const bool bCaption = opts.bCaption;
        QTimer::singleShot(opts.nScreenshotAfterMs, pWnd, [pWnd, &nResult, strFile, bCaption] {
            const QImage img = bCaption ? GrabWithCaption(*pWnd) : pWnd->grab().toImage();
            if (!img.save(strFile, "PNG")) {
                std::fprintf(stderr, "Cannot write the screenshot %s\n", qPrintable(strFile));
                nResult = 2;
            }
            QApplication::closeAllWindows();
        });
    }
    QApplication::exec();
    return nResult;
}

int CConsoleApp::MakeReport(int argc, char** argv, const ConsoleOptions& opts)
{
    // A PDF needs fonts but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    CConsoleApp app(argc, argv);
    report::ReportFields fields;
    for (const QString& strField : opts.reportFields) {
        const QString strKey = strField.section(QLatin1Char('='), 0, 0);
        const QString strText = strField.section(QLatin1Char('='), 1);
        QString& strTo = strKey == QLatin1String("name") ? fields.strName
                       : strKey == QLatin1String("age")  ? fields.strAge
                       : strKey == QLatin1String("sex")  ? fields.strSex
                                                         : fields.strNotes;
        strTo = strText;
    }
    QString strError;
    // The units the console keeps; where they cannot be read, counts, as the console shows then.
    units::PressureUnits pressureUnits;
    if (!LoadPressureUnits(pressureUnits, QString(), &strError))
        std::fprintf(stderr, "%s: %s; the report gives the pressures in counts\n",
                     qPrintable(QCoreApplication::applicationName()), qPrintable(strError));
    strError.clear();
    if (!report::WriteSessionReport(opts.strReportCapture, opts.strReport, fields, &strError, {}, pressureUnits)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(strError));
        return 2;
    }
    return 0;
}

int CConsoleApp::InitInstance(const ConsoleOptions& opts, const SensorSim* pReplay)
{
    CSensorDlg dlg;
    if (opts.bScroll)
        dlg.m_waveChart.OnScrolling();
    if (pReplay)
        new CReplayStatus(dlg, opts.strReplay, opts.dReplaySpeed, [pReplay] { return pReplay->Replay(); });
    if (opts.bOpenReview) {
        QTimer::singleShot(0, &dlg, [&dlg] {
            if (auto* pReview = dlg.findChild<CReviewFeature*>())
                pReview->OpenWindow();
        });
    }
    if (!opts.strRecord.isEmpty()) {
        // Inside the console's run, so that a refusal's box has the console as its owner.
        const QString strRecord = opts.strRecord;
        QTimer::singleShot(0, &dlg, [&dlg, strRecord] { dlg.m_record.Start(strRecord); });
    }
    std::unique_ptr<CDiagRun> pDiag;
    if (opts.bAutoObserve || !opts.strDiagReport.isEmpty())
        pDiag = std::make_unique<CDiagRun>(dlg, opts.bAutoObserve, opts.strDiagReport);
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
        PrintBoxText(box);
        return 0;
    });
    if (opts.UsesSimulatedSensor()) {
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
    const bool bCaption = opts.bCaption;
    QTimer::singleShot(opts.nScreenshotAfterMs, &dlg, [&dlg, &nResult, &bTaken, strFile, bCaption] {
        bTaken = true;
        const QImage img = bCaption ? GrabWithCaption(dlg) : dlg.grab().toImage();
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
    if (dlg.m_record.HasFailed())
        return 2;  // its box went to the error output
    return nResult;
}
