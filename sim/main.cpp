// sensor-sim: the pulse sensor on the far side of a pseudo-terminal. Prints the terminal's path
// (or links it at --link PATH) and runs until interrupted.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sensor_sim.h"
#include "sim_capture.h"

namespace {

constexpr double PTT_MIN_MS = 20;
constexpr double PTT_MAX_MS = 500;
constexpr double HRV_MAX_MS = 200;
constexpr double MAX_WRITE_SECONDS = 24 * 3600;
// The pulse diagram's ratios the shape can be asked for, the hold-down pressures and sweeps.
constexpr double TIDAL_MIN = 0.4, TIDAL_MAX = 0.9;
constexpr double NOTCH_MIN = 0.05, NOTCH_MAX = 0.6;
constexpr double DICROTIC_MIN = 0, DICROTIC_MAX = 0.3;
constexpr double PRESSURE_MAX = 10000;
constexpr double SWEEP_MIN_S = 5, SWEEP_MAX_S = 600;

void Usage(std::FILE* f)
{
    std::fprintf(f,
        "usage: sensor-sim [options]\n"
        "  --rate N      data frames a second while sampling (1..%d, default 500)\n"
        "  --bpm N       heart rate (30..220, default 72)\n"
        "  --seed N      seed of the signals and faults (default 1)\n"
        "  --corrupt P   probability that a data frame has one byte flipped (0..1)\n"
        "  --garbage P   probability of random bytes ahead of a data frame (0..1)\n"
        "  --ptt MS      R wave to pulse foot in ms (%g..%g, default 150), or MS1,MS2,MS3\n"
        "                for the three pulse channels apart\n"
        "  --hrv MS      standard deviation of the R-R interval in ms (0..%g; default: a\n"
        "                breathing rhythm of 3.5 %% and +-2 %% random)\n"
        "  --hrv LF,HF   a known heart-rate modulation instead, no random part: the R-R\n"
        "                interval swings by LF ms at 0.1 Hz and by HF ms at 0.25 Hz (each 0..%g),\n"
        "                so its LF and HF power are LF^2/2 and HF^2/2 ms^2\n"
        "  --silent      answer nothing and never stream\n"
        "  --log FILE    record every byte both ways as a capture (sensor-decode --dump FILE shows it)\n"
        "  --link PATH   make PATH a symbolic link to the terminal (removed on exit)\n"
        "  --frame-writes  write every data frame on its own at its due time (one serial\n"
        "                event per frame at the reader: the costliest way to receive); not\n"
        "                with --replay\n"
        "  --replay FILE stream a capture's received bytes, from its first data frame, at their\n"
        "                recorded pace, instead of the simulated signals\n"
        "  --speed X     pace of --replay against the recording (0.1..20, default 1)\n"
        "  --write-capture FILE  no terminal: write --seconds of the session (an information\n"
        "                request and reply, start, the data frames read every 5 ms, stop) into the\n"
        "                capture FILE at once, then exit\n"
        "  --seconds S   length of --write-capture's data, seconds (default 60)\n"
        "The pulse's shape and hold-down pressure (each one value, or three for the pulse channels\n"
        "apart; not with --replay). The shape comes as near the ratios asked as it can; --truth\n"
        "gives each beat's own:\n"
        "  --tidal R     the pulse diagram's h3/h1 at the set heart rate (%g..%g; default about 0.57)\n"
        "  --notch R     h4/h1, the dicrotic notch (%g..%g; default about 0.19)\n"
        "  --dicrotic R  h5/h1, the dicrotic wave (%g..%g; default about 0.10)\n"
        "  --best-pressure P  the hold-down pressure (raw counts) of the largest pulse; the pulse\n"
        "                shrinks away from it (default: the resting hold-down, or with --sweep\n"
        "                800,1700,2600: a floating, a middle and a deep pulse)\n"
        "  --sweep S     the static pressures rise from a light (%g) to a heavy (%g) hold-down\n"
        "                over S seconds (%g..%g) and back, again and again\n"
        "  --truth FILE  write every beat's true pulse diagram, per channel, as CSV (also with\n"
        "                --write-capture)\n",
        static_cast<int>(SIM_MAX_RATE), PTT_MIN_MS, PTT_MAX_MS, HRV_MAX_MS, HRV_MAX_MS, TIDAL_MIN, TIDAL_MAX,
        NOTCH_MIN, NOTCH_MAX, DICROTIC_MIN, DICROTIC_MAX, CSignalGen::SWEEP_LIGHT, CSignalGen::SWEEP_HEAVY,
        SWEEP_MIN_S, SWEEP_MAX_S);
}

bool ParseNumber(const char* text, double lo, double hi, double* out)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(v >= lo && v <= hi))
        return false;
    *out = v;
    return true;
}

// One value for the three channels, or three separated by commas, each within lo..hi.
bool ParseTriple(const std::string& text, double lo, double hi, double out[3])
{
    double v[3] = {0, 0, 0};
    int n = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (n == 3 || !ParseNumber(part.c_str(), lo, hi, &v[n]))
            return false;
        ++n;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (n == 2)
        return false;
    for (int ch = 0; ch < 3; ++ch)
        out[ch] = v[n == 1 ? 0 : ch];
    return true;
}

// MS (the R-R standard deviation) or LF,HF (a known modulation).
bool ParseHrv(const std::string& text, SensorSimOptions& opts)
{
    const size_t comma = text.find(',');
    if (comma == std::string::npos)
        return ParseNumber(text.c_str(), 0, HRV_MAX_MS, &opts.hrvMs);
    return ParseNumber(text.substr(0, comma).c_str(), 0, HRV_MAX_MS, &opts.hrvLfMs)
        && ParseNumber(text.substr(comma + 1).c_str(), 0, HRV_MAX_MS, &opts.hrvHfMs);
}

bool ParseSeed(const char* text, uint64_t* out)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-')
        return false;
    *out = v;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    SensorSimOptions opts;
    std::string strWrite;
    double dSeconds = 60;
    bool bSeconds = false;
    bool pulseSet = false;  // an option of the simulated pulse's shape or pressure
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        const size_t eq = arg.find('=');
        bool hasInline = false;
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasInline = true;
        }
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (arg == "--silent") {
            opts.silent = true;
            continue;
        }
        if (arg == "--frame-writes") {
            opts.frameWrites = true;
            continue;
        }
        const bool known = arg == "--rate" || arg == "--bpm" || arg == "--seed" || arg == "--corrupt"
                        || arg == "--garbage" || arg == "--log" || arg == "--link" || arg == "--ptt"
                        || arg == "--hrv" || arg == "--replay" || arg == "--speed"
                        || arg == "--write-capture" || arg == "--seconds" || arg == "--tidal" || arg == "--notch"
                        || arg == "--dicrotic" || arg == "--best-pressure" || arg == "--sweep" || arg == "--truth";
        if (!known) {
            std::fprintf(stderr, "sensor-sim: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
        if (!hasInline) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "sensor-sim: %s needs a value\n", arg.c_str());
                return 2;
            }
            value = argv[++i];
        }
        double v = 0;
        bool ok = true;
        if (arg == "--rate") { ok = ParseNumber(value.c_str(), 1, SIM_MAX_RATE, &v); opts.rate = v; }
        else if (arg == "--bpm") { ok = ParseNumber(value.c_str(), 30, 220, &v); opts.bpm = v; }
        else if (arg == "--seed") { ok = ParseSeed(value.c_str(), &opts.seed); }
        else if (arg == "--corrupt") { ok = ParseNumber(value.c_str(), 0, 1, &v); opts.corrupt = v; }
        else if (arg == "--garbage") { ok = ParseNumber(value.c_str(), 0, 1, &v); opts.garbage = v; }
        else if (arg == "--ptt") { ok = ParseTriple(value, PTT_MIN_MS, PTT_MAX_MS, opts.pttMs); }
        else if (arg == "--tidal") { ok = ParseTriple(value, TIDAL_MIN, TIDAL_MAX, opts.pulse.tidal); pulseSet = true; }
        else if (arg == "--notch") { ok = ParseTriple(value, NOTCH_MIN, NOTCH_MAX, opts.pulse.notch); pulseSet = true; }
        else if (arg == "--dicrotic") { ok = ParseTriple(value, DICROTIC_MIN, DICROTIC_MAX, opts.pulse.dicrotic); pulseSet = true; }
        else if (arg == "--best-pressure") { ok = ParseTriple(value, 0, PRESSURE_MAX, opts.pulse.bestPressure); pulseSet = true; }
        else if (arg == "--sweep") { ok = ParseNumber(value.c_str(), SWEEP_MIN_S, SWEEP_MAX_S, &opts.pulse.sweepS); pulseSet = true; }
        else if (arg == "--truth") { ok = !value.empty(); opts.truthPath = value; }
        else if (arg == "--hrv") { ok = ParseHrv(value, opts); }
        else if (arg == "--write-capture") { ok = !value.empty(); strWrite = value; }
        else if (arg == "--seconds") { ok = ParseNumber(value.c_str(), 0.1, MAX_WRITE_SECONDS, &dSeconds); bSeconds = true; }
        else if (arg == "--log") { ok = !value.empty(); opts.logPath = value; }
        else if (arg == "--link") { ok = !value.empty(); opts.linkPath = value; }
        else if (arg == "--replay") { ok = !value.empty(); opts.replayPath = value; }
        else if (arg == "--speed") { ok = ParseNumber(value.c_str(), 0.1, 20, &v); opts.replaySpeed = v; }
        if (!ok) {
            std::fprintf(stderr, "sensor-sim: bad value for %s: '%s'\n", arg.c_str(), value.c_str());
            Usage(stderr);
            return 2;
        }
    }

    if (opts.replaySpeed != 1 && opts.replayPath.empty()) {
        std::fprintf(stderr, "sensor-sim: --speed needs --replay\n");
        return 2;
    }
    if ((pulseSet || !opts.truthPath.empty()) && !opts.replayPath.empty()) {
        std::fprintf(stderr, "sensor-sim: the pulse's shape, pressure and truth belong to the simulated signals; they cannot be used with --replay\n");
        return 2;
    }
    if (bSeconds && strWrite.empty()) {
        std::fprintf(stderr, "sensor-sim: --seconds needs --write-capture\n");
        return 2;
    }
    if (!strWrite.empty()) {
        if (opts.silent || opts.frameWrites || !opts.replayPath.empty() || !opts.logPath.empty() || !opts.linkPath.empty()) {
            std::fprintf(stderr, "sensor-sim: --write-capture writes the simulated signals without a terminal; it "
                                 "cannot be used with --silent, --frame-writes, --replay, --log or --link\n");
            return 2;
        }
        SimCaptureOptions cap;
        cap.rate = opts.rate;
        cap.bpm = opts.bpm;
        cap.seed = opts.seed;
        cap.corrupt = opts.corrupt;
        cap.garbage = opts.garbage;
        for (int ch = 0; ch < 3; ++ch)
            cap.pttMs[ch] = opts.pttMs[ch];
        cap.hrvMs = opts.hrvMs;
        cap.hrvLfMs = opts.hrvLfMs;
        cap.hrvHfMs = opts.hrvHfMs;
        cap.seconds = dSeconds;
        cap.pulse = opts.pulse;
        cap.truthPath = opts.truthPath;
        std::string error;
        if (!WriteSimulatedCapture(strWrite, cap, &error)) {
            std::fprintf(stderr, "sensor-sim: %s\n", error.c_str());
            return 2;
        }
        return 0;
    }
    if (opts.frameWrites && !opts.replayPath.empty()) {
        std::fprintf(stderr, "sensor-sim: --frame-writes paces the simulated signals; it cannot be used with --replay\n");
        return 2;
    }

    // Block the ending signals in every thread; the main thread waits for them below.
    sigset_t ending;
    sigemptyset(&ending);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&ending, s);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    SensorSim sim(opts);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "sensor-sim: %s\n", error.c_str());
        return sim.ReplayRefused() ? 2 : 1;
    }
    if (!sim.ReplayWarning().empty())
        std::fprintf(stderr, "sensor-sim: %s\n", sim.ReplayWarning().c_str());
    if (opts.linkPath.empty())
        std::printf("%s\n", sim.SlavePath().c_str());
    else
        std::printf("%s -> %s\n", opts.linkPath.c_str(), sim.SlavePath().c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&ending, &sig);
    sim.Stop();
    const SensorSimStats st = sim.Stats();
    std::fprintf(stderr, "sensor-sim: %llu data frames sent, %llu dropped, %llu commands (%llu ignored)\n",
                 static_cast<unsigned long long>(st.framesSent),
                 static_cast<unsigned long long>(st.framesDropped),
                 static_cast<unsigned long long>(st.commands),
                 static_cast<unsigned long long>(st.rejected));
    return 0;
}
