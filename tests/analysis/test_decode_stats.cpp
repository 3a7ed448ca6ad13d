// sensor-decode --stats on a capture of the simulated sensor (its model's frames in 5 ms
// reads, written by the capture writer as sensor-sim --log does) and on a plain byte stream.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include "capture_writer.h"
#include "decode_tool.h"
#include "sensor_model.h"
#include "sim_capture.h"

namespace {

using Figures = std::map<std::string, std::string>;

struct Session {
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> reads;  // time, bytes
    std::vector<uint8_t> all;
};

// seconds of the simulated sensor at rate and bpm, every 20th frame with a flipped byte.
Session Simulate(double rate, double bpm, const double pttMs[3], double seconds)
{
    CSensorModel model(rate, bpm, 4);
    model.ApplySignalOptions(pttMs, -1);
    CSimRandom faults(99);
    Session s;
    uint64_t frames = 0;
    for (int64_t t = 5000; t <= static_cast<int64_t>(seconds * 1e6); t += 5000) {
        std::vector<uint8_t> bytes;
        for (; frames < static_cast<uint64_t>(static_cast<double>(t) / 1e6 * rate); ++frames) {
            uint8_t f[proto::DATA_FRAME_LEN];
            model.NextDataFrame(f);
            if (frames % 20 == 7)
                f[faults.Next() % proto::DATA_FRAME_LEN] ^= 0x5A;
            bytes.insert(bytes.end(), f, f + sizeof f);
        }
        s.all.insert(s.all.end(), bytes.begin(), bytes.end());
        s.reads.emplace_back(t, std::move(bytes));
    }
    return s;
}

Figures Parse(const std::string& text)
{
    Figures f;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            f[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return f;
}

double Number(const Figures& f, const std::string& name)
{
    const auto it = f.find(name);
    if (it == f.end() || it->second == "unknown")
        return -1;
    return std::stod(it->second);
}

int Decode(const std::vector<std::string>& args, const std::vector<uint8_t>& stdinBytes, std::string& out, std::string& err)
{
    CMemorySource in(stdinBytes);
    std::ostringstream o, e;
    const int rc = RunSensorDecode(args, in, o, e);
    out = o.str();
    err = e.str();
    return rc;
}

const double PTT[3] = {130, 150, 190};

} // namespace

TEST(DecodeStats, CaptureOfTheSimulatedSensor)
{
    const Session s = Simulate(500, 84, PTT, 20);
    const std::string path = ::testing::TempDir() + "stats-" + std::to_string(::getpid()) + ".vcap";
    {
        capture::CCaptureWriter writer;
        capture::CaptureHeader header;
        header.start = "2025-03-01T09:30:00.000+01:00";
        ASSERT_TRUE(writer.Open(path, header)) << writer.Error();
        const uint8_t start[4] = {0xF0, 0x2F, 0x01, 0x32};
        writer.Append(capture::Direction::Sent, 0, start, sizeof start);
        for (const auto& r : s.reads)
            writer.Append(capture::Direction::Received, r.first, r.second.data(), r.second.size());
        ASSERT_TRUE(writer.Close());
    }
    std::string out, err;
    ASSERT_EQ(Decode({"--stats", path}, {}, out, err), 0) << err;
    std::remove(path.c_str());
    const Figures f = Parse(out);
    // Nothing but the figures: every line a name=value.
    EXPECT_EQ(static_cast<size_t>(std::count(out.begin(), out.end(), '\n')), f.size()) << out;
    // 500 frames had one of their 21 bytes flipped: 17 in 21 fail their check, 3 in 21 lose
    // their header (and are passed over), the length byte is read by nobody.
    const double frames = Number(f, "frames");
    EXPECT_NEAR(Number(f, "badcheck"), 500 * 17 / 21.0, 25);
    EXPECT_NEAR(10000 - frames, 500 * 3 / 21.0, 20);
    EXPECT_NEAR(Number(f, "skipped_bytes") / 21, 10000 - frames, 3);
    // The frames lost with their header still took their place in time.
    EXPECT_NEAR(Number(f, "frame_rate_hz"), 500, 1);
    EXPECT_NEAR(Number(f, "heart_rate_bpm"), 84, 2);
    for (int c = 1; c <= 3; ++c) {
        EXPECT_NEAR(Number(f, "pulse_rate_bpm_" + std::to_string(c)), 84, 2) << c;
        EXPECT_NEAR(Number(f, "ptt_ms_" + std::to_string(c)), PTT[c - 1], 10) << c;
    }
}

TEST(DecodeStats, PlainStreamNeedsTheRateAndShortOnesAreUnknown)
{
    const Session s = Simulate(1219, 150, PTT, 15);
    std::string out, err;
    EXPECT_EQ(Decode({"--stats"}, s.all, out, err), 2);
    EXPECT_NE(err.find("--rate"), std::string::npos) << err;

    ASSERT_EQ(Decode({"--stats", "--rate", "1219"}, s.all, out, err), 0) << err;
    Figures f = Parse(out);
    EXPECT_EQ(f.at("frame_rate_hz"), "1219.0");
    EXPECT_NEAR(Number(f, "heart_rate_bpm"), 150, 2);
    EXPECT_NEAR(Number(f, "ptt_ms_3"), PTT[2], 10);

    // A second holds too few beats: every signal figure unknown.
    const std::vector<uint8_t> shortStream(s.all.begin(), s.all.begin() + 1219 * 21);
    ASSERT_EQ(Decode({"--stats", "--rate", "1219"}, shortStream, out, err), 0) << err;
    f = Parse(out);
    EXPECT_NEAR(Number(f, "frames") + Number(f, "skipped_bytes") / 21, 1219, 2);
    for (const char* name : {"heart_rate_bpm", "pulse_rate_bpm_1", "pulse_rate_bpm_2", "pulse_rate_bpm_3", "ptt_ms_1",
                             "ptt_ms_2", "ptt_ms_3"})
        EXPECT_EQ(f.at(name), "unknown") << name;
}

// Garbage on the line makes no phantom samples: a plain stream at 500 frames a second, 88 beats
// a minute, with 1 to 30 random bytes ahead of one frame in twenty, every frame decoded.
// Counting every 21 bytes passed over as a lost frame read 85 a minute and transit times about
// 5 ms long.
TEST(DecodeStats, GarbageDoesNotStretchTheTimeBase)
{
    CSensorModel model(500, 88, 6);
    model.ApplySignalOptions(PTT, -1);
    CSimRandom rnd(13);
    std::vector<uint8_t> stream;
    for (int i = 0; i < 500 * 30; ++i) {
        if (rnd.Next() % 20 == 0)
            for (int n = 1 + static_cast<int>(rnd.Next() % 30); n > 0; --n)
                stream.push_back(static_cast<uint8_t>(rnd.Next() % 0xF0));  // no false frame start
        uint8_t f[proto::DATA_FRAME_LEN];
        model.NextDataFrame(f);
        stream.insert(stream.end(), f, f + sizeof f);
    }
    std::string out, err;
    ASSERT_EQ(Decode({"--stats", "--rate", "500"}, stream, out, err), 0) << err;
    const Figures f = Parse(out);
    EXPECT_EQ(Number(f, "frames"), 500 * 30);
    EXPECT_GT(Number(f, "skipped_bytes"), 21 * 100);
    EXPECT_NEAR(Number(f, "heart_rate_bpm"), 88, 1);
    for (int c = 1; c <= 3; ++c)
        EXPECT_NEAR(Number(f, "ptt_ms_" + std::to_string(c)), PTT[c - 1], 3) << c;
}

// The simulator's known heart-rate modulation read back through a capture: 40 ms at 0.1 Hz and
// 30 ms at 0.25 Hz are 800 and 450 ms^2 in LF and HF, at any rate and through line faults; a
// session too short for the band powers (or for any figure) says unknown.
TEST(DecodeStats, HeartRateVariabilityOfTheSimulatedSensor)
{
    struct Case {
        double rate, bpm, seconds, faults;
        bool bTimeDomain, bBands;
    } cases[] = {
        {250, 60, 300, 0.05, true, true},
        {1219, 75, 150, 0, true, true},
        {500, 72, 90, 0, true, false},
        {500, 72, 40, 0, false, false},
    };
    const std::string path = ::testing::TempDir() + "hrv-" + std::to_string(::getpid()) + ".vcap";
    for (const Case& c : cases) {
        const std::string name = std::to_string(c.rate) + "/s, " + std::to_string(c.seconds) + " s";
        SimCaptureOptions opts;
        opts.rate = c.rate;
        opts.bpm = c.bpm;
        opts.seconds = c.seconds;
        opts.corrupt = opts.garbage = c.faults;
        opts.hrvLfMs = 40;
        opts.hrvHfMs = 30;
        std::string error, out, err;
        ASSERT_TRUE(WriteSimulatedCapture(path, opts, &error)) << error;
        ASSERT_EQ(Decode({"--stats", path}, {}, out, err), 0) << err;
        const Figures f = Parse(out);
        EXPECT_NEAR(Number(f, "nn_count"), c.seconds * c.bpm / 60, c.seconds * c.bpm / 60 * 0.05 + 2) << name;
        if (c.bTimeDomain) {
            EXPECT_NEAR(Number(f, "sdnn_ms"), std::sqrt((40 * 40 + 30 * 30) / 2.0), 2) << name;
            EXPECT_GT(Number(f, "rmssd_ms"), 0) << name;
        } else {
            for (const char* figure : {"sdnn_ms", "rmssd_ms", "pnn50_pct"})
                EXPECT_EQ(f.at(figure), "unknown") << name << ' ' << figure;
        }
        if (c.bBands) {
            EXPECT_NEAR(Number(f, "lf_ms2"), 800, 40) << name;
            EXPECT_NEAR(Number(f, "hf_ms2"), 450, 25) << name;
            EXPECT_NEAR(Number(f, "lf_hf"), 800.0 / 450, 0.12) << name;
        } else {
            for (const char* figure : {"lf_ms2", "hf_ms2", "lf_hf"})
                EXPECT_EQ(f.at(figure), "unknown") << name << ' ' << figure;
        }
    }
    std::remove(path.c_str());
}
