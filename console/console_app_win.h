#pragma once
// The command line of a Windows GUI program, and the plain POSIX way elsewhere.
#include <QStringList>

// The program's arguments. Windows: from the wide-character command line, as
// QCoreApplication::arguments() reads it, so names outside the local code page survive.
// Elsewhere: argv in the local 8-bit encoding.
QStringList ProgramArguments(int argc, char** argv);

// Windows: a GUI-subsystem program started from a console window has no standard output or
// error, so help and errors would be lost; this attaches the missing ones to that console.
// Redirected streams are kept; without a parent console nothing changes. Elsewhere nothing.
void AttachParentConsole();
