// Veltrin: the pulse-pressure sensor console.
#include "console_app.h"

int main(int argc, char** argv)
{
    return CConsoleApp::Main(argc, argv);
}
