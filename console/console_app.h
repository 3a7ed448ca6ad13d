#pragma once
// The application: owns the QApplication, gives the program its name, icon and version, and
// runs the console modally; the program ends when the console does.
#include <QApplication>
#include <QString>
#include <QStringList>

// What the command line asked for.
struct ConsoleOptions {
    QStringList portMaps;  // "N=PATH" of every --com, in order
    bool bHelp = false;
    QString strError;      // non-empty: the command line was refused, with this reason
    QString strHelpText;   // the usage text
};

// The usage text, naming the program strProgram.
QString ConsoleHelpText(const QString& strProgram);
// Parses the console's command line (args[0] is the program). Pure: nothing is applied.
ConsoleOptions ParseConsoleArguments(const QStringList& args);
// Applies the parsed options (the port mappings); false with *pError set when one is refused.
bool ApplyConsoleOptions(const ConsoleOptions& opts, QString* pError);

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
    // Runs the console modally; returns 0 when it has ended.
    int InitInstance();

    QApplication& App() { return m_app; }

private:
    QApplication m_app;
};
