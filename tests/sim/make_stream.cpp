// make-stream SEED BYTES: a reproducible sensor byte stream of at least BYTES bytes on standard
// output, for running decoders of different builds on the same input. The simulated sensor's
// data frames, with what a serial line adds mixed in: flipped bytes, bursts of any byte values,
// frames cut short, unknown codes, and the replies the console recognises.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sensor_model.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool ParseCount(const char* text, unsigned long long& out)
{
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

void AppendReply(Bytes& s, uint8_t code, CSimRandom& rnd)
{
    const int nPayload = code == proto::CODE_STOP ? 0 : 4;
    s.insert(s.end(), {proto::SYNC, proto::INBOUND_ADDR, static_cast<uint8_t>(nPayload + 1), code});
    for (int i = 0; i < nPayload; ++i)
        s.push_back(static_cast<uint8_t>(rnd.Next()));
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long long seed = 0, nBytes = 0;
    if (argc != 3 || !ParseCount(argv[1], seed) || !ParseCount(argv[2], nBytes)) {
        std::fputs("usage: make-stream SEED BYTES\n", stderr);
        return 2;
    }
    CSensorModel model(500, 72, seed);
    CSimRandom rnd(seed ^ 0x5EEDu);
    Bytes s;
    s.reserve(nBytes + 64);
    while (s.size() < nBytes) {
        uint8_t frame[proto::DATA_FRAME_LEN];
        model.NextDataFrame(frame);
        const double r = rnd.Uniform();
        if (r < 0.04) {
            // One byte changed anywhere: a bad check byte, a broken header or a lost sync.
            frame[rnd.Next() % proto::DATA_FRAME_LEN] ^= static_cast<uint8_t>(1u << (rnd.Next() % 8));
        } else if (r < 0.07) {
            // Noise of every byte value, sync bytes more often than chance would give them.
            for (uint64_t n = 1 + rnd.Next() % 40; n > 0; --n)
                s.push_back(rnd.Chance(0.2) ? proto::SYNC : static_cast<uint8_t>(rnd.Next()));
        } else if (r < 0.09) {
            // A frame cut short by the next one.
            s.insert(s.end(), frame, frame + 1 + rnd.Next() % (proto::DATA_FRAME_LEN - 1));
        } else if (r < 0.10) {
            // A header with a code the console does not know.
            s.insert(s.end(), {proto::SYNC, proto::INBOUND_ADDR, static_cast<uint8_t>(rnd.Next() % 8),
                               static_cast<uint8_t>(rnd.Next())});
        } else if (r < 0.115) {
            static const uint8_t REPLIES[] = {proto::CODE_INFO, proto::CODE_DATE, proto::CODE_STOP};
            AppendReply(s, REPLIES[rnd.Next() % 3], rnd);
        }
        s.insert(s.end(), frame, frame + proto::DATA_FRAME_LEN);
    }
    if (std::fwrite(s.data(), 1, s.size(), stdout) != s.size() || std::fflush(stdout) != 0) {
        std::fputs("make-stream: cannot write the stream\n", stderr);
        return 2;
    }
    return 0;
}
