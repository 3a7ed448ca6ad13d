// The simulated sensor without its terminal: command parsing, replies, the effect of settings,
// and the shape of the signals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numeric>

#include "platform.h"
#include "sensor_model.h"
#include "sim_decode.h"

using namespace proto;
using Bytes = std::vector<uint8_t>;
using Words = std::array<uint16_t, BLOCK_WORDS>;

namespace {

std::vector<Words> Generate(CSensorModel& m, int n)
{
    std::vector<Words> out(static_cast<size_t>(n));
    for (auto& w : out) {
        uint8_t frame[DATA_FRAME_LEN];
        m.NextDataFrame(frame);
        for (int k = 0; k < BLOCK_WORDS; ++k)
            w[k] = BlockWordAt(frame + HEADER_LEN, k);
    }
    return out;
}

int MaxOf(const std::vector<Words>& s, int word)
{
    int m = 0;
    for (const auto& w : s) m = std::max<int>(m, w[word]);
    return m;
}

int MinOf(const std::vector<Words>& s, int word)
{
    int m = 65535;
    for (const auto& w : s) m = std::min<int>(m, w[word]);
    return m;
}

Bytes Reply(CSensorModel& m, uint8_t addr, uint8_t code, uint8_t value = 0)
{
    Bytes out;
    m.HandleCommand(SimCommand{addr, code, value}, out);
    return out;
}

} // namespace

TEST(SimCommandParser, FindsCommandsAmongGarbageInAnyPieces)
{
    struct Case {
        Bytes input;
        std::vector<std::array<uint8_t, 3>> cmds;   // address, code, value
        uint64_t skipped;
    };
    const Case cases[] = {
        {{0xF0, 0x2F, 0x01, 0x32}, {{0x2F, 0x32, 0}}, 0},
        {{0xF0, 0x21, 0x02, 0x65, 0x05}, {{0x21, 0x65, 5}}, 0},
        {{0x00, 0x11, 0xF0, 0x2F, 0x01, 0x33}, {{0x2F, 0x33, 0}}, 2},
        {{0xF0, 0xF0, 0x2F, 0x01, 0x32}, {{0x2F, 0x32, 0}}, 1},
        // A gain without its value byte is no command; the calibrate after it is found.
        {{0xF0, 0x21, 0x01, 0x65, 0xF0, 0x22, 0x02, 0x35, 0x64}, {{0x22, 0x35, 100}}, 4},
        // The sensor's own frames, an unknown address and a bad length byte are passed over.
        {{0xF0, 0x1F, 0x01, 0x32, 0xF0, 0x30, 0x01, 0x32, 0xF0, 0x2F, 0x03, 0x32}, {}, 12},
        {{0xF0, 0x2F, 0x01, 0x99, 0xF0, 0x23, 0x01, 0x34}, {{0x23, 0x34, 0}}, 4},
        // A value byte of F0 belongs to its frame and starts nothing.
        {{0xF0, 0x21, 0x02, 0x35, 0xF0, 0xF0, 0x2F, 0x01, 0x31}, {{0x21, 0x35, 0xF0}, {0x2F, 0x31, 0}}, 0},
        // An incomplete frame waits for the rest.
        {{0xF0, 0x2F, 0x01}, {}, 0},
    };
    for (const Case& c : cases) {
        for (bool bytewise : {false, true}) {
            CCommandParser parser;
            std::vector<SimCommand> got;
            if (bytewise) {
                for (uint8_t b : c.input)
                    for (const SimCommand& cmd : parser.Feed(&b, 1)) got.push_back(cmd);
            } else {
                got = parser.Feed(c.input.data(), c.input.size());
            }
            ASSERT_EQ(got.size(), c.cmds.size()) << "case starting " << int(c.input[1]) << " bytewise " << bytewise;
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].address, c.cmds[i][0]);
                EXPECT_EQ(got[i].code, c.cmds[i][1]);
                EXPECT_EQ(got[i].value, c.cmds[i][2]);
            }
            EXPECT_EQ(parser.m_qwSkipped, c.skipped);
        }
    }
}

TEST(SimSensorModel, AnswersEachCommandAndIgnoresWhatItCannotTake)
{
    struct Case {
        uint8_t addr, code, value;
        Bytes reply;
    };
    const Case cases[] = {
        {0x2F, 0x33, 0, {0xF0, 0x1F, 0x01, 0x33}},
        {0x21, 0x65, 5, {0xF0, 0x1F, 0x05, 0x31, 0x21, 0x65, 0x05, 0x00}},
        {0x2A, 0x65, 1, {0xF0, 0x1F, 0x05, 0x31, 0x2A, 0x65, 0x01, 0x00}},
        {0x2B, 0x65, 8, {0xF0, 0x1F, 0x05, 0x31, 0x2B, 0x65, 0x08, 0x00}},
        {0x23, 0x34, 0, {0xF0, 0x1F, 0x05, 0x31, 0x23, 0x34, 0x00, 0x00}},
        {0x22, 0x35, 150, {0xF0, 0x1F, 0x05, 0x31, 0x22, 0x35, 0x96, 0x00}},
        {0x2F, 0x31, 0, {0xF0, 0x1F, 0x05, 0x31, 0x56, 0x03, 0x10, 0x00}},
        // Out of range or to the wrong unit: no reply, so the console's re-send shows it.
        {0x21, 0x65, 6, {}}, {0x2A, 0x65, 0, {}}, {0x2B, 0x65, 9, {}},
        {0x2F, 0x34, 0, {}}, {0x2A, 0x35, 100, {}}, {0x22, 0x35, 0, {}}, {0x21, 0x32, 0, {}},
    };
    DecodedStream console;
    for (const Case& c : cases) {
        CSensorModel m(500, 72, 1);
        const Bytes reply = Reply(m, c.addr, c.code, c.value);
        EXPECT_EQ(reply, c.reply) << std::hex << int(c.addr) << " " << int(c.code) << " " << int(c.value);
        EXPECT_EQ(m.m_qwRejected, c.reply.empty() ? 1u : 0u);
        console.Feed(reply);
    }
    // Every reply is a frame the console recognises whole.
    EXPECT_EQ(console.stopAcks, 1);
    EXPECT_EQ(console.infos.size(), 6u);
    EXPECT_EQ(console.stats.skipped, 0u);
}

TEST(SimSensorModel, StartStreamsStopEndsAndDateIsToday)
{
    CSensorModel m(500, 72, 1);
    EXPECT_TRUE(Reply(m, ADDR_SENSOR, CODE_START).empty());
    EXPECT_TRUE(m.m_bStreaming);
    Reply(m, ADDR_SENSOR, CODE_STOP);
    EXPECT_FALSE(m.m_bStreaming);

    DecodedStream console;
    console.Feed(Reply(m, ADDR_SENSOR, CODE_DATE));
    ASSERT_EQ(console.dates.size(), 1u);
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ToLocalTime(now, tm);
    char today[16];
    std::strftime(today, sizeof today, "%Y-%m-%d", &tm);
    EXPECT_EQ(FormatDeviceDate(console.dates[0].data()), today);
}

TEST(SimSensorModel, DataFramesPassTheConsolesDecoder)
{
    CSensorModel m(500, 72, 7);
    Bytes stream;
    for (int i = 0; i < 3000; ++i) {
        uint8_t frame[DATA_FRAME_LEN];
        m.NextDataFrame(frame);
        stream.insert(stream.end(), frame, frame + DATA_FRAME_LEN);
    }
    DecodedStream console;
    console.Feed(stream);
    EXPECT_EQ(console.blocks.size(), 3000u);
    EXPECT_EQ(console.stats.badCheck, 0u);
    EXPECT_EQ(console.stats.skipped, 0u);
}

// Two sensors with one seed give identical streams, so a setting on one shows as the exact
// difference from the other, and channels it must not touch stay identical.
TEST(SimSensorModel, SettingsTakeEffectOnTheirChannelOnly)
{
    CSensorModel ref(500, 72, 3), m(500, 72, 3);
    Generate(ref, 1);
    Generate(m, 1);
    Reply(m, ADDR_CH1, CODE_GAIN, 5);      // from 3
    Reply(m, ADDR_ECG, CODE_GAIN, 1);      // from 3
    Reply(m, ADDR_VOLUME, CODE_GAIN, 8);   // from 4
    Reply(m, ADDR_CH2, CODE_ZERO);
    Reply(m, ADDR_CH3, CODE_CALIBRATE, 200);
    const auto a = Generate(ref, 2500), b = Generate(m, 2500);

    const double base = CSignalGen::PULSE_BASELINE;
    EXPECT_NEAR((MaxOf(b, WORD_PULSE1) - base) / (MaxOf(a, WORD_PULSE1) - base), 5.0 / 3, 0.05);
    const double ecg = CSignalGen::ECG_BASELINE;
    EXPECT_NEAR((MaxOf(b, WORD_ECG) - ecg) / (MaxOf(a, WORD_ECG) - ecg), 1.0 / 3, 0.05);
    EXPECT_NEAR(double(MaxOf(b, WORD_VOLUME) - MinOf(b, WORD_VOLUME))
                / (MaxOf(a, WORD_VOLUME) - MinOf(a, WORD_VOLUME)), 2.0, 0.15);

    double zeroed = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(b[i][WORD_STATIC1], a[i][WORD_STATIC1]);
        EXPECT_EQ(b[i][WORD_PULSE2], a[i][WORD_PULSE2]);
        EXPECT_EQ(b[i][WORD_PULSE3], a[i][WORD_PULSE3]);
        EXPECT_NEAR(b[i][WORD_STATIC3], 2.0 * a[i][WORD_STATIC3], 2.0);
        zeroed += b[i][WORD_STATIC2];
    }
    // Zero reads about nothing right after, against a level of well over a thousand counts.
    EXPECT_LT(zeroed / a.size(), 40.0);
    EXPECT_GT(MinOf(a, WORD_STATIC2), 1000);
}

TEST(SimSignals, SameSeedSameStreamOtherSeedOtherStream)
{
    CSensorModel a(500, 72, 11), b(500, 72, 11), c(500, 72, 12);
    const auto sa = Generate(a, 1000), sb = Generate(b, 1000), sc = Generate(c, 1000);
    EXPECT_EQ(sa, sb);
    EXPECT_NE(sa, sc);
}

// The pulse foot follows the R wave by the transit time, at any heart rate, and beats vary.
TEST(SimSignals, PulseUpstrokeLagsTheRWave)
{
    for (double bpm : {50.0, 72.0, 110.0}) {
        const double rate = 500;
        CSensorModel m(rate, bpm, 5);
        const auto s = Generate(m, static_cast<int>(30 * rate));
        const double rThreshold = CSignalGen::ECG_BASELINE + 0.6 * 3 * CSignalGen::ECG_COUNTS_PER_GAIN;
        std::vector<size_t> rPeaks;
        for (size_t i = 1; i + 1 < s.size(); ++i) {
            const int v = s[i][WORD_ECG];
            if (v > rThreshold && v >= s[i - 1][WORD_ECG] && v > s[i + 1][WORD_ECG])
                rPeaks.push_back(i);
        }
        EXPECT_NEAR(double(rPeaks.size()), bpm / 2, bpm / 20) << bpm;

        std::vector<double> lags, intervals;
        for (size_t k = 0; k + 1 < rPeaks.size(); ++k) {
            const size_t r = rPeaks[k];
            intervals.push_back((rPeaks[k + 1] - r) / rate);
            const size_t end = std::min(s.size(), r + static_cast<size_t>(0.45 * rate));
            size_t peak = r;
            for (size_t i = r; i < end; ++i)
                if (s[i][WORD_PULSE2] > s[peak][WORD_PULSE2]) peak = i;
            size_t foot = r;
            for (size_t i = r; i < peak; ++i)
                if (s[i][WORD_PULSE2] < s[foot][WORD_PULSE2]) foot = i;
            // Upstroke: first sample a tenth of the way from the foot value to the peak.
            const double level = s[foot][WORD_PULSE2] + 0.1 * (s[peak][WORD_PULSE2] - s[foot][WORD_PULSE2]);
            size_t up = foot;
            while (up < peak && s[up][WORD_PULSE2] < level) ++up;
            lags.push_back((up - r) / rate);
            EXPECT_GT(s[peak][WORD_PULSE2] - s[foot][WORD_PULSE2], 200) << "no clear upstroke, bpm " << bpm;
        }
        for (double lag : lags) {
            EXPECT_GT(lag, 0.13) << bpm;
            EXPECT_LT(lag, 0.22) << bpm;
        }
        const double mean = std::accumulate(intervals.begin(), intervals.end(), 0.0) / intervals.size();
        double var = 0;
        for (double x : intervals) var += (x - mean) * (x - mean);
        const double sd = std::sqrt(var / intervals.size());
        EXPECT_GT(sd, 0.005) << "beats too regular, bpm " << bpm;
        EXPECT_LT(sd, 0.08 * mean) << bpm;
    }
}

// At the highest gains every trace still fits the console's bands at its start-up zoom
// (a band is about 1100 counts high), nothing clips, and the static levels stay apart.
TEST(SimSignals, ValuesStayInRangeAtHighestGains)
{
    CSensorModel m(500, 72, 9);
    Generate(m, 1);
    for (uint8_t a : {ADDR_CH1, ADDR_CH2, ADDR_CH3, ADDR_ECG}) Reply(m, a, CODE_GAIN, 5);
    Reply(m, ADDR_VOLUME, CODE_GAIN, 8);
    const auto s = Generate(m, 60 * 500);
    for (int w : {WORD_PULSE1, WORD_PULSE2, WORD_PULSE3, WORD_ECG}) {
        EXPECT_GT(MinOf(s, w), 0) << w;
        EXPECT_LT(MaxOf(s, w), 1150) << w;
    }
    EXPECT_GT(MinOf(s, WORD_VOLUME), 0);
    EXPECT_LT(MaxOf(s, WORD_VOLUME), 560);   // the volume trace starts half a band up
    EXPECT_GT(MinOf(s, WORD_STATIC2), MaxOf(s, WORD_STATIC1));
    EXPECT_GT(MinOf(s, WORD_STATIC1), MaxOf(s, WORD_STATIC3));
    EXPECT_GT(MaxOf(s, WORD_STATIC1) - MinOf(s, WORD_STATIC1), 20);   // it drifts
}
