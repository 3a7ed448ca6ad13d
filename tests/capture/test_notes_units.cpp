// Version 2 captures through sensor-decode: notes and the settings at the start in --dump,
// --stats, --notes and the EDF+ annotations; pressures in units in the CSV and the EDF+
// (read back with EDFlib); missing samples closer than 100 ms marked once; version 1 files
// as before. And the recorder writing notes and the settings its listener gives.
#include <gtest/gtest.h>

#include <unistd.h>

#ifdef VELTRIN_HAVE_EDFLIB
#include <edflib.h>
#endif

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "byte_source.h"
#include "capture_builder.h"
#include "capture_reader.h"
#include "channel_units.h"
#include "decode_run.h"
#include "decode_tool.h"
#include "platform.h"
#include "recorder.h"

using namespace capture;

namespace {

using decode_run::Decode;
using decode_run::Result;

std::string Temp(const std::string& name)
{
    return ::testing::TempDir() + "notes-" + std::to_string(::getpid()) + "-" + name;
}

std::string WriteFile(const std::string& name, const Bytes& bytes)
{
    const std::string p = Temp(name);
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return p;
}

std::string Slurp(const std::string& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// 600 frames at 500 a second, ten a read; bad check bytes at 100, 120 and 130 (within 100 ms
// of each other) and at 400 (alone). Notes before the data, in it and after it.
Bytes NotedCapture(uint16_t version = FORMAT_VERSION)
{
    CaptureHeader h = CaptureBuilder::DefaultHeader();
    h.version = version;
    if (version >= 2) {
        h.atStart.known = true;
        const int gains[START_GAINS] = {4, 3, 2, 3, 5};
        std::copy(std::begin(gains), std::end(gains), h.atStart.gains);
        h.atStart.coefficients[0] = "100";
        h.atStart.coefficients[1] = "12a";
        h.atStart.coefficients[2] = "";
    }
    CaptureBuilder b(h);
    b.Sent(0, Command(proto::CODE_START, proto::ADDR_SENSOR));
    if (version >= 2)
        b.Record(Direction::Note, 500, Text("深呼吸"));
    for (int r = 0; r < 60; ++r) {
        Bytes read;
        for (int k = r * 10; k < r * 10 + 10; ++k) {
            uint16_t w[8];
            FrameWords(k, w);
            const Bytes f = DataFrame(w, k != 100 && k != 120 && k != 130 && k != 400);
            read.insert(read.end(), f.begin(), f.end());
        }
        b.Recv(1000 + int64_t(r) * 20000, read);
        if (version >= 2 && r == 29)
            b.Record(Direction::Note, 1000 + int64_t(r) * 20000, Text("按压加深, \"右手\""));
        if (version >= 2 && r == 40)
            b.Record(Direction::Note, 1000 + int64_t(r) * 20000 + 5, {});
    }
    if (version >= 2)  // longer than an EDF+ annotation: cut at a character
        b.Record(Direction::Note, 1300000, Text("一二三四五六七八九十一二三四五六七八九十"));
    return b.Get();
}

} // namespace

TEST(NotesAndUnits, DumpStatsAndNotesShowWhatTheRecordingHeld)
{
    const std::string cap = WriteFile("n.vcap", NotedCapture());
    const Result dump = Decode({"--dump", cap});
    ASSERT_EQ(dump.code, 0) << dump.err;
    EXPECT_NE(dump.out.find("# capture version 2, "), std::string::npos);
    EXPECT_NE(dump.out.find("\n# at start: gain pulse 1 = 4, gain pulse 2 = 3, gain pulse 3 = 2, gain ECG = 3, "
                            "gain volume = 5, coefficient 1 = 100, coefficient 2 = 12a, coefficient 3 = \n"),
              std::string::npos)
        << dump.out;
    EXPECT_NE(dump.out.find("\n0.000500 note 深呼吸\n"), std::string::npos);
    EXPECT_NE(dump.out.find("\n0.801005 note \n"), std::string::npos);

    const Result stats = Decode({"--stats", cap});
    ASSERT_EQ(stats.code, 0) << stats.err;
    for (const char* line : {"\ngain_pulse_1_at_start=4\n", "\ngain_volume_at_start=5\n", "\ncoefficient_2_at_start=12a\n",
                             "\ncoefficient_3_at_start=\n", "\nbadcheck=4\n"})
        EXPECT_NE(stats.out.find(line), std::string::npos) << line << stats.out;

    const std::string notes = Temp("notes.csv");
    ASSERT_EQ(Decode({"-q", "--notes", notes, cap}).code, 0);
    EXPECT_EQ(Slurp(notes), "time_s,sample,text\n"
                            "0.000500,,深呼吸\n"
                            "0.581000,299,\"按压加深, \"\"右手\"\"\"\n"
                            "0.801005,409,\n"
                            "1.300000,599,一二三四五六七八九十一二三四五六七八九十\n");

    // A version 1 capture reads as it always did: no settings, no notes.
    const std::string v1 = WriteFile("v1.vcap", NotedCapture(1));
    const Result old = Decode({"--stats", v1});
    ASSERT_EQ(old.code, 0) << old.err;
    EXPECT_EQ(old.out.find("_at_start"), std::string::npos);
    const Result oldDump = Decode({"--dump", v1});
    EXPECT_EQ(oldDump.out.find("# at start"), std::string::npos);
    EXPECT_NE(oldDump.out.find("# capture version 1, "), std::string::npos);
    ASSERT_EQ(Decode({"-q", "--notes", notes, v1}).code, 0);
    EXPECT_EQ(Slurp(notes), "time_s,sample,text\n");
    for (const std::string& p : {cap, v1, notes})
        std::remove(p.c_str());
}

TEST(NotesAndUnits, CsvAndEdfInUnitsWithMarkersSettingsAndMergedBads)
{
    const std::string cap = WriteFile("u.vcap", NotedCapture());
    const std::string csv = Temp("u.csv"), edfPath = Temp("u.edf");
#ifdef VELTRIN_HAVE_EDFLIB
    const Result r = Decode({"-q", "--units", "1=mmHg:12.5,3=g:4", "--csv", csv, "--edf", edfPath, cap});
#else
    const Result r = Decode({"-q", "--units", "1=mmHg:12.5,3=g:4", "--csv", csv, cap});
#endif
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream rows(Slurp(csv));
    std::string line;
    std::getline(rows, line);
    EXPECT_EQ(line, "sample,time_s,pressure1_mmHg,pressure2,pressure3_g,pulse1,pulse2,pulse3,ecg,volume,t_s");
    std::getline(rows, line);
    uint16_t w[8];
    FrameWords(0, w);
    std::ostringstream want;
    want << "0,0.001000," << units::FormatValue(w[0] / 12.5) << "," << w[2] << "," << units::FormatValue(w[4] / 4.0)
         << "," << w[1] << "," << w[3] << "," << w[5] << "," << w[6] << "," << w[7]
         << ",-0.017000";  // t_s: frames 2 ms apart, frame 9 the last of the read at 1 ms
    EXPECT_EQ(line, want.str());

#ifdef VELTRIN_HAVE_EDFLIB
    edf_hdr_struct hdr{};
    ASSERT_EQ(edfopen_file_readonly(edfPath.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS), 0);
    auto trimmed = [](std::string s) { return s.erase(s.find_last_not_of(' ') + 1); };
    EXPECT_EQ(trimmed(hdr.signalparam[0].physdimension), "mmHg");
    EXPECT_EQ(trimmed(hdr.signalparam[1].physdimension), "count");
    EXPECT_EQ(trimmed(hdr.signalparam[2].physdimension), "g");
    EXPECT_NEAR(hdr.signalparam[0].phys_max, 65535 / 12.5, 0.01);
    EXPECT_EQ(hdr.signalparam[1].phys_max, 65535);
    std::vector<double> p1(5), p3(5);
    edfread_physical_samples(hdr.handle, 0, 5, p1.data());
    edfseek(hdr.handle, 2, 0, EDFSEEK_SET);
    edfread_physical_samples(hdr.handle, 2, 5, p3.data());
    for (int k = 0; k < 5; ++k) {
        FrameWords(k, w);
        EXPECT_NEAR(p1[size_t(k)], w[0] / 12.5, 1e-3) << k;
        EXPECT_NEAR(p3[size_t(k)], w[4] / 4.0, 1e-3) << k;
    }
    std::vector<std::pair<std::string, long long>> notes;  // text, onset in samples
    for (long long i = 0; i < hdr.annotations_in_file; ++i) {
        edf_annotation_struct a{};
        edf_get_annotation(hdr.handle, int(i), &a);
        notes.emplace_back(a.annotation, std::llround(a.onset * 500 / 1e7));
    }
    edfclose_file(hdr.handle);
    auto at = [&](const std::string& text) {
        for (const auto& n : notes)
            if (n.first == text)
                return n.second;
        return -1LL;
    };
    EXPECT_EQ(at("gain pulse 1 = 4 (at start)"), 0);
    EXPECT_EQ(at("gain volume = 5 (at start)"), 0);
    EXPECT_EQ(at("coefficient 2 = 12a (at start)"), 0);
    EXPECT_EQ(at("marker: 深呼吸 (before data)"), 0);
    EXPECT_EQ(at("marker: 按压加深, \"右手\""), 290);  // its read's time: the first frame's + 580 ms
    EXPECT_EQ(at("marker"), 400);
    EXPECT_EQ(at("marker: 一二三四五六七八九十一二三四五六七八九十"), -1);  // cut: 40 bytes
    EXPECT_EQ(at("marker: 一二三四五六七八九十"), 650);
    EXPECT_EQ(at("BAD 3 missing samples in 31"), 100);
    EXPECT_EQ(at("BAD missing sample: check byte"), 400);
#endif

    Result bad;
#ifndef _WIN32  // the console keeps its settings in the registry there
    // Units kept by the console, read from its settings file; malformed ones refused.
    const std::string config = Temp("config");
    std::system(("mkdir -p '" + config + "/Veltrin'").c_str());
    std::ofstream(config + "/Veltrin/Veltrin.conf") << "[units]\nunit2=kPa\nscale2=8\n";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ASSERT_EQ(Decode({"-q", "--units", "kept", "--csv", csv, cap}).code, 0);
    EXPECT_EQ(Slurp(csv).substr(0, 43), "sample,time_s,pressure1,pressure2_kPa,press");
    std::ofstream(config + "/Veltrin/Veltrin.conf") << "[units]\nscale1=0\n";
    bad = Decode({"-q", "--units", "kept", "--csv", csv, cap});
    EXPECT_EQ(bad.code, 2);
    EXPECT_NE(bad.err.find("scale1=0"), std::string::npos) << bad.err;
    ::unsetenv("XDG_CONFIG_HOME");
    std::system(("rm -rf '" + config + "'").c_str());
#endif
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--units", "1=mm Hg:1", "--csv", csv, cap}, {"--units", "1=g:2", cap}, {"--merge-bad", "x", cap}}) {
        bad = Decode(args);
        EXPECT_EQ(bad.code, 2) << args[1];
        EXPECT_NE(bad.err.find(args[0]), std::string::npos) << bad.err;
    }
    for (const std::string& p : {cap, csv, edfPath})
        std::remove(p.c_str());
}

TEST(NotesAndUnits, RecorderWritesNotesAndTheSettingsItsListenerGives)
{
    FakePlatform platform;
    ScopedPlatform scoped(platform);
    struct Settings : IRecorderListener {
        void OnRecordingStart(CaptureHeader& h) override
        {
            h.atStart.known = true;
            h.atStart.gains[0] = 5;
            h.atStart.coefficients[2] = "99\nx";  // one line only
        }
    } listener;
    const std::string path = Temp("rec.vcap");
    CCaptureRecorder rec(&listener);
    rec.AddNote("not recording: nothing");
    ASSERT_TRUE(rec.Start(path));
    rec.OnPortOpened(1, "/dev/ttyUSB0", "256000,n,8,1");
    platform.Advance(250);
    rec.AddNote("深呼吸");
    rec.AddNote("");
    // A note longer than a record is cut at a character, never inside one.
    std::string longText;
    while (longText.size() < MAX_RECORD_BYTES + 10)
        longText += "脉";
    rec.AddNote(longText);
    rec.OnPortClosed();
    rec.AddNote("after: nothing");

    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    CFileSource src(f);
    CCaptureReader reader(src);
    ASSERT_TRUE(reader.ReadHeader());
    EXPECT_EQ(reader.Header().version, 2);
    EXPECT_TRUE(reader.Header().atStart.known);
    EXPECT_EQ(reader.Header().atStart.gains[0], 5);
    EXPECT_EQ(reader.Header().atStart.coefficients[2], "99");
    std::vector<CaptureRecord> notes;
    CaptureRecord r;
    while (reader.Next(r) == ReadResult::Record)
        if (r.dir == Direction::Note)
            notes.push_back(r);
    std::fclose(f);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].timeUs, 250000);
    EXPECT_EQ(std::string(notes[0].bytes.begin(), notes[0].bytes.end()), "深呼吸");
    EXPECT_TRUE(notes[1].bytes.empty());
    EXPECT_EQ(notes[2].bytes.size(), MAX_RECORD_BYTES / 3 * 3);
    EXPECT_EQ(std::string(notes[2].bytes.begin(), notes[2].bytes.end()), longText.substr(0, MAX_RECORD_BYTES / 3 * 3));
    std::remove(path.c_str());
}
