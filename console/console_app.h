#pragma once
// The application: owns the QApplication, gives the program its name, icon and version, and
// runs the console modally; the program ends when the console does.
#include <QApplication>
#include <QString>
#include <QStringList>

class CPortMap;
class SensorSim;

// What the command line asked for.
struct ConsoleOptions {
    QStringList portMaps;  // "N=PATH" of every --com, in order
    bool bHelp = false;
    bool bVersion = false;         // print the version and exit
    bool bDemo = false;            // COM1 is a simulated sensor run by the console itself
    double dDemoRate = 0;          // its data frames a second; 0: the simulator's default
    double dDemoSweepS = 0;        // its hold-down pressures sweep light to heavy over this; 0: no sweep
    QString strScreenshot;         // non-empty: save the window to this PNG and exit
    int nScreenshotAfterMs = 3000; // how long the console runs before the picture is taken
    bool bScroll = false;          // the traces start in scrolling mode instead of page flip
    QString strRecord;             // non-empty: record the session into this capture from the port's opening
    QString strReplay;             // non-empty: COM1 is a sensor replaying this capture
    QString strReview;             // non-empty: only the review window, on this capture
    bool bOpenReview = false;      // open the review window at start, following the live traces
    double dReplaySpeed = 1;       // pace of the replay against the recording
    bool bCaption = false;         // the screenshot carries the window's title above it
    bool bListPorts = false;       // print the serial ports and the port map, then exit
    bool bTrace = false;           // turn the veltrin.* logging categories on
    bool bAutoObserve = false;     // unattended: open, observe, reopen after a loss (diag_run.h)
    QString strDiagReport;         // non-empty: keep a report of the console's counters here
    QString strReport;             // non-empty: make the session report of strReportCapture into
    QString strReportCapture;      // this PDF and exit, without a window
    QStringList reportFields;      // "KEY=TEXT" of every --field, in order
    QStringList qtArgs;            // the options left for Qt's application object
    QString strError;      // non-empty: the command line was refused, with this reason
    QString strHelpText;   // the usage text

    // COM1 is a sensor the console runs itself: simulated (--demo) or replaying a capture.
    bool UsesSimulatedSensor() const { return bDemo || !strReplay.isEmpty(); }
};

// The keys --field takes: name, age, sex, notes.
QStringList ReportFieldKeys();
// The usage text, naming the program strProgram.
QString ConsoleHelpText(const QString& strProgram);
// Parses the console's command line (args[0] is the program). Pure: nothing is applied. Qt's
// own options are left for Qt.
ConsoleOptions ParseConsoleArguments(const QStringList& args);
// Applies the parsed options (the port mappings) to pMap, or straight to the serial layer
// without one; false with *pError set when one is refused.
bool ApplyConsoleOptions(const ConsoleOptions& opts, QString* pError, CPortMap* pMap = nullptr);
// args without the options Qt's application object takes for itself (-platform offscreen,
// -style fusion, -reverse ...), which go to *pQtArgs.
QStringList WithoutQtOptions(const QStringList& args, QStringList* pQtArgs = nullptr);
// What --list-ports prints: the serial ports the system reports and what each entry opens.
QString PortListText(const CPortMap& map);

// The program file's name without its extension: "/opt/x/Veltrin" and "C:\\x\\Veltrin.EXE" give
// "Veltrin", "my.tool.exe" gives "my.tool".
QString ApplicationNameFromPath(const QString& strPath);

class CConsoleApp {
public:
    CConsoleApp(int& argc, char** argv);
    CConsoleApp(const CConsoleApp&) = delete;
    CConsoleApp& operator=(const CConsoleApp&) = delete;

    // The program: handles the command line, then runs the console; returns the exit code.
    static int Main(int argc, char** argv);
    // Runs the console modally; returns 0 when it has ended. With a screenshot asked for, the
    // console ends by itself after the picture: 0, or 2 when the file could not be written.
    // pReplay: the sensor replaying opts.strReplay, whose progress the console shows.
    int InitInstance(const ConsoleOptions& opts = ConsoleOptions(), const SensorSim* pReplay = nullptr);

    // The review window alone on opts.strReview; returns 0 when the last review window has
    // closed (or the screenshot was taken), 2 when the capture cannot be read.
    int RunReview(const ConsoleOptions& opts);

    QApplication& App() { return m_app; }

private:
    // --report: the session report of a capture, written without a window; the exit code.
    static int MakeReport(int argc, char** argv, const ConsoleOptions& opts);

    QApplication m_app;
};
