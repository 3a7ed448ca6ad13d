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

ConsoleOptions ParseConsoleArguments(const QStringList& args)
{
    ConsoleOptions opts;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Console for a three-channel pulse-pressure sensor on a serial port."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit."));
#ifdef _WIN32
    const QString strDefault = QStringLiteral("COMN");
#else
    const QString strDefault = QStringLiteral("/dev/ttyS(N-1)");
#endif
    const QCommandLineOption com(QStringLiteral("com"),
                                 QStringLiteral("Use device PATH as serial port COMN (chosen in the port list as "
                                                "\"COMN\"), e.g. --com 1=/dev/ttyUSB0. May be repeated. "
                                                "Unmapped, COMN is %1.").arg(strDefault),
                                 QStringLiteral("N=PATH"));
    parser.addOption(help);
    parser.addOption(com);
    opts.strHelpText = parser.helpText();
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

int CConsoleApp::Run()
{
    const ConsoleOptions opts = ParseConsoleArguments(QCoreApplication::arguments());
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
    return InitInstance();
}

int CConsoleApp::InitInstance()
{
    CSensorDlg dlg;
    RunModal(dlg);  // its end code is not used
    return 0;
}
