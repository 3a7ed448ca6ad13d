// sensor-decode's pulse figures on a capture of the simulated sensor sweeping its hold-down:
// --stats gives every channel's pulse diagram and pressure-amplitude curve, --beats and --ph
// agree with them and are written whole or not at all; a plain stream needs --rate.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "capture_writer.h"
#include "decode_tool.h"
#include "pulse_diagram.h"
#include "sensor_model.h"

namespace {

using Fields = std::map<std::string, std::string>;
using Rows = std::vector<std::vector<std::string>>;

// A capture of `seconds` of the simulated sensor at 500 frames a second, read every 5 ms, its
// hold-down sweeping over 25 s with best pressures 950, 1700 and 2450; and the same bytes plain.
std::string WriteCapture(const std::string& path, double seconds, std::vector<uint8_t>* pPlain)
{
    CSensorModel model(500, 80, 6);
    SimPulseOptions pulse;
    pulse.sweepS = 25;
    const double best[3] = {950, 1700, 2450};
    std::copy(best, best + 3, pulse.bestPressure);
    model.ApplyPulseOptions(pulse);
    capture::CCaptureWriter writer;
    capture::CaptureHeader header;
    header.start = "2025-03-01T09:30:00.000+01:00";
    if (!writer.Open(path, header))
        return writer.Error();
    uint64_t frames = 0;
    for (int64_t t = 5000; t <= static_cast<int64_t>(seconds * 1e6); t += 5000) {
        std::vector<uint8_t> bytes;
        for (; frames < static_cast<uint64_t>(static_cast<double>(t) / 1e6 * 500); ++frames) {
            uint8_t f[proto::DATA_FRAME_LEN];
            model.NextDataFrame(f);
            bytes.insert(bytes.end(), f, f + sizeof f);
        }
        writer.Append(capture::Direction::Received, t, bytes.data(), bytes.size());
        pPlain->insert(pPlain->end(), bytes.begin(), bytes.end());
    }
    return writer.Close() ? std::string() : writer.Error();
}

int Decode(const std::vector<std::string>& args, const std::vector<uint8_t>& in, std::string& out, std::string& err)
{
    CMemorySource source(in);
    std::ostringstream o, e;
    const int rc = RunSensorDecode(args, source, o, e);
    out = o.str();
    err = e.str();
    return rc;
}

Fields ParseFields(const std::string& text)
{
    Fields f;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find('=') != std::string::npos)
            f[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    return f;
}

Rows ReadCsv(const std::string& path)
{
    Rows rows;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::stringstream ss(line);
        for (std::string cell; std::getline(ss, cell, ',');)
            cells.push_back(cell);
        if (!line.empty() && line.back() == ',')
            cells.emplace_back();
        rows.push_back(cells);
    }
    return rows;
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

class PulseDecodeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = ::testing::TempDir() + "pulse-decode-" + std::to_string(::getpid());
        s_capture = s_dir + ".vcap";
        s_error = WriteCapture(s_capture, 60, &s_plain);
    }
    static void TearDownTestSuite() { std::remove(s_capture.c_str()); }
    std::string Out(const char* name) const { return s_dir + "-" + name; }

    static std::string s_dir, s_capture, s_error;
    static std::vector<uint8_t> s_plain;
};
std::string PulseDecodeTest::s_dir, PulseDecodeTest::s_capture, PulseDecodeTest::s_error;
std::vector<uint8_t> PulseDecodeTest::s_plain;

} // namespace

TEST_F(PulseDecodeTest, StatsBeatsAndCurveAgree)
{
    ASSERT_TRUE(s_error.empty()) << s_error;
    const std::string beats = Out("beats.csv"), ph = Out("ph.csv");
    std::string out, err;
    ASSERT_EQ(Decode({"--stats", "--beats", beats, "--ph", ph, s_capture}, {}, out, err), 0) << err;
    const Fields f = ParseFields(out);
    const Rows beatRows = ReadCsv(beats), phRows = ReadCsv(ph);
    std::remove(beats.c_str());
    std::remove(ph.c_str());
    EXPECT_FALSE(Exists(beats + ".part") || Exists(ph + ".part"));

    ASSERT_FALSE(beatRows.empty());
    const std::vector<std::string>& header = beatRows[0];
    ASSERT_EQ(header.size(), 5u + analysis::PF_COUNT);
    EXPECT_EQ(header[0], "channel");
    EXPECT_EQ(header[5], "t_ms");
    EXPECT_EQ(header.back(), "c10");
    const char* positions[3] = {"floating", "middle", "deep"};
    for (int c = 1; c <= 3; ++c) {
        const std::string n = std::to_string(c);
        SCOPED_TRACE("channel " + n);
        for (const char* name : {"h1_", "h3_h1_", "h4_h1_", "h5_h1_", "t1_ms_", "t4_ms_", "t5_ms_", "t_ms_", "w_ms_",
                                 "w_t_", "c2_", "c10_", "best_pressure_", "depth_"})
            EXPECT_NE(f.count(name + n) ? f.at(name + n) : "unknown", "unknown") << name;
        EXPECT_NEAR(std::stod(f.at("t_ms_" + n)), 60000 / 80.0, 30);
        EXPECT_NEAR(std::stod(f.at("best_pressure_" + n)), 200 + 750.0 * c, 0.06 * 3000);
        EXPECT_EQ(f.at("position_" + n), positions[c - 1]);
        EXPECT_EQ(f.at("peak_end_" + n), "none");

        // --beats: a row for every beat counted; the medians are those of the rows in them.
        int ok = 0, rejected = 0;
        std::vector<double> h1;
        for (size_t r = 1; r < beatRows.size(); ++r) {
            const auto& row = beatRows[r];
            ASSERT_EQ(row.size(), header.size());
            if (row[0] != n)
                continue;
            (row[2] == "ok" ? ok : rejected) += 1;
            if (row[3] == "1")
                h1.push_back(std::stod(row[11]));
        }
        EXPECT_EQ(ok, std::stoi(f.at("beats_" + n)));
        EXPECT_EQ(rejected, std::stoi(f.at("beats_rejected_" + n)));
        ASSERT_GE(h1.size(), 3u);
        EXPECT_NEAR(analysis::MedianOf(h1), std::stod(f.at("h1_" + n)), 0.06);

        // --ph: a point for every valid beat, the 16 bins, and the best pressure.
        int points = 0, bins = 0;
        for (const auto& row : phRows) {
            if (row[0] != n)
                continue;
            points += row[1] == "point";
            bins += row[1] == "bin";
            if (row[1] == "best") {
                EXPECT_NEAR(std::stod(row[2]), std::stod(f.at("best_pressure_" + n)), 0.5);
            }
        }
        EXPECT_EQ(points, ok);
        EXPECT_EQ(bins, 16);
    }
}

TEST_F(PulseDecodeTest, RefusalsLeaveNoFileBehind)
{
    ASSERT_TRUE(s_error.empty()) << s_error;
    std::string out, err;
    // A plain stream has no times: --rate places its frames.
    EXPECT_EQ(Decode({"--beats", Out("p.csv")}, s_plain, out, err), 2);
    EXPECT_NE(err.find("--rate"), std::string::npos) << err;
    EXPECT_FALSE(Exists(Out("p.csv")));
    ASSERT_EQ(Decode({"--ph", Out("p.csv"), "--rate", "500"}, s_plain, out, err), 0) << err;
    EXPECT_GT(ReadCsv(Out("p.csv")).size(), 16u);
    std::remove(Out("p.csv").c_str());

    EXPECT_EQ(Decode({"--beats", Out("same.csv"), "--ph", Out("same.csv"), s_capture}, {}, out, err), 2);
    const std::string unwritable = s_dir + "-missing-folder/beats.csv";
    EXPECT_EQ(Decode({"--beats", unwritable, s_capture}, {}, out, err), 2);
    EXPECT_NE(err.find(unwritable), std::string::npos) << err;
    EXPECT_FALSE(Exists(unwritable) || Exists(unwritable + ".part"));
}

TEST_F(PulseDecodeTest, UnitsConvertTheStaticPressuresOfStatsBeatsAndPh)
{
    ASSERT_TRUE(s_error.empty()) << s_error;
    std::string out, err;
    const std::string beats = Out("ub.csv"), ph = Out("uph.csv");
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), {"--stats", "--beats", beats, "--ph", ph, s_capture});
        EXPECT_EQ(Decode(args, {}, out, err), 0) << err;
        return std::make_tuple(ParseFields(out), ReadCsv(beats), ReadCsv(ph));
    };
    const auto [counts, countBeats, countPh] = run({});
    const auto digits = [](const std::string& v) { return v.find('.') == std::string::npos ? 0 : int(v.size() - v.find('.') - 1); };
    const struct {
        const char* units;
        const char* column;
        const char* keys[3];
        double scale[3];
        int digits[3];  // of a best pressure; a beat's or a point's pressure has one more
    } cases[] = {
        {"1=mmHg:12.5,2=mmHg:12.5,3=mmHg:12.5", "pressure_mmHg",
         {"best_pressure_mmHg_1", "best_pressure_mmHg_2", "best_pressure_mmHg_3"}, {12.5, 12.5, 12.5}, {1, 1, 1}},
        {"1=kPa:93.75,3=g:3", "pressure_kPa|counts|g", {"best_pressure_kPa_1", "best_pressure_2", "best_pressure_g_3"},
         {93.75, 1, 3}, {2, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.units);
        const auto [f, unitBeats, unitPh] = run({"--units", c.units});
        for (int ch = 0; ch < 3; ++ch) {
            const std::string n = std::to_string(ch + 1), v = f.count(c.keys[ch]) ? f.at(c.keys[ch]) : "none";
            EXPECT_EQ(digits(v), c.digits[ch]) << v;
            EXPECT_NEAR(std::stod(v), std::stod(counts.at("best_pressure_" + n)) / c.scale[ch], 0.5 / c.scale[ch] + 0.5 * std::pow(10, -c.digits[ch]));
            EXPECT_EQ(f.at("depth_" + n) + f.at("h1_" + n), counts.at("depth_" + n) + counts.at("h1_" + n));
        }
        // The same rows, only the pressure column renamed and in each channel's unit.
        for (const auto& [pCounts, pUnits, col] : {std::make_tuple(&countBeats, &unitBeats, size_t(4)), std::make_tuple(&countPh, &unitPh, size_t(2))}) {
            ASSERT_EQ(pUnits->size(), pCounts->size());
            EXPECT_EQ((*pUnits)[0][col], c.column);
            for (size_t r = 1; r < pUnits->size(); ++r) {
                std::vector<std::string> a = (*pCounts)[r], b = (*pUnits)[r];
                const int ch = std::stoi(a[0]) - 1;
                EXPECT_NEAR(std::stod(b[col]), std::stod(a[col]) / c.scale[ch], 0.05 / c.scale[ch] + 0.05 * std::pow(10, -c.digits[ch]));
                a[col] = b[col];
                EXPECT_EQ(a, b) << r;
            }
        }
    }
    std::remove(beats.c_str());
    std::remove(ph.c_str());
}
