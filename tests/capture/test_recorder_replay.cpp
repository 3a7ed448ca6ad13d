// The recorder as a watcher of the link on a fake clock, and the replay source on a fake clock:
// what they write and what they hand out, and when.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "capture_builder.h"
#include "capture_reader.h"
#include "platform.h"
#include "recorder.h"
#include "replay_source.h"

using namespace capture;

namespace {

std::string TempPath(const char* name)
{
    return ::testing::TempDir() + "rec-" + std::to_string(::getpid()) + "-" + name;
}

bool Exists(const std::string& p)
{
    struct stat st{};
    return ::stat(p.c_str(), &st) == 0;
}

struct Listener : IRecorderListener {
    void OnRecorderStateChanged() override { ++nChanges; }
    void OnRecorderFailed(const std::string& path, int err, bool creating) override
    {
        failures.push_back(path);
        nErr = err;
        bCreating = creating;
    }
    int nChanges = 0;
    std::vector<std::string> failures;
    int nErr = 0;
    bool bCreating = false;
};

std::vector<CaptureRecord> ReadBack(const std::string& path, CaptureHeader* pHeader = nullptr)
{
    std::vector<CaptureRecord> out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return out;
    CFileSource src(f);
    CCaptureReader reader(src);
    if (reader.ReadHeader()) {
        if (pHeader)
            *pHeader = reader.Header();
        CaptureRecord rec;
        while (reader.Next(rec) == ReadResult::Record)
            out.push_back(rec);
    }
    std::fclose(f);
    return out;
}

TEST(Recorder, WaitsForThePortRecordsBothWaysAndEndsWithThePort)
{
    FakePlatform clock;
    clock.m_dwTick = 5000;
    ScopedPlatform scoped(clock);
    Listener l;
    CCaptureRecorder rec(&l, "test");
    const std::string path = TempPath("a.vcap");
    const uint8_t start[4] = {0xF0, 0x2F, 0x01, 0x32};
    const uint8_t data[6] = {0xF0, 0x1F, 0x12, 0x32, 1, 2};

    // Bytes before the recording are not in it; the file exists at once, empty.
    rec.OnBytesReceived(data, 6);
    ASSERT_TRUE(rec.Start(path));
    EXPECT_EQ(rec.GetState(), CCaptureRecorder::State::Waiting);
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(rec.BytesWritten(), 0u);

    rec.OnPortOpened(3, "/dev/ttyUSB1", "256000,n,8,1");
    EXPECT_EQ(rec.GetState(), CCaptureRecorder::State::Recording);
    clock.Advance(7);
    clock.m_qwMicroExtra = 250;
    rec.OnBytesSent(start, 4);
    clock.Advance(1500);
    rec.OnBytesReceived(data, 6);
    EXPECT_EQ(rec.ElapsedUs(), 1507250);
    rec.OnPortClosed();
    EXPECT_EQ(rec.GetState(), CCaptureRecorder::State::Idle);
    rec.OnBytesReceived(data, 6);  // after the close: not recorded
    EXPECT_EQ(l.nChanges, 3);
    EXPECT_TRUE(l.failures.empty());

    CaptureHeader h;
    const auto recs = ReadBack(path, &h);
    EXPECT_EQ(h.port, 3);
    EXPECT_EQ(h.path, "/dev/ttyUSB1");
    EXPECT_EQ(h.settings, "256000,n,8,1");
    EXPECT_EQ(h.writer, "test");
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].dir, Direction::Sent);
    EXPECT_EQ(recs[0].timeUs, 7250);
    EXPECT_EQ(recs[0].bytes, Bytes(start, start + 4));
    EXPECT_EQ(recs[1].dir, Direction::Received);
    EXPECT_EQ(recs[1].timeUs, 1507250);

    // Started while the port is open: at once, with the port as last seen.
    rec.OnPortOpened(2, "/dev/ttyS1", "256000,n,8,1");
    ASSERT_TRUE(rec.Start(path));
    EXPECT_EQ(rec.GetState(), CCaptureRecorder::State::Recording);
    rec.OnBytesReceived(data, 6);
    EXPECT_GT(rec.BytesWritten(), 0u);
    ASSERT_TRUE(rec.Stop());
    EXPECT_EQ(ReadBack(path, &h).size(), 1u);
    EXPECT_EQ(h.port, 2);

    // A wait that is given up leaves no empty file behind.
    rec.OnPortClosed();
    ASSERT_TRUE(rec.Start(path));
    ASSERT_TRUE(rec.Stop());
    EXPECT_FALSE(Exists(path));
}

TEST(Recorder, QuietLineIsWrittenOutByTheTick)
{
    FakePlatform clock;
    ScopedPlatform scoped(clock);
    CCaptureRecorder rec;
    const std::string path = TempPath("tick.vcap");
    rec.OnPortOpened(1, "/dev/ttyS0", "256000,n,8,1");
    ASSERT_TRUE(rec.Start(path));
    struct stat st{};
    ::stat(path.c_str(), &st);
    const off_t header = st.st_size;
    const uint8_t b[3] = {1, 2, 3};
    rec.OnBytesReceived(b, 3);
    clock.Advance(400);
    rec.OnBytesReceived(b, 3);
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_size, header) << "within the second the bytes wait";
    rec.Tick();
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_size, static_cast<off_t>(rec.BytesWritten())) << "the timer writes them out";
    rec.Stop();
    std::remove(path.c_str());
}

TEST(Recorder, FilesThatCannotBeWrittenAreReported)
{
    FakePlatform clock;
    ScopedPlatform scoped(clock);
    Listener l;
    CCaptureRecorder rec(&l);
    int nErr = 0;
    const std::string missing = TempPath("no-dir") + "/x.vcap";
    EXPECT_FALSE(rec.Start(missing, &nErr));
    EXPECT_EQ(nErr, ENOENT);
    EXPECT_EQ(rec.GetState(), CCaptureRecorder::State::Idle);
    EXPECT_FALSE(rec.Start(missing, &nErr)) << "also with the port open";
    rec.OnPortOpened(1, "/dev/ttyS0", "256000,n,8,1");
    EXPECT_FALSE(rec.Start(missing, &nErr));
    EXPECT_EQ(nErr, ENOENT);

#ifdef __linux__
    // A full disk while recording: reported once, recording ends, the link carries on.
    rec.OnPortClosed();
    ASSERT_TRUE(rec.Start("/dev/full"));
    rec.OnPortOpened(1, "/dev/ttyS0", "256000,n,8,1");
    EXPECT_EQ(rec.GetState(), CCaptureRecorder::State::Idle);
    ASSERT_EQ(l.failures.size(), 1u);
    EXPECT_EQ(l.failures[0], "/dev/full");
    EXPECT_EQ(l.nErr, ENOSPC);
    EXPECT_TRUE(l.bCreating);
#endif
}

// A capture with replies and garbage ahead of its first data frame, whose first byte sits
// inside a read.
struct ReplayCapture {
    Bytes frames;  // the received bytes from the first data frame on
    std::string path = TempPath("replay.vcap");
    ReplayCapture()
    {
        CaptureBuilder b;
        b.Sent(0, Command(proto::CODE_INFO, proto::ADDR_SENSOR));
        b.Recv(1000, {0xF0, 0x1F, 0x05, 0x31, 0x56, 0x03, 0x10, 0x00, 0xF0, 0x1F});  // reply, garbage
        b.Sent(2000, Command(proto::CODE_START, proto::ADDR_SENSOR));
        uint16_t w[8];
        Bytes run;
        for (int k = 0; k < 10; ++k) {
            FrameWords(k, w);
            const Bytes f = DataFrame(w);
            run.insert(run.end(), f.begin(), f.end());
        }
        b.Recv(10000, Join(Bytes{0x00, 0x33}, Bytes(run.begin(), run.begin() + 30)));
        b.Recv(20000, Bytes(run.begin() + 30, run.begin() + 100));
        b.Sent(25000, Command(proto::CODE_GAIN, proto::ADDR_CH1, 2));
        b.Recv(1020000, Bytes(run.begin() + 100, run.end()));
        frames = run;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.Get().data()), static_cast<std::streamsize>(b.Size()));
    }
    ~ReplayCapture() { std::remove(path.c_str()); }
    static Bytes Join(Bytes a, const Bytes& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
};

TEST(ReplaySource, PlaysFromTheFirstDataFrameAtTheRecordedPace)
{
    ReplayCapture cap;
    CReplaySource replay;
    std::string error;
    ASSERT_TRUE(replay.Open(cap.path, 2.0, &error)) << error;
    Bytes out;
    replay.Start(500000);
    ASSERT_TRUE(replay.Pump(500000, out));
    EXPECT_EQ(out, Bytes(cap.frames.begin(), cap.frames.begin() + 30)) << "the first read, from the frame on";
    ASSERT_TRUE(replay.Pump(504999, out));
    EXPECT_EQ(out.size(), 30u) << "the next read is 10 ms later, 5 ms at double speed";
    ASSERT_TRUE(replay.Pump(505000, out));
    EXPECT_EQ(out.size(), 100u);

    // Stopped, the place is kept and the time stopped does not count.
    replay.Pause();
    EXPECT_TRUE(replay.Pump(9000000, out));
    EXPECT_EQ(out.size(), 100u);
    replay.Start(9000000);
    EXPECT_FALSE(replay.Pump(9000000, out)) << "the last read is due at once, and it is the end";
    EXPECT_EQ(out, cap.frames);
    EXPECT_FALSE(replay.Playing());

    // Started again after the end: from the first data frame once more.
    out.clear();
    replay.Start(0);
    ASSERT_TRUE(replay.Pump(0, out));
    EXPECT_EQ(out, Bytes(cap.frames.begin(), cap.frames.begin() + 30));
}

TEST(ReplaySource, RefusesWhatCannotBeReplayed)
{
    CReplaySource replay;
    std::string error;
    EXPECT_FALSE(replay.Open("/no/such/capture.vcap", 1, &error));
    EXPECT_NE(error.find("/no/such/capture.vcap"), std::string::npos);
    ReplayCapture cap;
    EXPECT_FALSE(CReplaySource().Open(cap.path, 25, &error));
    EXPECT_FALSE(CReplaySource().Open(cap.path, 0.05, &error));

    const std::string noData = TempPath("nodata.vcap");
    const Bytes b = CaptureBuilder().Recv(5, {0xF0, 0x1F, 0x01, 0x33}).Get();
    std::ofstream(noData, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    EXPECT_FALSE(CReplaySource().Open(noData, 1, &error));
    EXPECT_NE(error.find("no data frame"), std::string::npos) << error;

    const std::string bad = TempPath("bad.vcap");
    const Bytes c = CaptureBuilder().Recv(5, {1}).Recv(4, {2}).Get();
    std::ofstream(bad, std::ios::binary).write(reinterpret_cast<const char*>(c.data()), static_cast<std::streamsize>(c.size()));
    EXPECT_FALSE(CReplaySource().Open(bad, 1, &error));
    EXPECT_NE(error.find("backwards"), std::string::npos) << error;
    std::remove(noData.c_str());
    std::remove(bad.c_str());
}

} // namespace

namespace {

struct RescueListener : Listener {
    void OnRecordingRescued(const std::string& oldPath, const std::string& newPath, int err) override
    {
        rescued.push_back({oldPath, newPath});
        nRescueErr = err;
    }
    std::vector<std::pair<std::string, std::string>> rescued;
    int nRescueErr = 0;
};

#ifndef _WIN32  // Windows refuses to delete or move a file another program has open
TEST(Recorder, FileDeletedOrReplacedWhileRecordingIsSavedAgainAndRecordedOn)
{
    FakePlatform clock;
    ScopedPlatform scoped(clock);
    RescueListener l;
    CCaptureRecorder rec(&l);
    const std::string dir = TempPath("rescue");
    ::mkdir(dir.c_str(), 0700);
    const std::string path = dir + "/s.vcap", away = dir + "/moved.vcap", beside = dir + "/s-recovered.vcap";
    EXPECT_EQ(RescuePath(path, 1), beside);
    EXPECT_EQ(RescuePath(dir + "/plain", 2), dir + "/plain-recovered-2");
    const uint8_t b[4][2] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}};
    rec.OnPortOpened(1, "/dev/ttyS0", "256000,n,8,1");
    ASSERT_TRUE(rec.Start(path));
    rec.OnBytesReceived(b[0], 2);
    rec.Tick();
    EXPECT_TRUE(l.rescued.empty()) << "the file is where it was";

    // Deleted: saved again at its path, and recorded on there.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    clock.Advance(1000);
    rec.OnBytesReceived(b[1], 2);
    rec.Tick();
    ASSERT_EQ(l.rescued.size(), 1u);
    EXPECT_EQ(l.rescued[0], std::make_pair(path, path));
    rec.OnBytesReceived(b[2], 2);

    // Moved away and another file put in its place: that file is left alone, the recording
    // goes beside it.
    ASSERT_EQ(::rename(path.c_str(), away.c_str()), 0);
    std::ofstream(path) << "other";
    rec.Tick();
    ASSERT_EQ(l.rescued.size(), 2u);
    EXPECT_EQ(l.rescued[1], std::make_pair(path, beside));
    EXPECT_EQ(rec.Path(), beside);
    rec.OnBytesReceived(b[3], 2);
    ASSERT_TRUE(rec.Stop());
    const auto recs = ReadBack(beside);
    ASSERT_EQ(recs.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(recs[i].bytes, Bytes(b[i], b[i] + 2)) << i;
    std::ifstream other(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(other), {}), "other");

    // Its folder gone: told once, tried again every tick until the folder is back.
    ASSERT_TRUE(rec.Start(path));
    rec.OnBytesReceived(b[0], 2);
    for (const std::string& p : {path, away, beside})
        ::unlink(p.c_str());
    ASSERT_EQ(::rmdir(dir.c_str()), 0);
    rec.Tick();
    rec.Tick();
    ASSERT_EQ(l.rescued.size(), 3u);
    EXPECT_EQ(l.rescued[2].second, "");
    EXPECT_EQ(l.nRescueErr, ENOENT);
    ::mkdir(dir.c_str(), 0700);
    rec.Tick();
    ASSERT_EQ(l.rescued.size(), 4u);
    EXPECT_EQ(l.rescued[3].second, path);
    ASSERT_TRUE(rec.Stop());
    EXPECT_EQ(ReadBack(path).size(), 1u);
    ::unlink(path.c_str());
    ::rmdir(dir.c_str());
}
#endif

} // namespace
