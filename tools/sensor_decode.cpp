// sensor-decode: runs a capture or a plain byte stream through the console's own receive ring
// and frame decoder and prints one line per frame; exports to CSV and EDF+ (see --help).
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "byte_source.h"
#include "decode_tool.h"
#include "output_files.h"

int main(int argc, char** argv)
{
#ifdef _WIN32
    // Bytes in and lines out exactly as they are: no CR LF translation either way.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::ios::sync_with_stdio(false);
    // Interrupted, the run leaves no OUT.part behind.
    capture::RemovePartsOnSignals();
    const std::vector<std::string> args(argv + 1, argv + argc);
    CFileSource in(stdin);
    return RunSensorDecode(args, in, std::cout, std::cerr);
}
