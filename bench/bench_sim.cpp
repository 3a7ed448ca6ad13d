// bench-sim: cost of the simulated sensor's signals, and how closely its stream over a
// pseudo-terminal keeps the asked frame rate.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "bench_budget.h"
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

constexpr double SIGNAL_BUDGET_PERCENT = 0.5;  // of one core at the line rate

void BM_SimSignals(benchmark::State& state)
{
    CSignalGen gen(500, 72, 1);
    uint16_t words[proto::BLOCK_WORDS];
    for (auto _ : state) {
        gen.Next(words);
        benchmark::DoNotOptimize(words);
    }
    SetLineShare(state, 1, LINE_FRAMES_PER_S, SIGNAL_BUDGET_PERCENT);
}

void BenchStream(benchmark::State& state, double rate, double seconds)
{
    SensorSimOptions opts;
    opts.rate = rate;
    SensorSim sim(opts);
    if (!sim.Start()) {
        state.SkipWithError("cannot start the simulated sensor");
        return;
    }
    const int fd = ::open(sim.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    const uint8_t start[4] = {0xF0, 0x2F, 0x01, 0x32};
    if (::write(fd, start, 4) != 4) {
        state.SkipWithError("cannot ask the simulated sensor to stream");
        return;
    }

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
    state.counters["frames/s"] = counter.good / s;
    state.counters["of_asked%"] = counter.good / s / rate * 100;
    state.counters["gap_ms"] = maxGapMs;
    ::close(fd);
    sim.Stop();
}

// How closely the stream over a pseudo-terminal keeps the asked rate: a real-time run, once.
void BM_SimStream(benchmark::State& state, double rate)
{
    for (auto _ : state)
        BenchStream(state, rate, 5);
}

BENCHMARK(BM_SimSignals);
BENCHMARK_CAPTURE(BM_SimStream, 500_per_s, 500.0)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_SimStream, line_rate, SIM_MAX_RATE)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    return RunWithBudgets(argc, argv);
}
