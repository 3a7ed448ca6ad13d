#pragma once
// sensor-decode run in-process, with its exit code and what it wrote to each stream.
#include <sstream>
#include <string>
#include <vector>

#include "byte_source.h"
#include "decode_tool.h"
#include "support/data_frame.h"

namespace decode_run {

struct Result {
    int code = -1;
    std::string out, err;
};

inline Result Decode(const std::vector<std::string>& args, const Bytes& stdinBytes = {})
{
    CMemorySource in(stdinBytes);
    std::ostringstream out, err;
    Result r;
    r.code = RunSensorDecode(args, in, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

} // namespace decode_run
