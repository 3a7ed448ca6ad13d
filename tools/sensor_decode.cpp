// sensor-decode [--chunk N] [FILE]: runs a captured byte stream through the console's own
// receive ring and frame decoder, N bytes per serial event, and prints one line per frame.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "byte_ring.h"
#include "frame_decoder.h"
#include "protocol.h"

namespace {

constexpr long DEFAULT_CHUNK = 4096;
// Decoding leaves less than one data frame behind, so pieces of this size never overrun the
// ring: a larger chunk is handed over in such pieces and no byte of the stream is dropped.
constexpr long MAX_PIECE = RING_SIZE - proto::DATA_FRAME_LEN;

const char USAGE[] =
    "usage: sensor-decode [--chunk N] [FILE]\n"
    "Decodes a sensor byte stream (FILE, or standard input when FILE is absent or -) with the\n"
    "console's receive ring and frame decoder, delivering it in chunks of N bytes (default 4096).\n"
    "Prints one line per recognised frame:\n"
    "  data,W0,...,W7   a data frame whose check byte matches (words as unsigned decimals)\n"
    "  badcheck         a data frame whose check byte does not match\n"
    "  stop             a stop acknowledgement\n"
    "  info,B0,B1,B2,B3 an information reply\n"
    "  date,TEXT        a date reply\n"
    "and at the end, on standard error: frames N, badcheck M, skipped K bytes.\n";

class LinePrinter : public IFrameSink {
public:
    explicit LinePrinter(FILE* out) : m_out(out) {}
    void OnInfoReply(const uint8_t info[4]) override
    {
        std::fprintf(m_out, "info,%u,%u,%u,%u\n", info[0], info[1], info[2], info[3]);
    }
    void OnDataFrame(const uint8_t block[17], bool checkOk) override
    {
        if (!checkOk) {
            std::fputs("badcheck\n", m_out);
            return;
        }
        char line[64];
        int n = std::snprintf(line, sizeof line, "data");
        for (int k = 0; k < proto::BLOCK_WORDS; ++k)
            n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ",%u",
                               static_cast<unsigned>(proto::BlockWordAt(block, k)));
        line[n++] = '\n';
        std::fwrite(line, 1, static_cast<size_t>(n), m_out);
    }
    void OnStopAck() override { std::fputs("stop\n", m_out); }
    void OnDateReply(const uint8_t date[4]) override
    {
        std::fprintf(m_out, "date,%s\n", proto::FormatDeviceDate(date).c_str());
    }
private:
    FILE* m_out;
};

bool ParseChunk(const char* text, long& out)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < 1)
        return false;
    out = v;
    return true;
}

int Usage(const char* problem)
{
    std::fprintf(stderr, "sensor-decode: %s\n%s", problem, USAGE);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    long nChunk = DEFAULT_CHUNK;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (arg == "--chunk" || arg.rfind("--chunk=", 0) == 0) {
            const char* value = arg == "--chunk" ? (i + 1 < argc ? argv[++i] : nullptr) : argv[i] + 8;
            if (!ParseChunk(value, nChunk))
                return Usage("--chunk needs a whole number of bytes, 1 or more");
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-')
            return Usage(("unknown option " + arg).c_str());
        if (path)
            return Usage("only one FILE may be given");
        path = argv[i];
    }

    FILE* in = stdin;
    const bool bStdin = !path || std::strcmp(path, "-") == 0;
    if (bStdin) {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
    } else {
        in = std::fopen(path, "rb");
        if (!in) {
            std::fprintf(stderr, "sensor-decode: cannot read %s: %s\n", path, std::strerror(errno));
            return 2;
        }
    }

#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // lines end in LF alone, as elsewhere
#endif
    static char outBuf[1 << 16];
    std::setvbuf(stdout, outBuf, _IOFBF, sizeof outBuf);

    CByteRing ring;
    if (ring.m_nSize == 0) {
        std::fputs("sensor-decode: out of memory for the receive ring\n", stderr);
        return 2;
    }
    LinePrinter printer(stdout);
    DecodeStats stats;
    std::vector<uint8_t> chunk(static_cast<size_t>(nChunk));
    int rc = 0;
    for (;;) {
        // fread fills the whole chunk unless the stream ends, so chunk boundaries do not
        // depend on how the bytes reach the pipe or the file.
        const size_t got = std::fread(chunk.data(), 1, chunk.size(), in);
        for (size_t done = 0; done < got;) {
            const size_t piece = std::min(got - done, static_cast<size_t>(MAX_PIECE));
            ring.Append(chunk.data() + done, static_cast<int>(piece));
            DecodeFrames(ring, printer, &stats);
            done += piece;
        }
        if (got < chunk.size()) {
            if (std::ferror(in)) {
                std::fflush(stdout);
                std::fprintf(stderr, "sensor-decode: cannot read %s: %s\n", bStdin ? "standard input" : path,
                             std::strerror(errno));
                rc = 2;
            }
            break;
        }
    }
    if (!bStdin)
        std::fclose(in);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("sensor-decode: cannot write the output\n", stderr);
        return 2;
    }
    std::fprintf(stderr, "frames %llu, badcheck %llu, skipped %llu bytes\n",
                 static_cast<unsigned long long>(stats.frames), static_cast<unsigned long long>(stats.badCheck),
                 static_cast<unsigned long long>(stats.skipped));
    return rc;
}
