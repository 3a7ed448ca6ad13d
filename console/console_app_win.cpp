#include "console_app_win.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

QStringList ProgramArguments(int argc, char** argv)
{
    QStringList args;
    int nArgs = 0;
    if (LPWSTR* ppArgs = ::CommandLineToArgvW(::GetCommandLineW(), &nArgs)) {
        for (int i = 0; i < nArgs; ++i)
            args << QString::fromWCharArray(ppArgs[i]);
        ::LocalFree(ppArgs);
        return args;
    }
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

namespace {
bool HasStdHandle(DWORD nWhich)
{
    const HANDLE h = ::GetStdHandle(nWhich);
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}
} // namespace

void AttachParentConsole()
{
    // Called only where text is about to be written: an attached program also gets the
    // console's Ctrl+C, which an interactive console should not end of.
    static bool s_bDone = false;
    if (s_bDone)
        return;
    s_bDone = true;
    const bool bOut = HasStdHandle(STD_OUTPUT_HANDLE);
    const bool bErr = HasStdHandle(STD_ERROR_HANDLE);
    if ((bOut && bErr) || !::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!bOut)
        std::freopen("CONOUT$", "w", stdout);
    if (!bErr)
        std::freopen("CONOUT$", "w", stderr);
}
#else
QStringList ProgramArguments(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

void AttachParentConsole() {}
#endif
