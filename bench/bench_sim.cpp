// bench-sim: cost of the simulated sensor's signals, and how closely its stream over a
// pseudo-terminal keeps the asked frame rate.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "byte_ring.h"
#include "frame_decoder.h"
#include "sensor_sim.h"
#include "signal_gen.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Counter : IFrameSink {
    long good = 0;
    void OnInfoReply(const uint8_t*) override {}
    void OnDataFrame(const uint8_t*, bool ok) override { good += ok; }
    void OnStopAck() override {}
    void OnDateReply(const uint8_t*) override {}
};

void BenchSignals()
{
    CSignalGen gen(500, 72, 1);
    uint16_t words[proto::BLOCK_WORDS];
    const int n = 2000000;
    unsigned sink = 0;
    const auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
        gen.Next(words);
        sink += words[1];
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("signals: %.0f ns per sample (all eight words), %.2f%% of one core at %d frames/s [%u]\n",
                s / n * 1e9, s / n * SIM_MAX_RATE * 100, static_cast<int>(SIM_MAX_RATE), sink & 1);
}

void BenchStream(double rate, double seconds)
{
    SensorSimOptions opts;
    opts.rate = rate;
    SensorSim sim(opts);
    if (!sim.Start()) {
        std::printf("stream: cannot start the simulated sensor\n");
        return;
    }
    const int fd = ::open(sim.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    const uint8_t start[4] = {0xF0, 0x2F, 0x01, 0x32};
    if (::write(fd, start, 4) != 4)
        return;

    CByteRing ring;
    Counter counter;
    double maxGapMs = 0;
    auto last = Clock::now();
    const auto t0 = last;
    while (Clock::now() - t0 < std::chrono::duration<double>(seconds)) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 50);
        uint8_t buf[4096];
        ssize_t n;
        bool got = false;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) {
            ring.Append(buf, static_cast<int>(n));
            DecodeFrames(ring, counter);
            got = true;
        }
        if (got) {
            const auto now = Clock::now();
            if (now - t0 > std::chrono::milliseconds(200))   // leave the start-up out
                maxGapMs = std::max(maxGapMs, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        }
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("stream at %.0f frames/s: received %.1f frames/s (%.2f%% of asked), longest gap %.1f ms\n",
                rate, counter.good / s, counter.good / s / rate * 100, maxGapMs);
    ::close(fd);
    sim.Stop();
}

} // namespace

int main()
{
    BenchSignals();
    BenchStream(500, 5);
    BenchStream(SIM_MAX_RATE, 5);
    return 0;
}
