#include "sensor_sim.h"

#include <fcntl.h>
#include <poll.h>
#ifdef __APPLE__
#include <util.h>  // macOS: openpty lives here
#else
#include <pty.h>
#endif
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "output_files.h"
#include "sensor_model.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds TICK{5};
// Data frames wait here while the line is busy; beyond it they are dropped, as a sensor
// talking to a closed port loses them. Replies are never dropped.
constexpr size_t OUT_LIMIT = 4096;
// Bytes nobody has read for this long are thrown away so a re-opened port starts fresh.
constexpr milliseconds STALL_FLUSH{500};
// Longest catch-up after the thread was held up, so the line never sees a burst.
constexpr double MAX_CATCH_UP_S = 0.1;

std::string ErrnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool SetFlag(int fd, int getCmd, int setCmd, int flag)
{
    const int old = ::fcntl(fd, getCmd);
    return old >= 0 && ::fcntl(fd, setCmd, old | flag) == 0;
}

} // namespace

SensorSim::SensorSim(SensorSimOptions opts) : m_opts(std::move(opts))
{
    m_opts.rate = std::clamp(m_opts.rate, 1.0, SIM_MAX_RATE);
    m_opts.corrupt = std::clamp(m_opts.corrupt, 0.0, 1.0);
    m_opts.garbage = std::clamp(m_opts.garbage, 0.0, 1.0);
}

SensorSim::~SensorSim()
{
    Stop();
}

SensorSimStats SensorSim::Stats() const
{
    std::lock_guard<std::mutex> lock(m_statsLock);
    return m_stats;
}

std::vector<uint8_t> SensorSim::Received() const
{
    std::lock_guard<std::mutex> lock(m_statsLock);
    return m_received;
}

bool SensorSim::Start(std::string* error)
{
    if (Running()) {
        // Its terminal, link and thread stay as they are.
        if (error) *error = "the simulated sensor is already running";
        return false;
    }
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        Cleanup();
        return false;
    };

    char name[256] = {};
    if (::openpty(&m_hMaster, &m_hKeepSlave, name, nullptr, nullptr) != 0)
        return fail(ErrnoText("cannot open a pseudo-terminal"));
    m_strSlavePath = name;
    termios tio{};
    if (::tcgetattr(m_hKeepSlave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_hKeepSlave, TCSANOW, &tio);
    }
    if (!SetFlag(m_hMaster, F_GETFL, F_SETFL, O_NONBLOCK)
        || !SetFlag(m_hMaster, F_GETFD, F_SETFD, FD_CLOEXEC)
        || !SetFlag(m_hKeepSlave, F_GETFD, F_SETFD, FD_CLOEXEC))
        return fail(ErrnoText("cannot set up the pseudo-terminal"));
    // macOS: no pipe2, hence pipe and fcntl.
    if (::pipe(m_hWake) != 0)
        return fail(ErrnoText("cannot create a pipe"));
    for (const int fd : m_hWake)
        if (!SetFlag(fd, F_GETFL, F_SETFL, O_NONBLOCK) || !SetFlag(fd, F_GETFD, F_SETFD, FD_CLOEXEC))
            return fail(ErrnoText("cannot set up a pipe"));

    m_bReplayRefused = false;
    m_strReplayWarning.clear();
    capture::FileId replayId, logId;
    if (!m_opts.replayPath.empty() && !m_opts.logPath.empty() && capture::FileIdOfPath(m_opts.replayPath, replayId)
        && capture::FileIdOfPath(m_opts.logPath, logId) && replayId == logId) {
        m_bReplayRefused = true;
        return fail(m_opts.logPath + " is the capture to replay; the log would destroy it");
    }
    if (!m_opts.logPath.empty()) {
        // Seen from the computer's side: what the sensor sends is received.
        capture::CaptureHeader header;
        header.start = capture::NowIso8601();
        header.path = m_strSlavePath;
        header.settings = "256000,n,8,1";
        header.writer = "sensor-sim";
        if (!m_log.Open(m_opts.logPath, header))
            return fail(m_log.Error());
    }

    if (!m_opts.replayPath.empty()) {
        m_pReplay = std::make_unique<capture::CReplaySource>();
        std::string strReplayError;
        if (!m_pReplay->Open(m_opts.replayPath, m_opts.replaySpeed, &strReplayError)) {
            m_bReplayRefused = true;
            return fail(strReplayError);
        }
        m_strReplayWarning = m_pReplay->Warning();
        m_replayDurationUs = m_pReplay->DurationUs();
        m_replayPosUs = 0;
        m_bReplayEnded = false;
    }

    if (!m_opts.truthPath.empty()) {
        m_pTruth = std::fopen(m_opts.truthPath.c_str(), "w");
        if (!m_pTruth)
            return fail(ErrnoText(("cannot write " + m_opts.truthPath).c_str()));
        const std::string header = TruthCsvHeader();
        std::fputs(header.c_str(), m_pTruth);
    }

    if (!m_opts.linkPath.empty()) {
        struct stat st{};
        const char* link = m_opts.linkPath.c_str();
        if (::lstat(link, &st) == 0) {
            // Replace a link left by an earlier run, but never anything else.
            if (!S_ISLNK(st.st_mode))
                return fail(m_opts.linkPath + " exists and is not a symbolic link");
            if (::unlink(link) != 0)
                return fail(ErrnoText(("cannot replace " + m_opts.linkPath).c_str()));
        }
        if (::symlink(m_strSlavePath.c_str(), link) != 0)
            return fail(ErrnoText(("cannot create the link " + m_opts.linkPath).c_str()));
        m_bLinked = true;
    }

    m_bQuit = false;
    {
        std::lock_guard<std::mutex> lock(m_statsLock);
        m_stats = SensorSimStats{};
        m_received.clear();
    }
    RunContext ctx;
    ctx.opts = m_opts;
    ctx.hMaster = m_hMaster;
    ctx.hKeepSlave = m_hKeepSlave;
    ctx.hWake = m_hWake[0];
    ctx.pLog = m_log.IsOpen() ? &m_log : nullptr;
    ctx.pReplay = m_pReplay.get();
    ctx.pTruth = m_pTruth;
    ctx.t0 = Clock::now();
    try {
        m_thread = std::thread(&SensorSim::Run, this, std::move(ctx));
    } catch (const std::system_error& e) {
        return fail(std::string("cannot start the thread: ") + e.what());
    }
    return true;
}

void SensorSim::Stop()
{
    if (m_thread.joinable()) {
        m_bQuit = true;
        const uint8_t b = 1;
        if (::write(m_hWake[1], &b, 1) < 0) {
            // The pipe is never full while the thread runs; the poll timeout ends it anyway.
        }
        m_thread.join();
    }
    Cleanup();
}

void SensorSim::Cleanup()
{
    if (m_thread.joinable())
        return;  // the thread still uses all of it; Stop() comes back here after the join
    if (m_bLinked) {
        // Remove the link only while it still points at our terminal.
        char target[256] = {};
        const ssize_t n = ::readlink(m_opts.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && m_strSlavePath == std::string(target, static_cast<size_t>(n)))
            ::unlink(m_opts.linkPath.c_str());
        m_bLinked = false;
    }
    for (int* fd : {&m_hMaster, &m_hKeepSlave, &m_hWake[0], &m_hWake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_log.Close();
    m_pReplay.reset();
    if (m_pTruth)
        std::fclose(m_pTruth);
    m_pTruth = nullptr;
    m_bStreaming = false;
}

ReplayProgress SensorSim::Replay() const
{
    ReplayProgress p;
    p.positionUs = m_replayPosUs.load();
    p.durationUs = m_replayDurationUs.load();
    p.ended = m_bReplayEnded.load();
    return p;
}

ssize_t SensorSim::ReadMaster(int fd, uint8_t* buf, size_t n)
{
    return ::read(fd, buf, n);
}

void SensorSim::Log(const RunContext& ctx, capture::Direction dir, const uint8_t* data, size_t n)
{
    if (!ctx.pLog || n == 0)
        return;
    const int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - ctx.t0).count();
    ctx.pLog->Append(dir, us, data, n);
}

void SensorSim::PumpReplay(const RunContext& ctx, CSensorModel& model, Clock::time_point now, std::vector<uint8_t>& out)
{
    const int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(now - ctx.t0).count();
    if (!ctx.pReplay->Playing())
        ctx.pReplay->Start(nowUs);
    // Bytes nobody reads are lost, as with the signals; at the capture's end the sensor stops
    // as if told to, and acknowledges it.
    std::vector<uint8_t> lost;
    if (!ctx.pReplay->Pump(nowUs, out.size() > OUT_LIMIT ? lost : out))
        model.HandleCommand(SimCommand{proto::ADDR_SENSOR, proto::CODE_STOP, 0}, out);
}

void SensorSim::Run(RunContext ctx)
{
    const SensorSimOptions& opts = ctx.opts;
    CSensorModel model(opts.rate, opts.bpm, opts.seed);
    model.ApplySignalOptions(opts.pttMs, opts.hrvMs);
    model.ApplyHrvModulation(opts.hrvLfMs, opts.hrvHfMs);
    model.ApplyPulseOptions(opts.pulse);
    model.m_gen.m_bTruth = ctx.pTruth != nullptr;
    CCommandParser parser;
    CSimRandom faults(opts.seed ^ 0xFA017u);
    SensorSimStats stats;
    std::vector<uint8_t> out;

    bool streaming = false;
    Clock::time_point streamStart{};
    uint64_t streamSent = 0;   // frames due since streamStart that were dealt with
    Clock::time_point lastProgress = Clock::now();
    const uint64_t maxCatchUp = std::max<uint64_t>(1, static_cast<uint64_t>(opts.rate * MAX_CATCH_UP_S));
    bool masterOk = true;

    while (!m_bQuit.load()) {
        const Clock::time_point now = Clock::now();

        // Frames due by now, from elapsed time, so the average rate is exact whatever the tick.
        if (model.m_bStreaming) {
            if (!streaming) {
                streaming = true;
                streamStart = now;
                streamSent = 0;
            }
            if (ctx.pReplay)
                PumpReplay(ctx, model, now, out);  // instead of the signals
            const double elapsed = std::chrono::duration<double>(now - streamStart).count();
            const uint64_t due = ctx.pReplay ? streamSent : 1 + static_cast<uint64_t>(elapsed * opts.rate);
            if (due > streamSent + maxCatchUp)
                streamSent = due - maxCatchUp;
            for (; streamSent < due; ++streamSent) {
                uint8_t frame[proto::DATA_FRAME_LEN];
                model.NextDataFrame(frame);
                if (out.size() > OUT_LIMIT) {
                    ++stats.framesDropped;
                    continue;
                }
                if (faults.Chance(opts.garbage)) {
                    const int n = 1 + static_cast<int>(faults.Next() % 8);
                    for (int i = 0; i < n; ++i)
                        out.push_back(static_cast<uint8_t>(faults.Next()));
                    ++stats.garbageBursts;
                }
                if (faults.Chance(opts.corrupt)) {
                    frame[faults.Next() % proto::DATA_FRAME_LEN] ^= static_cast<uint8_t>(1 + faults.Next() % 255);
                    ++stats.corrupted;
                }
                out.insert(out.end(), frame, frame + proto::DATA_FRAME_LEN);
                ++stats.framesSent;
            }
            if (ctx.pTruth) {
                const std::vector<PulseTruth> truth = model.m_gen.TakeTruth();
                for (const PulseTruth& t : truth) {
                    const std::string line = TruthCsvLine(t);
                    std::fputs(line.c_str(), ctx.pTruth);
                }
                if (!truth.empty())
                    std::fflush(ctx.pTruth);
            }
        } else {
            streaming = false;
            if (ctx.pReplay)
                ctx.pReplay->Pause();
        }
        m_bStreaming = streaming;
        if (ctx.pReplay) {
            m_replayPosUs = ctx.pReplay->PositionUs(
                std::chrono::duration_cast<std::chrono::microseconds>(now - ctx.t0).count());
            m_bReplayEnded = ctx.pReplay->Ended();
        }

        while (!out.empty()) {
            const ssize_t n = ::write(ctx.hMaster, out.data(), out.size());
            if (n > 0) {
                Log(ctx, capture::Direction::Received, out.data(), static_cast<size_t>(n));
                out.erase(out.begin(), out.begin() + n);
                lastProgress = now;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                break;
            }
        }
        if (out.empty()) {
            lastProgress = now;
        } else if (now - lastProgress > STALL_FLUSH) {
            ::tcflush(ctx.hKeepSlave, TCIFLUSH);
            lastProgress = now;
        }
        if (ctx.pLog)
            ctx.pLog->FlushIfDue(std::chrono::duration_cast<std::chrono::microseconds>(now - ctx.t0).count());
        {
            std::lock_guard<std::mutex> lock(m_statsLock);
            m_stats = stats;
        }

        pollfd fds[2] = {{ctx.hWake, POLLIN, 0},
                         {ctx.hMaster, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0}};
        int timeout = -1;
        if (streaming && opts.frameWrites && !ctx.pReplay && out.empty()) {
            // Wake for the next frame's due time; the last part under a millisecond is slept,
            // as poll counts whole milliseconds, and the poll then only looks for commands.
            // Signals only: a replay counts no frames here, so its due time would stay in the
            // past and the loop would spin.
            const Clock::time_point next = streamStart + std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(static_cast<double>(streamSent) / opts.rate));
            const auto wait = std::chrono::duration_cast<milliseconds>(next - Clock::now());
            timeout = static_cast<int>(std::clamp<milliseconds::rep>(wait.count(), 0, TICK.count()));
            if (timeout == 0) {
                std::this_thread::sleep_until(next);
                if (m_bQuit.load())
                    break;
            }
        } else if (streaming) {
            timeout = static_cast<int>(TICK.count());
        } else if (!out.empty() || !masterOk) {
            timeout = 20;
        }
        const int ready = ::poll(fds, masterOk ? 2 : 1, timeout);
        if (ready < 0 && errno != EINTR)
            break;
        // A failed read costs the master one pause, not the rest of the session.
        masterOk = true;
        if (ready <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            uint8_t drain[16];
            while (::read(ctx.hWake, drain, sizeof drain) > 0) {}
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            uint8_t buf[512];
            for (;;) {
                const ssize_t n = ReadMaster(ctx.hMaster, buf, sizeof buf);
                if (n <= 0) {
                    // Nothing more for now; after a failure (a hang-up, say) pause before
                    // polling the master again.
                    if (n == 0 || (errno != EAGAIN && errno != EINTR))
                        masterOk = false;
                    break;
                }
                Log(ctx, capture::Direction::Sent, buf, static_cast<size_t>(n));
                {
                    std::lock_guard<std::mutex> lock(m_statsLock);
                    const size_t keep = std::min(static_cast<size_t>(n), RECEIVED_LIMIT - m_received.size());
                    m_received.insert(m_received.end(), buf, buf + keep);
                }
                for (const SimCommand& cmd : parser.Feed(buf, static_cast<size_t>(n))) {
                    ++stats.commands;
                    if (!opts.silent && !model.HandleCommand(cmd, out))
                        ++stats.rejected;
                }
                stats.skippedBytes = parser.m_qwSkipped;
            }
        }
    }
    if (ctx.pLog)
        ctx.pLog->Flush();
    if (ctx.pTruth)
        std::fflush(ctx.pTruth);
    std::lock_guard<std::mutex> lock(m_statsLock);
    m_stats = stats;
}
