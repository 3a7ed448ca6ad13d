#include "console_app.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>

#include "dialog_layout.h"
#include "dialog_templates.h"
#include "modal.h"
#include "mscomm.h"
#include "resource_ids.h"
#include "sensor_dlg.h"

QString ConsoleHelpText(const QString& strProgram)
{
#ifdef _WIN32
    const QString strDefault = QStringLiteral("COMN");
#else
    const QString strDefault = QStringLiteral("/dev/ttyS(N-1)");
#endif
    return QStringLiteral(
               "Usage: %1 [--com N=PATH]...\n"
               "Console for a three-channel pulse-pressure sensor on a serial port.\n\n"
               "Options:\n"
               "  --com N=PATH  Use serial device PATH as port COMN (entry N of the port list),\n"
               "                e.g. --com 1=/dev/ttyUSB0. May be repeated. Unmapped, COMN is\n"
               "                %2.\n"
               "  -h, --help    List the options and exit.\n")
        .arg(strProgram, strDefault);
}

ConsoleOptions ParseConsoleArguments(const QStringList& args)
{
    ConsoleOptions opts;
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("List the options and exit."));
    const QCommandLineOption com(QStringLiteral("com"), QString(), QStringLiteral("N=PATH"));
    parser.addOption(help);
    parser.addOption(com);
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
    CConsoleApp app(argc, argv);
    return app.InitInstance();
}

int CConsoleApp::InitInstance()
{
    CSensorDlg dlg;
    RunModal(dlg);  // its end code is not used
    return 0;
}
