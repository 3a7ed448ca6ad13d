// The simulated sensor on its pseudo-terminal, seen from the console's end of the line: the
// test opens the slave path as the console would and talks bytes. Rates are checked loosely.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "capture/capture_builder.h"
#include "sensor_model.h"
#include "capture_reader.h"
#include "sensor_sim.h"
#include "sim_decode.h"

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

// The console's end of the line, without Qt: a raw, non-blocking terminal.
class ConsoleEnd {
public:
    explicit ConsoleEnd(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) return;
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~ConsoleEnd() { if (m_fd >= 0) ::close(m_fd); }
    bool Ok() const { return m_fd >= 0; }

    void Send(const Bytes& b) { ASSERT_EQ(::write(m_fd, b.data(), b.size()), static_cast<ssize_t>(b.size())); }

    // Reads for ms milliseconds, or until stop(bytes so far) holds.
    template <class Stop>
    Bytes ReadUntil(int ms, Stop stop)
    {
        Bytes out;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end && !stop(out)) {
            pollfd p{m_fd, POLLIN, 0};
            ::poll(&p, 1, 5);
            uint8_t buf[4096];
            ssize_t n;
            while ((n = ::read(m_fd, buf, sizeof buf)) > 0)
                out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
    Bytes ReadFor(int ms) { return ReadUntil(ms, [](const Bytes&) { return false; }); }

private:
    int m_fd = -1;
};

const Bytes START = {0xF0, 0x2F, 0x01, 0x32};
const Bytes STOP = {0xF0, 0x2F, 0x01, 0x33};
const Bytes INFO = {0xF0, 0x2F, 0x01, 0x31};
const Bytes DATE = {0xF0, 0x2F, 0x01, 0x3A};

bool EndsWith(const Bytes& b, const Bytes& tail)
{
    return b.size() >= tail.size() && std::equal(tail.begin(), tail.end(), b.end() - tail.size());
}

std::string TempPath(const char* name)
{
    return (std::string("/tmp/veltrin-simtest-") + std::to_string(::getpid()) + "-") + name;
}

} // namespace

TEST(SensorSimPty, StreamsAtAboutTheRateAnswersAndStops)
{
    SensorSimOptions opts;
    opts.rate = 500;
    SensorSim sim(opts);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    ConsoleEnd con(sim.SlavePath());
    ASSERT_TRUE(con.Ok());

    // Nothing flows before the start command.
    EXPECT_TRUE(con.ReadFor(100).empty());

    con.Send(START);
    const auto t0 = Clock::now();
    DecodedStream console;
    console.Feed(con.ReadFor(1000));
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_TRUE(sim.Streaming());
    EXPECT_GT(console.blocks.size(), 0.3 * opts.rate * secs);
    EXPECT_LT(console.blocks.size(), 3.0 * opts.rate * secs);
    EXPECT_EQ(console.stats.badCheck, 0u);
    EXPECT_EQ(console.stats.skipped, 0u);

    // A gain, the information and date requests are answered in the middle of the stream.
    con.Send({0xF0, 0x21, 0x02, 0x65, 0x05});
    con.Send(INFO);
    con.Send(DATE);
    console.Feed(con.ReadFor(500));
    ASSERT_EQ(console.infos.size(), 2u);
    EXPECT_EQ(console.infos[0], (std::array<uint8_t, 4>{0x21, 0x65, 0x05, 0x00}));
    EXPECT_EQ(console.infos[1][0], CSensorModel::INFO_ID);
    EXPECT_EQ(console.dates.size(), 1u);

    // Stop: acknowledged, and nothing follows the acknowledgement.
    con.Send(STOP);
    console.Feed(con.ReadUntil(2000, [](const Bytes& b) { return EndsWith(b, {0xF0, 0x1F, 0x01, 0x33}); }));
    EXPECT_EQ(console.stopAcks, 1);
    console.Feed(con.ReadFor(300));
    EXPECT_EQ(console.dataAfterStop, 0);
    EXPECT_FALSE(sim.Streaming());
    EXPECT_EQ(sim.Stats().commands, 5u);
}

TEST(SensorSimPty, SilentSensorAnswersNothingAndNeverStreams)
{
    SensorSimOptions opts;
    opts.silent = true;
    SensorSim sim(opts);
    ASSERT_TRUE(sim.Start());
    ConsoleEnd con(sim.SlavePath());
    ASSERT_TRUE(con.Ok());
    con.Send(START);
    con.Send(INFO);
    con.Send(STOP);
    EXPECT_TRUE(con.ReadFor(500).empty());
    EXPECT_EQ(sim.Stats().commands, 3u);   // it did hear them
}

TEST(SensorSimPty, CorruptionAndGarbageAreSurvivedByTheDecoder)
{
    SensorSimOptions opts;
    opts.rate = 1000;
    opts.corrupt = 0.2;
    opts.garbage = 0.2;
    opts.seed = 4;
    SensorSim sim(opts);
    ASSERT_TRUE(sim.Start());
    ConsoleEnd con(sim.SlavePath());
    ASSERT_TRUE(con.Ok());
    con.Send(START);
    DecodedStream console;
    console.Feed(con.ReadFor(800));
    con.Send(STOP);
    console.Feed(con.ReadUntil(2000, [](const Bytes& b) { return EndsWith(b, {0xF0, 0x1F, 0x01, 0x33}); }));
    const SensorSimStats st = sim.Stats();
    EXPECT_GT(st.corrupted, 0u);
    EXPECT_GT(st.garbageBursts, 0u);
    EXPECT_GT(console.stats.badCheck, 0u);
    EXPECT_GT(console.stats.skipped, 0u);
    // Most frames still arrive whole, and the stop acknowledgement is found after it all.
    EXPECT_GT(console.blocks.size(), st.framesSent / 2);
    EXPECT_EQ(console.stopAcks, 1);
}

// A console that stops reading (port closed while streaming) must not wedge the sensor.
TEST(SensorSimPty, KeepsAnsweringWhenNobodyReadsTheStream)
{
    SensorSimOptions opts;
    opts.rate = SIM_MAX_RATE;
    SensorSim sim(opts);
    ASSERT_TRUE(sim.Start());
    ConsoleEnd con(sim.SlavePath());
    ASSERT_TRUE(con.Ok());
    con.Send(START);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_GT(sim.Stats().framesDropped, 0u);
    con.Send(STOP);
    DecodedStream console;
    console.Feed(con.ReadUntil(3000, [](const Bytes& b) { return EndsWith(b, {0xF0, 0x1F, 0x01, 0x33}); }));
    EXPECT_EQ(console.stopAcks, 1);
}

TEST(SensorSimPty, LinkIsMadeReplacedAndRemovedButNeverClobbersAFile)
{
    const std::string link = TempPath("link");
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink("/nonexistent", link.c_str()), 0);   // left by an earlier run
    {
        SensorSimOptions opts;
        opts.linkPath = link;
        SensorSim sim(opts);
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        char target[256] = {};
        ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(sim.SlavePath(), target);
        ConsoleEnd con(link);
        ASSERT_TRUE(con.Ok());
        con.Send(INFO);
        EXPECT_EQ(con.ReadUntil(2000, [](const Bytes& b) { return b.size() >= 8; }).size(), 8u);
        sim.Stop();
        struct stat st{};
        EXPECT_NE(::lstat(link.c_str(), &st), 0);
    }

    const std::string file = TempPath("file");
    std::ofstream(file) << "keep me";
    SensorSimOptions opts;
    opts.linkPath = file;
    SensorSim sim(opts);
    std::string error;
    EXPECT_FALSE(sim.Start(&error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    EXPECT_FALSE(sim.Running());
    std::string content;
    std::getline(std::ifstream(file), content);
    EXPECT_EQ(content, "keep me");
    ::unlink(file.c_str());
}

TEST(SensorSimPty, LogHasEveryChunkBothWaysWithATimestamp)
{
    // The log is a capture, seen from the computer's side: the command sent, the reply received.
    const std::string log = TempPath("log");
    {
        SensorSimOptions opts;
        opts.logPath = log;
        SensorSim sim(opts);
        ASSERT_TRUE(sim.Start());
        ConsoleEnd con(sim.SlavePath());
        ASSERT_TRUE(con.Ok());
        con.Send(INFO);
        con.ReadUntil(2000, [](const Bytes& b) { return b.size() >= 8; });
        sim.Stop();
    }
    std::FILE* f = std::fopen(log.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    CFileSource source(f);
    capture::CCaptureReader reader(source);
    ASSERT_TRUE(reader.ReadHeader()) << reader.Error();
    EXPECT_EQ(reader.Header().writer, "sensor-sim");
    capture::CaptureRecord a, b;
    ASSERT_EQ(reader.Next(a), capture::ReadResult::Record);
    ASSERT_EQ(reader.Next(b), capture::ReadResult::Record);
    EXPECT_EQ(reader.Next(b), capture::ReadResult::End);
    std::fclose(f);
    EXPECT_EQ(a.dir, capture::Direction::Sent);
    EXPECT_EQ(a.bytes, (Bytes{0xF0, 0x2F, 0x01, 0x31}));
    EXPECT_EQ(b.dir, capture::Direction::Received);
    EXPECT_EQ(b.bytes, (Bytes{0xF0, 0x1F, 0x05, 0x31, 0x56, 0x03, 0x10, 0x00}));
    EXPECT_GE(b.timeUs, a.timeUs);
    ::unlink(log.c_str());
}

Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(SensorSimPty, ReplayAnswersStartAndStopAndPlaysTheCaptureToItsEnd)
{
    // 400 frames in reads of 10 frames, 20 ms apart, played at one and a half times the pace.
    Bytes frames;
    capture::CaptureHeader h;
    std::vector<uint8_t> file = capture::EncodeHeader(h);
    for (int r = 0; r < 40; ++r) {
        Bytes read;
        for (int k = 0; k < 10; ++k) {
            uint16_t w[8];
            for (int c = 0; c < 8; ++c)
                w[c] = static_cast<uint16_t>(r * 10 + k + c * 1000);
            uint8_t f[proto::DATA_FRAME_LEN] = {0xF0, 0x1F, 0x12, 0x32};
            proto::BuildSampleBlock(w, f + proto::HEADER_LEN);
            read.insert(read.end(), f, f + sizeof f);
        }
        uint8_t head[capture::RECORD_HEADER_LEN];
        capture::EncodeRecordHeader(capture::Direction::Received, 100000 + r * 20000, read.size(), head);
        file.insert(file.end(), head, head + sizeof head);
        file.insert(file.end(), read.begin(), read.end());
        frames.insert(frames.end(), read.begin(), read.end());
    }
    const std::string path = TempPath("replay.vcap");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));

    SensorSimOptions opts;
    opts.replayPath = path;
    opts.replaySpeed = 1.5;
    SensorSim sim(opts);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    ConsoleEnd con(sim.SlavePath());
    ASSERT_TRUE(con.Ok());
    EXPECT_TRUE(con.ReadFor(100).empty()) << "nothing before the start command";

    // Start, then stop part-way: the stop is acknowledged and the stream holds.
    con.Send(START);
    Bytes got = con.ReadUntil(5000, [](const Bytes& b) { return b.size() >= 2100; });
    con.Send(STOP);
    got = Concat(got, con.ReadUntil(5000, [](const Bytes& b) {
        return b.size() >= 4 && Bytes(b.end() - 4, b.end()) == Bytes{0xF0, 0x1F, 0x01, 0x33};
    }));
    ASSERT_GE(got.size(), 4u);
    got.resize(got.size() - 4);
    EXPECT_TRUE(con.ReadFor(100).empty());
    ASSERT_LT(got.size(), frames.size());
    EXPECT_EQ(got, Bytes(frames.begin(), frames.begin() + static_cast<long>(got.size())));

    // Start again: it goes on where it stopped, and at the end it stops by itself with an
    // acknowledgement.
    con.Send(START);
    const Bytes rest = con.ReadUntil(10000, [&](const Bytes& b) { return got.size() + b.size() >= frames.size() + 4; });
    EXPECT_EQ(Concat(got, rest), Concat(frames, {0xF0, 0x1F, 0x01, 0x33}));
    EXPECT_TRUE(con.ReadFor(100).empty());
    EXPECT_FALSE(sim.Streaming());
    sim.Stop();
    ::unlink(path.c_str());
}

TEST(SensorSimPty, ReplayOfABadCaptureIsRefusedAtTheStart)
{
    SensorSimOptions opts;
    opts.replayPath = TempPath("missing.vcap");
    SensorSim sim(opts);
    std::string error;
    EXPECT_FALSE(sim.Start(&error));
    EXPECT_NE(error.find(opts.replayPath), std::string::npos) << error;
    EXPECT_FALSE(sim.Running());
}

TEST(SensorSimPty, ReplayIgnoresFrameWritesAndPlaysTheCaptureToItsEnd)
{
    // Frame-by-frame writing paces the signals only; a replay with it set still plays every
    // byte of the capture at the capture's pace and stops by itself at the end.
    CaptureBuilder capture;
    Bytes frames;
    for (int r = 0; r < 10; ++r) {
        Bytes read;
        for (int k = 0; k < 5; ++k)
            read = Concat(read, DataFrame(static_cast<uint16_t>(r * 5 + k), true));
        capture.Recv(100000 + r * 10000, read);
        frames = Concat(frames, read);
    }
    const std::string path = TempPath("replay-fw.vcap");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(capture.Get().data()), static_cast<std::streamsize>(capture.Size()));

    SensorSimOptions opts;
    opts.replayPath = path;
    opts.frameWrites = true;
    SensorSim sim(opts);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    ConsoleEnd con(sim.SlavePath());
    ASSERT_TRUE(con.Ok());
    con.Send(START);
    const Bytes got = con.ReadUntil(5000, [&](const Bytes& b) { return b.size() >= frames.size() + 4; });
    EXPECT_EQ(got, Concat(frames, {0xF0, 0x1F, 0x01, 0x33}));
    sim.Stop();
    ::unlink(path.c_str());
}
