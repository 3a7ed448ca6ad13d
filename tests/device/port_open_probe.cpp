// port-open-probe [--as UID:GID] PATH: opens PATH as COM1 the way the console does, as the given
// user when started by root, and prints the serial layer's refusal (UTF-8) on standard output.
// Exit status 0 when the port opened, 1 when it was refused, 2 for a bad command line.
#include <QCoreApplication>

#include <grp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mscomm.h"

int main(int argc, char** argv)
{
    int i = 1;
    if (argc > 2 && std::strcmp(argv[1], "--as") == 0) {
        unsigned uid = 0, gid = 0;
        if (std::sscanf(argv[2], "%u:%u", &uid, &gid) != 2)
            return 2;
        // Supplementary groups first, while still allowed to change them.
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
            std::perror("port-open-probe: cannot change user");
            return 2;
        }
        i = 3;
    }
    if (i + 1 != argc)
        return 2;
    QCoreApplication app(argc, argv);
    CMSComm::MapPort(1, QString::fromLocal8Bit(argv[i]));
    CMSComm comm;
    try {
        comm.SetCommPort(1);
        comm.SetSettings(QStringLiteral("256000,n,8,1"));
        comm.SetPortOpen(true);
    } catch (const CommError& e) {
        std::fputs(e.Description().toUtf8().constData(), stdout);
        return 1;
    }
    return 0;
}
