#pragma once
// sensor-decode as a function: the command-line tool's whole behaviour, Qt-free, with its
// standard input, output and error handed in, so tests run it in-process on any platform.
#include <ostream>
#include <string>
#include <vector>

#include "byte_source.h"

// Runs sensor-decode with args (the program name left out). stdinSource stands for standard
// input (read when no FILE or "-" is given); frame lines or the dump go to out, messages and
// the summary to err. Returns the exit code: 0 done, 2 refused or failed.
int RunSensorDecode(const std::vector<std::string>& args, IByteSource& stdinSource, std::ostream& out,
                    std::ostream& err);
