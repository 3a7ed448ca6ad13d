// The simulated sensor's --hrv and --ptt: the R-R spread it asks for, and the command line
// taking one or three transit times and refusing anything else; and the options that only
// fit the signals or only a replay refused in the wrong company.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "capture/capture_builder.h"
#include "signal_gen.h"

namespace {

// Standard deviation of the R-R intervals over `seconds` of signal.
double IntervalSd(double bpm, double hrvS, double seconds, double* pMean = nullptr)
{
    const double rate = 250;
    CSignalGen gen(rate, bpm, 3);
    gen.m_dHrvS = hrvS;
    std::vector<double> r;
    gen.m_pRWaves = &r;
    uint16_t words[proto::BLOCK_WORDS];
    for (int i = 0; i < static_cast<int>(seconds * rate); ++i)
        gen.Next(words);
    std::vector<double> rr;
    for (size_t i = 1; i < r.size(); ++i)
        rr.push_back(r[i] - r[i - 1]);
    const double mean = std::accumulate(rr.begin(), rr.end(), 0.0) / static_cast<double>(rr.size());
    double var = 0;
    for (double x : rr)
        var += (x - mean) * (x - mean);
    if (pMean)
        *pMean = mean;
    return std::sqrt(var / static_cast<double>(rr.size()));
}

// Runs sensor-sim with args; returns its exit status, after stopping it with SIGTERM once it
// has printed its terminal's path (a run that was accepted) or when it ends by itself. Its
// standard error goes to errPath.
int RunSim(std::vector<std::string> args, const std::string& errPath = "/dev/null")
{
    int out[2];
    if (::pipe(out) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        const int quiet = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(quiet, 2);  // usage and summary lines
        ::close(out[0]);
        std::vector<char*> argv{const_cast<char*>(SENSOR_SIM_PATH)};
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(SENSOR_SIM_PATH, argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    char c = 0;
    const bool printed = ::read(out[0], &c, 1) == 1;
    ::close(out[0]);
    if (printed)
        ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(SimSignalOptions, HrvSetsTheIntervalSpread)
{
    double mean = 0;
    EXPECT_LT(IntervalSd(75, 0, 60, &mean), 1e-9);  // none at all
    EXPECT_NEAR(mean, 0.8, 1e-9);
    EXPECT_NEAR(IntervalSd(75, 0.050, 300), 0.050, 0.010);
    EXPECT_NEAR(IntervalSd(150, 0.010, 300), 0.010, 0.002);
    // Unset: breathing and a small random spread, about 2.7 % of the interval.
    EXPECT_NEAR(IntervalSd(60, -1, 300), 0.027, 0.006);
}

TEST(SimSignalOptions, CommandLineTakesOneOrThreeTransitTimes)
{
    EXPECT_EQ(RunSim({"--ptt", "120", "--hrv", "0"}), 0);
    EXPECT_EQ(RunSim({"--ptt=100,150,200", "--hrv=25.5"}), 0);
    for (const char* bad : {"10", "600", "100,200", "100,200,300,400", "100,,200", "abc", ""}) {
        EXPECT_EQ(RunSim({"--ptt", bad}), 2) << bad;
    }
    for (const char* bad : {"-1", "250", "x"}) {
        EXPECT_EQ(RunSim({"--hrv", bad}), 2) << bad;
    }
}

TEST(SimSignalOptions, CommandLineRefusesPacingOptionsInTheWrongCompany)
{
    // A replay keeps the capture's pace: frame-by-frame writing of the signals does not go
    // with it (it would only spin), in either order, and a replay speed needs a replay.
    const std::string path = "/tmp/veltrin-simopts-" + std::to_string(::getpid()) + ".vcap";
    const Bytes file = CaptureBuilder().Recv(1000, DataFrame(7, true)).Get();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));

    EXPECT_EQ(RunSim({"--replay", path}), 0);
    EXPECT_EQ(RunSim({"--replay", path, "--speed", "2"}), 0);
    EXPECT_EQ(RunSim({"--frame-writes"}), 0);
    EXPECT_EQ(RunSim({"--replay", path, "--frame-writes"}), 2);
    EXPECT_EQ(RunSim({"--frame-writes", "--replay=" + path}), 2);
    EXPECT_EQ(RunSim({"--speed", "2"}), 2);
    ::unlink(path.c_str());
}

TEST(SimSignalOptions, ReplayOfAHostileCaptureIsRefusedWithStatus2)
{
    const std::string path = "/tmp/veltrin-simhostile-" + std::to_string(::getpid()) + ".vcap", err = path + ".err";
    auto put = [&](const Bytes& b) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    };
    auto slurp = [](const std::string& p) {
        std::ifstream f(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    for (const HostileCapture& h : HostileCaptures()) {
        put(h.bytes);
        EXPECT_EQ(RunSim({"--replay", path}, err), 2) << h.name;
        EXPECT_NE(slurp(err).find(path + ": offset "), std::string::npos) << h.name << ": " << slurp(err);
        EXPECT_NE(slurp(err).find(h.reason), std::string::npos) << h.name << ": " << slurp(err);
        EXPECT_EQ(slurp(path), std::string(h.bytes.begin(), h.bytes.end())) << h.name;
    }
    // A capture cut short is replayed up to its last whole record, and said so; a log may not
    // be the capture being replayed.
    Bytes cut = CaptureBuilder().Recv(1000, DataFrame(7, true)).Recv(2000, DataFrame(8, true)).Get();
    cut.pop_back();
    put(cut);
    EXPECT_EQ(RunSim({"--replay", path}, err), 0);
    EXPECT_NE(slurp(err).find("cut short"), std::string::npos) << slurp(err);
    EXPECT_EQ(RunSim({"--replay", path, "--log", path}, err), 2);
    EXPECT_EQ(slurp(path), std::string(cut.begin(), cut.end()));
    ::unlink(path.c_str());
    ::unlink(err.c_str());
}

TEST(SimSignalOptions, WriteCaptureAndAKnownModulation)
{
    // --write-capture ends by itself with a whole capture; --hrv takes one spread or LF,HF; the
    // options of a terminal session and a lone --seconds are refused.
    const std::string path = "/tmp/veltrin-simwrite-" + std::to_string(::getpid()) + ".vcap";
    EXPECT_EQ(RunSim({"--write-capture", path, "--seconds", "2", "--hrv", "40,30", "--rate", "250"}), 0);
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.compare(0, 5, "\x89VCAP"), 0);
    EXPECT_GT(bytes.size(), 2 * 250 * 21u);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--hrv", "40,30,20"}, {"--hrv", "40,300"}, {"--hrv", ",30"}, {"--seconds", "2"},
             {"--write-capture", path, "--seconds", "0"}, {"--write-capture", path, "--replay", path},
             {"--write-capture", path, "--link", path + ".link"}}) {
        EXPECT_EQ(RunSim(bad), 2) << bad[0] << ' ' << bad[1];
    }
    ::unlink(path.c_str());
}
