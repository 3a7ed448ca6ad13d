// soak-console: the real console fed by the simulated sensor through a pseudo-terminal at the
// full line rate, one data frame per write, in page-flip and then scrolling mode. Reports what
// was sent and decoded, the console's own CPU and memory, and how it paced its waveform paints;
// exits non-zero when a frame is lost. --faults unplugs and replugs the sensor instead; --floor
// sets the console against the cheapest possible reader of the same stream.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "byte_ring.h"
#include "capture_reader.h"
#include "frame_decoder.h"
#include "protocol.h"
#include "sensor_sim.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int START_TIMEOUT_S = 60;     // for the console to start observing
constexpr int REOPEN_TIMEOUT_S = 30;    // for it to come back after a replug
constexpr int END_TIMEOUT_S = 30;       // for it to finish after SIGTERM

struct Options {
    double seconds = 60;
    double warmup = 5;
    double rate = SIM_MAX_RATE;
    bool pageFlip = true;
    bool scrolling = true;
    bool review = false;  // page flip without and with the review window following
    bool faults = false;
    bool floor = false;
    int rounds = 3;
    int replugs = 20;
    double corrupt = 0.05;
    double garbage = 0.05;
    std::string console;
    bool verbose = false;
};

void Usage(std::FILE* f)
{
    std::fprintf(f,
        "usage: soak-console [options]\n"
        "Runs the console against the simulated sensor at the full line rate, one data frame per\n"
        "write, offscreen (or on $DISPLAY when it is set), first in page-flip, then in scrolling\n"
        "mode, and reports frames sent and decoded, bad checks, the console's CPU as a share of\n"
        "one core, waveform paints a second, the longest gap between paints and resident memory.\n"
        "Exits 1 when a frame is lost or an unexpected message box appeared, 2 on a usage error.\n\n"
        "  --seconds S     measured time per mode (default 60)\n"
        "  --warmup S      time before measuring starts (default 5)\n"
        "  --mode M        page-flip, scrolling or both (default both; page-flip with --faults);\n"
        "                  review: page flip without, then with the review window open and\n"
        "                  following, and the difference in CPU: the review window's cost\n"
        "  --rate N        data frames a second (default the line's maximum, %.0f)\n"
        "  --faults        fault soak: corrupt frames and garbage on the line, the sensor\n"
        "                  unplugged and plugged back --replugs times; checks that every good\n"
        "                  frame sent after the last reopen is decoded and that no message box\n"
        "                  other than the loss report appeared\n"
        "  --replugs N     unplug/replug cycles of the fault soak (default 20)\n"
        "  --floor         the cost against the floor: a plain reader of the same stream (one\n"
        "                  blocking read a wake-up, nothing else), then the console in each mode,\n"
        "                  --rounds times in turn; prints each CPU figure, the console's ratios to\n"
        "                  the floor of its round and the medians\n"
        "  --rounds N      rounds of --floor (default 3)\n"
        "  --corrupt P     fault soak: share of frames with a flipped byte (default 0.05)\n"
        "  --garbage P     fault soak: share of frames with random bytes ahead (default 0.05)\n"
        "  --console PATH  the console executable (default: ../console/Veltrin beside this tool)\n"
        "  --verbose       print the console's messages and each replug\n",
        SIM_MAX_RATE);
}

bool ParseDouble(const char* text, double lo, double hi, double* out)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= lo && v <= hi))
        return false;
    *out = v;
    return true;
}

std::string DefaultConsole(const char* argv0)
{
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv0);
    dir = dir.substr(0, dir.find_last_of('/') + 1);
    return dir + "../console/Veltrin";
}

// --- the console process -------------------------------------------------------------------

using Report = std::map<std::string, std::string>;

Report ReadReport(const std::string& path)
{
    Report r;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            r[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return r;
}

double Num(const Report& r, const char* key)
{
    const auto it = r.find(key);
    return it == r.end() ? 0.0 : std::atof(it->second.c_str());
}

// CPU time of a whole process (all its threads), in seconds.
double ProcessCpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = s.rfind(')');  // the command name may hold blanks
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(s.substr(close + 2));
    std::string f;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::strtoull(f.c_str(), nullptr, 10);
        if (i == 15) stime = std::strtoull(f.c_str(), nullptr, 10);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

double ResidentKiB(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6);
    return 0;
}

class ConsoleProcess {
public:
    ~ConsoleProcess() { Kill(); }

    bool Start(const std::string& exe, const std::vector<std::string>& args, const std::string& errPath)
    {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            env.emplace_back(*e);
        // Offscreen unless a display is there (an X server or Xvfb) or the caller chose.
        if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY"))
            env.emplace_back("QT_QPA_PLATFORM=offscreen");
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = posix_spawn(&m_pid, exe.c_str(), &fa, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) {
            std::fprintf(stderr, "soak-console: cannot start %s: %s\n", exe.c_str(), std::strerror(rc));
            m_pid = -1;
            return false;
        }
        return true;
    }

    pid_t Pid() const { return m_pid; }

    bool Running()
    {
        if (m_pid <= 0)
            return false;
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            m_status = status;
            return false;
        }
        return true;
    }

    // Asks the console to end (it stops observing and drains the line first); false on timeout.
    bool End(int timeoutS)
    {
        if (!Running())
            return true;
        ::kill(m_pid, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(timeoutS);
        while (Running()) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(milliseconds(50));
        }
        return true;
    }

    void Kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &m_status, 0);
            m_pid = -1;
        }
    }

    int Status() const { return m_status; }

private:
    pid_t m_pid = -1;
    int m_status = 0;
};

// Polls the report until pred holds or the time is up.
template <class Pred>
bool WaitForReport(ConsoleProcess& console, const std::string& path, int timeoutS, Pred pred)
{
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutS);
    while (Clock::now() < deadline) {
        if (!console.Running())
            return false;
        if (pred(ReadReport(path)))
            return true;
        std::this_thread::sleep_for(milliseconds(100));
    }
    return false;
}

// The good data frames in the bytes a simulated sensor logged as sent: what a receiver that
// lost nothing decodes.
struct GoodCounter : IFrameSink {
    uint64_t good = 0;
    void OnInfoReply(const uint8_t*) override {}
    void OnDataFrame(const uint8_t*, bool ok) override { good += ok; }
    void OnStopAck() override {}
    void OnDateReply(const uint8_t*) override {}
};

uint64_t GoodFramesInLog(const std::string& path)
{
    // The sensor's log is a capture seen from the console's side: what it received is what the
    // sensor sent.
    CByteRing ring;
    GoodCounter sink;
    std::FILE* pFile = std::fopen(path.c_str(), "rb");
    if (!pFile)
        return 0;
    CFileSource source(pFile);
    capture::CCaptureReader reader(source);
    capture::CaptureRecord rec;
    if (reader.ReadHeader()) {
        while (reader.Next(rec) == capture::ReadResult::Record) {
            if (rec.dir != capture::Direction::Received)
                continue;
            ring.Append(rec.bytes.data(), static_cast<int>(rec.bytes.size()));
            DecodeFrames(ring, sink);
        }
    }
    std::fclose(pFile);
    return sink.good;
}

// --- the floor -------------------------------------------------------------------------------

volatile sig_atomic_t g_bFloorStop = 0;

// The cheapest reader of the stream there is, run as a process of its own so that its CPU time
// is its own: the terminal raw, the sensor started, then one blocking read a wake-up and nothing
// else until SIGTERM. Then it stops the sensor, reads what is still coming and writes the
// number of bytes it read to outPath.
int FloorReader(const char* path, const char* outPath)
{
    struct sigaction sa{};
    sa.sa_handler = [](int) { g_bFloorStop = 1; };
    ::sigaction(SIGTERM, &sa, nullptr);  // no SA_RESTART: the blocking read returns
    const int fd = ::open(path, O_RDWR | O_NOCTTY);
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0)
        return 2;
    ::cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    uint8_t cmd[proto::MAX_COMMAND_LEN];
    int nCmd = proto::BuildCommandFrame(proto::CODE_START, proto::ADDR_SENSOR, 0, cmd);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0 || ::write(fd, cmd, static_cast<size_t>(nCmd)) != nCmd)
        return 2;
    static uint8_t buf[4096];
    unsigned long long total = 0;
    while (!g_bFloorStop) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            total += static_cast<unsigned long long>(n);
        else if (n == 0 || errno != EINTR)
            return 2;
    }
    nCmd = proto::BuildCommandFrame(proto::CODE_STOP, proto::ADDR_SENSOR, 0, cmd);
    if (::write(fd, cmd, static_cast<size_t>(nCmd)) != nCmd)
        return 2;
    // The line falls silent once the stop is acknowledged.
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 300) > 0) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        total += static_cast<unsigned long long>(n);
    }
    std::FILE* pOut = std::fopen(outPath, "w");
    if (!pOut)
        return 2;
    std::fprintf(pOut, "%llu\n", total);
    return std::fclose(pOut) == 0 ? 0 : 2;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// --- one run ---------------------------------------------------------------------------------

class Soak {
public:
    Soak(const Options& opts, std::string dir, std::string self)
        : m_opts(opts), m_dir(std::move(dir)), m_self(std::move(self)) {}

    // True when the run completed and nothing was lost.
    bool Run(const char* mode, bool scroll, bool openReview = false)
    {
        const std::string link = m_dir + "/sensor";
        const std::string report = m_dir + std::string("/report-") + mode;
        const std::string errPath = m_dir + std::string("/console-") + mode + ".err";
        ::unlink(report.c_str());

        if (!StartSim(link, 0))
            return Fail("cannot start the simulated sensor");
        ConsoleProcess console;
        std::vector<std::string> args{"--com", "1=" + link, "--auto-observe", "--diag-report", report};
        if (scroll)
            args.push_back("--scroll");
        if (openReview)
            args.push_back("--open-review");
        if (!console.Start(m_opts.console, args, errPath))
            return Fail("cannot start the console");
        auto observing = [](const Report& r) { return Num(r, "good_since_open") > 0; };
        if (!WaitForReport(console, report, START_TIMEOUT_S, observing))
            return Fail("the console did not start observing", errPath);

        Sleep(m_opts.warmup);
        const double rssStart = ResidentKiB(console.Pid());
        int nReopened = 0;
        if (m_opts.faults)
            nReopened = Replug(console, report, &m_rssAfterFirst);

        // The measured stretch (after the last replug in a fault soak).
        const Report r0 = ReadReport(report);
        const double cpu0 = ProcessCpuSeconds(console.Pid());
        const auto t0 = Clock::now();
        double gapMax = 0;
        double lastReport = Num(r0, "report");
        while (Clock::now() - t0 < std::chrono::duration<double>(m_opts.seconds)) {
            std::this_thread::sleep_for(milliseconds(250));
            if (!console.Running())
                return Fail("the console ended by itself", errPath);
            const Report r = ReadReport(report);
            if (Num(r, "report") > lastReport) {
                gapMax = std::max(gapMax, Num(r, "wave_gap_recent_ms"));
                lastReport = Num(r, "report");
            }
        }
        const double cpu1 = ProcessCpuSeconds(console.Pid());
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double rssEnd = ResidentKiB(console.Pid());
        const Report r1 = ReadReport(report);

        if (!console.End(END_TIMEOUT_S))
            return Fail("the console did not end after SIGTERM", errPath);
        const Report rEnd = ReadReport(report);
        const SensorSimStats st = m_sim->Stats();
        m_sim->Stop();

        const uint64_t sent = st.framesSent;
        const uint64_t goodSent = m_opts.faults ? GoodFramesInLog(m_logPath) : sent - st.corrupted;
        const uint64_t decoded = static_cast<uint64_t>(Num(rEnd, "good_since_open"));
        const int64_t lost = static_cast<int64_t>(goodSent) - static_cast<int64_t>(decoded)
                           + static_cast<int64_t>(st.framesDropped);
        const double dElapsed = (Num(r1, "elapsed_ms") - Num(r0, "elapsed_ms")) / 1000.0;
        const double paints = Num(r1, "wave_paints") - Num(r0, "wave_paints");
        const double paintsPerS = dElapsed > 0 ? paints / dElapsed : 0;
        const double moved = Num(r1, "wave_moved_paints") - Num(r0, "wave_moved_paints");
        const double traced = Num(r1, "wave_trace_requests") - Num(r0, "wave_trace_requests");
        const double tracedArea = Num(r1, "wave_trace_area_permille") - Num(r0, "wave_trace_area_permille");
        const int boxes = static_cast<int>(Num(rEnd, "boxes"));
        const int lossBoxes = static_cast<int>(Num(rEnd, "loss_boxes"));

        std::printf("%s%s\n", mode, m_opts.faults ? " (fault soak)" : "");
        if (m_opts.faults) {
            std::printf("  replugs                 %d, console reopened %d times\n", m_opts.replugs, nReopened);
            std::printf("  message boxes           %d (%d loss reports)\n", boxes, lossBoxes);
            std::printf("  after the last reopen:\n");
        }
        std::printf("  frames sent             %llu (%llu good, %llu dropped by the sensor for a full line)\n",
                    ULL(sent), ULL(goodSent), ULL(st.framesDropped));
        std::printf("  frames decoded          %llu good, %.0f bad checks\n", ULL(decoded), Num(rEnd, "bad_checks"));
        std::printf("  frames lost             %lld\n", static_cast<long long>(lost));
        m_dLastCpuPercent = 100.0 * (cpu1 - cpu0) / wall;
        std::printf("  console CPU             %.2f %% of one core over %.1f s\n", m_dLastCpuPercent, wall);
        std::printf("  waveform paints         %.1f a second, %.0f %% from a moved picture\n", paintsPerS,
                    paints > 0 ? 100.0 * moved / paints : 0.0);
        if (traced > 0)
            std::printf("  trace rows asked for    %.1f times a second, %.0f %% of the field on average\n",
                        dElapsed > 0 ? traced / dElapsed : 0.0, tracedArea / traced / 10.0);
        std::printf("  longest gap             %.1f ms between paints while data flowed\n", gapMax);
        std::printf("  resident memory         %.0f KiB at start, %.0f KiB at end (%+.0f KiB)\n",
                    rssStart, rssEnd, rssEnd - rssStart);
        if (m_opts.faults && m_rssAfterFirst > 0)
            std::printf("                          %.0f KiB after the first replug (%+.0f KiB since)\n",
                        m_rssAfterFirst, rssEnd - m_rssAfterFirst);
        std::fflush(stdout);

        if (lost > 0)
            return Fail(std::to_string(lost) + " frames lost", errPath);
        if (m_opts.faults && boxes != lossBoxes)
            return Fail("a message box other than the loss report appeared", errPath);
        if (m_opts.verbose)
            Cat(errPath);
        return true;
    }

    // CPU of the last run (the console's, or the floor reader's), percent of one core.
    double LastCpuPercent() const { return m_dLastCpuPercent; }

    // The floor reader on the same stream; true when it read every frame sent.
    bool RunFloor()
    {
        const std::string link = m_dir + "/sensor";
        const std::string outPath = m_dir + "/floor.out";
        if (!StartSim(link, 0))
            return Fail("cannot start the simulated sensor");
        ConsoleProcess reader;
        if (!reader.Start(m_self, {"--floor-reader", link, outPath}, m_dir + "/floor.err"))
            return Fail("cannot start the floor reader");
        const auto deadline = Clock::now() + std::chrono::seconds(START_TIMEOUT_S);
        while (!m_sim->Streaming()) {
            if (!reader.Running() || Clock::now() > deadline)
                return Fail("the floor reader did not start the sensor", m_dir + "/floor.err");
            Sleep(0.05);
        }
        Sleep(m_opts.warmup);
        const double cpu0 = ProcessCpuSeconds(reader.Pid());
        const auto t0 = Clock::now();
        Sleep(m_opts.seconds);
        const double cpu1 = ProcessCpuSeconds(reader.Pid());
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        if (!reader.End(END_TIMEOUT_S))
            return Fail("the floor reader did not end after SIGTERM");
        const SensorSimStats st = m_sim->Stats();
        m_sim->Stop();
        std::ifstream in(outPath);
        unsigned long long bytes = 0;
        in >> bytes;
        const int64_t lost = static_cast<int64_t>(st.framesSent) + static_cast<int64_t>(st.framesDropped)
                           - static_cast<int64_t>(bytes / proto::DATA_FRAME_LEN);
        m_dLastCpuPercent = 100.0 * (cpu1 - cpu0) / wall;
        std::printf("floor (a plain reader)\n");
        std::printf("  frames sent             %llu, %llu bytes read\n", ULL(st.framesSent), bytes);
        std::printf("  frames lost             %lld\n", static_cast<long long>(std::max<int64_t>(lost, 0)));
        std::printf("  reader CPU              %.2f %% of one core over %.1f s\n", m_dLastCpuPercent, wall);
        std::fflush(stdout);
        if (!WIFEXITED(reader.Status()) || WEXITSTATUS(reader.Status()) != 0)
            return Fail("the floor reader failed", m_dir + "/floor.err");
        if (lost > 0)
            return Fail(std::to_string(lost) + " frames lost by the floor reader");
        return true;
    }

private:
    static unsigned long long ULL(uint64_t v) { return static_cast<unsigned long long>(v); }

    static void Sleep(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

    static void Cat(const std::string& path)
    {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line))
            std::fprintf(stderr, "  console: %s\n", line.c_str());
    }

    bool Fail(const std::string& why, const std::string& errPath = std::string())
    {
        std::fprintf(stderr, "soak-console: %s\n", why.c_str());
        if (!errPath.empty())
            Cat(errPath);
        if (m_sim)
            m_sim->Stop();
        return false;
    }

    bool StartSim(const std::string& link, int n)
    {
        if (m_sim)
            m_sim->Stop();
        SensorSimOptions so;
        so.rate = m_opts.rate;
        so.frameWrites = true;
        so.linkPath = link;
        so.seed = 1 + static_cast<uint64_t>(n);
        if (m_opts.faults) {
            so.corrupt = m_opts.corrupt;
            so.garbage = m_opts.garbage;
            m_logPath = m_dir + "/sensor-" + std::to_string(n) + ".vcap";
            so.logPath = m_logPath;
        }
        m_sim = std::make_unique<SensorSim>(so);
        std::string error;
        if (!m_sim->Start(&error)) {
            std::fprintf(stderr, "soak-console: %s\n", error.c_str());
            return false;
        }
        return true;
    }

    // Unplugs the sensor (its terminal closes, the console sees a lost device) and plugs a new
    // one in at the same path, replugs times; returns how often the console came back.
    int Replug(ConsoleProcess& console, const std::string& report, double* pRssAfterFirst)
    {
        const std::string link = m_dir + "/sensor";
        int nBack = 0;
        for (int i = 1; i <= m_opts.replugs; ++i) {
            const int nOpens = static_cast<int>(Num(ReadReport(report), "port_opens"));
            m_sim->Stop();
            ::unlink(m_logPath.c_str());  // only the last sensor's bytes are compared
            Sleep(0.2);
            if (!StartSim(link, i))
                break;
            const bool back = WaitForReport(console, report, REOPEN_TIMEOUT_S, [&](const Report& r) {
                return Num(r, "port_opens") > nOpens && Num(r, "good_since_open") > 0;
            });
            nBack += back;
            if (i == 1)
                *pRssAfterFirst = ResidentKiB(console.Pid());
            if (m_opts.verbose)
                std::fprintf(stderr, "soak-console: replug %d: %s\n", i, back ? "observing again" : "not back");
            Sleep(0.3);
        }
        return nBack;
    }

    const Options& m_opts;
    std::string m_dir;
    std::unique_ptr<SensorSim> m_sim;
    std::string m_logPath;
    std::string m_self;          // this tool, which is also the floor reader
    double m_rssAfterFirst = 0;  // fault soak: once the first loss and reopening are done
    double m_dLastCpuPercent = 0;
};

} // namespace

// --floor: the floor and the console in each mode, in turn for several rounds (the order
// reversed every other round, so that a drift of the machine's load favours none), then the
// figures, the ratios to the floor of the same round and their medians.
bool RunFloorRounds(const Options& opts, Soak& soak)
{
    struct Round {
        double floor = 0, pageFlip = 0, scrolling = 0;
    };
    std::vector<Round> rounds;
    bool ok = true;
    for (int r = 0; r < opts.rounds && ok; ++r) {
        Round fig;
        std::vector<int> order{0, 1, 2};
        if (r % 2)
            std::reverse(order.begin(), order.end());
        for (int what : order) {
            if (what == 0)
                ok = ok && soak.RunFloor();
            else if (what == 1 && opts.pageFlip)
                ok = ok && soak.Run("page-flip", false);
            else if (what == 2 && opts.scrolling)
                ok = ok && soak.Run("scrolling", true);
            else
                continue;
            (what == 0 ? fig.floor : what == 1 ? fig.pageFlip : fig.scrolling) = soak.LastCpuPercent();
        }
        if (ok)
            rounds.push_back(fig);
    }
    std::printf("\nCPU time (user + system) as %% of one core, and the console against the floor of its round\n");
    std::printf("  round   floor     page flip           scrolling\n");
    std::vector<double> floors, pf, sc, pfRatio, scRatio;
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    for (size_t r = 0; r < rounds.size(); ++r) {
        const Round& x = rounds[r];
        std::printf("  %-6zu  %5.2f %%   %5.2f %% (%4.2f x)   %5.2f %% (%4.2f x)\n", r + 1, x.floor, x.pageFlip,
                    ratio(x.pageFlip, x.floor), x.scrolling, ratio(x.scrolling, x.floor));
        floors.push_back(x.floor);
        pf.push_back(x.pageFlip);
        sc.push_back(x.scrolling);
        pfRatio.push_back(ratio(x.pageFlip, x.floor));
        scRatio.push_back(ratio(x.scrolling, x.floor));
    }
    if (!rounds.empty())
        std::printf("  median  %5.2f %%   %5.2f %% (%4.2f x)   %5.2f %% (%4.2f x)\n", Median(floors), Median(pf),
                    Median(pfRatio), Median(sc), Median(scRatio));
    std::fflush(stdout);
    return ok;
}

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--floor-reader") == 0)
        return FloorReader(argv[2], argv[3]);
    Options opts;
    opts.console = DefaultConsole(argv[0]);
    bool modeGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "soak-console: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        bool ok = true;
        if (a == "-h" || a == "--help") {
            Usage(stdout);
            return 0;
        } else if (a == "--seconds") {
            ok = ParseDouble(value(), 0.5, 1e7, &opts.seconds);
        } else if (a == "--warmup") {
            ok = ParseDouble(value(), 0, 3600, &opts.warmup);
        } else if (a == "--rate") {
            ok = ParseDouble(value(), 1, SIM_MAX_RATE, &opts.rate);
        } else if (a == "--mode") {
            modeGiven = true;
            const std::string m = value();
            opts.review = m == "review";
            opts.pageFlip = m == "page-flip" || m == "both";
            opts.scrolling = m == "scrolling" || m == "both";
            ok = opts.pageFlip || opts.scrolling || opts.review;
        } else if (a == "--faults") {
            opts.faults = true;
        } else if (a == "--floor") {
            opts.floor = true;
        } else if (a == "--rounds") {
            double n = 0;
            ok = ParseDouble(value(), 1, 1000, &n);
            opts.rounds = static_cast<int>(n);
        } else if (a == "--replugs") {
            double n = 0;
            ok = ParseDouble(value(), 0, 10000, &n);
            opts.replugs = static_cast<int>(n);
        } else if (a == "--corrupt") {
            ok = ParseDouble(value(), 0, 1, &opts.corrupt);
        } else if (a == "--garbage") {
            ok = ParseDouble(value(), 0, 1, &opts.garbage);
        } else if (a == "--console") {
            opts.console = value();
        } else if (a == "--verbose") {
            opts.verbose = true;
        } else {
            std::fprintf(stderr, "soak-console: unknown option %s\n", a.c_str());
            Usage(stderr);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "soak-console: bad value for %s\n", a.c_str());
            return 2;
        }
    }
    if (opts.faults && !modeGiven)
        opts.scrolling = false;  // one mode is enough to prove the reopening
    if (opts.faults && opts.floor) {
        std::fprintf(stderr, "soak-console: --floor and --faults are separate runs\n");
        return 2;
    }
    if (::access(opts.console.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "soak-console: no console at %s (use --console PATH)\n", opts.console.c_str());
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    char tmpl[] = "/tmp/soak-console-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        std::perror("soak-console: cannot make a working directory");
        return 2;
    }
    const std::string dir = tmpl;
    const char* pszPlatform = std::getenv("QT_QPA_PLATFORM");
    const std::string strWhere = pszPlatform ? std::string("QT_QPA_PLATFORM=") + pszPlatform
                               : std::getenv("DISPLAY") ? std::string("on $DISPLAY") : std::string("offscreen");
    std::printf("soak-console: %.0f frames/s, one frame per write, %.0f s per mode after %.0f s warm-up, %s\n",
                opts.rate, opts.seconds, opts.warmup, strWhere.c_str());
    std::fflush(stdout);
    char self[4096] = {};
    const ssize_t nSelf = ::readlink("/proc/self/exe", self, sizeof self - 1);
    Soak soak(opts, dir, nSelf > 0 ? std::string(self, static_cast<size_t>(nSelf)) : std::string(argv[0]));
    bool ok = true;
    if (opts.floor) {
        ok = RunFloorRounds(opts, soak);
    } else {
        if (opts.pageFlip)
            ok = soak.Run("page-flip", false) && ok;
        if (opts.scrolling)
            ok = soak.Run("scrolling", true) && ok;
        if (opts.review) {
            ok = soak.Run("page-flip", false) && ok;
            const double without = soak.LastCpuPercent();
            ok = soak.Run("page-flip+review", false, true) && ok;
            std::printf("review window           %+.2f %% of one core (%.2f %% with it, %.2f %% without)\n",
                        soak.LastCpuPercent() - without, soak.LastCpuPercent(), without);
        }
    }
    // The working directory goes only when everything passed; otherwise it is kept for a look.
    if (ok) {
        const std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0)
            std::fprintf(stderr, "soak-console: could not remove %s\n", dir.c_str());
    } else {
        std::fprintf(stderr, "soak-console: FAILED; files kept in %s\n", dir.c_str());
    }
    return ok ? 0 : 1;
}
