// sensor-decode called in-process through its library entry point: captures and plain streams,
// CSV and EDF+ export read back, refused input, and the program itself under a memory limit.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#endif

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "capture_builder.h"
#include "csv_export.h"
#include "decode_run.h"
#include "decode_tool.h"
#ifdef VELTRIN_HAVE_EDFLIB
#include <edflib.h>
#include "edf_export.h"
#endif

using namespace capture;

namespace {

using decode_run::Decode;
using decode_run::Result;

class DecodeTool : public ::testing::Test {
protected:
    std::string Path(const std::string& name)
    {
        return ::testing::TempDir() + "decode-" + std::to_string(::getpid()) + "-" + name;
    }
    std::string Write(const std::string& name, const Bytes& bytes)
    {
        const std::string p = Path(name);
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        m_files.push_back(p);
        return p;
    }
    std::string Out(const std::string& name)
    {
        const std::string p = Path(name);
        m_files.push_back(p);
        m_files.push_back(p + ".part");
        std::remove(p.c_str());
        return p;
    }
    static bool Exists(const std::string& p)
    {
        struct stat st{};
        return ::stat(p.c_str(), &st) == 0;
    }
    static std::string Slurp(const std::string& p)
    {
        std::ifstream f(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    void TearDown() override
    {
        for (const std::string& p : m_files)
            std::remove(p.c_str());
    }
    std::vector<std::string> m_files;
};

// A session as the console records it: start sent, frames at `rate` in reads of `perRead`
// frames, bad check bytes at the given frame numbers, stop sent and acknowledged.
struct Session {
    CaptureBuilder cap;
    Bytes received;                 // every received byte, in order
    std::vector<std::string> rows;  // expected CSV rows
    int frames = 0;                 // data frames so far, bad ones included
    int64_t t = 0;

    void Recv(const Bytes& b)
    {
        cap.Recv(t, b);
        received.insert(received.end(), b.begin(), b.end());
    }
    // Reads end 5 bytes into a frame, as serial reads do, so every read completes the frame
    // begun by the one before; the read's time is that of the last frame it starts.
    void Run(int nFrames, double rate, int perRead, const std::vector<int>& bad = {})
    {
        Bytes stream;
        std::vector<size_t> frameEnd;
        for (int i = 0; i < nFrames; ++i) {
            uint16_t w[8];
            FrameWords(frames + i, w);
            const Bytes f = DataFrame(w, std::find(bad.begin(), bad.end(), frames + i) == bad.end());
            stream.insert(stream.end(), f.begin(), f.end());
            frameEnd.push_back(stream.size());
        }
        const int64_t t0 = t;
        size_t from = 0;
        int next = 0;  // first frame not yet completed
        for (int i = perRead - 1; from < stream.size(); i += perRead) {
            const bool last = i >= nFrames - 1;
            const size_t to = last ? stream.size() : frameEnd[static_cast<size_t>(i)] + 5;
            t = t0 + static_cast<int64_t>(std::llround(std::min(i, nFrames - 1) * 1e6 / rate));
            Recv(Bytes(stream.begin() + static_cast<long>(from), stream.begin() + static_cast<long>(to)));
            for (; next < nFrames && frameEnd[static_cast<size_t>(next)] <= to; ++next)
                AddRow(frames + next, t, t0 + std::llround(next * 1e6 / rate), bad);
            from = to;
        }
        frames += nFrames;
    }
    // clock: the frame's time on the sample clock (the reads here lie on it).
    void AddRow(int k, int64_t time, int64_t clock, const std::vector<int>& bad)
    {
        if (std::find(bad.begin(), bad.end(), k) != bad.end())
            return;
        uint16_t w[8];
        FrameWords(k, w);
        char buf[160];
        std::snprintf(buf, sizeof buf, "%d,%lld.%06lld,%u,%u,%u,%u,%u,%u,%u,%u,%lld.%06lld", k,
                      static_cast<long long>(time / 1000000), static_cast<long long>(time % 1000000), w[0], w[2], w[4],
                      w[1], w[3], w[5], w[6], w[7], static_cast<long long>(clock / 1000000),
                      static_cast<long long>(clock % 1000000));
        rows.push_back(buf);
    }
};

TEST_F(DecodeTool, CaptureGivesTheLinesOfItsReceivedBytes)
{
    Session s;
    s.cap.Sent(0, Command(proto::CODE_START, proto::ADDR_SENSOR));
    s.t = 3000;
    s.Run(40, 500, 3, {7});
    s.Recv({0x00, 0xF0, 0x55});                                // garbage
    s.cap.Sent(s.t + 10, Command(proto::CODE_STOP, proto::ADDR_SENSOR));
    s.t += 4000;
    s.Recv({0xF0, 0x1F, 0x01, 0x33, 0xF0, 0x1F, 0x05, 0x31, 1, 2, 3, 4});
    const std::string cap = Write("c.vcap", s.cap.Get());
    const std::string plain = Write("c.bin", s.received);

    const Result a = Decode({cap});
    const Result b = Decode({plain});
    ASSERT_EQ(a.code, 0) << a.err;
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
    EXPECT_EQ(a.err, "frames 40, badcheck 1, skipped 3 bytes\n");
    // And from standard input, where there is only one pass.
    const Result c = Decode({}, s.cap.Get());
    EXPECT_EQ(c.out, a.out);
    EXPECT_EQ(c.err, a.err);
}

TEST_F(DecodeTool, CsvRowsCarryTheTimeOfTheCompletingRead)
{
    Session s;
    s.t = 1000;
    s.Run(25, 1000, 4, {3, 4, 20});
    const std::string cap = Write("t.vcap", s.cap.Get());
    const std::string csv = Out("t.csv");
    const Result r = Decode({"--quiet", "--csv", csv, cap});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::string expect = std::string(CSV_HEADER) + "\n";
    for (const std::string& row : s.rows)
        expect += row + "\n";
    EXPECT_EQ(Slurp(csv), expect);
    EXPECT_FALSE(Exists(csv + ".part"));

    // A plain stream has no times: the column stays empty.
    const std::string plain = Write("t.bin", s.received);
    ASSERT_EQ(Decode({"-q", "--csv=" + csv, plain}).code, 0);
    std::istringstream lines(Slurp(csv));
    std::string header, first;
    std::getline(lines, header);
    std::getline(lines, first);
    EXPECT_EQ(first.substr(0, 3), "0,,");
}

TEST_F(DecodeTool, DumpShowsEveryRecord)
{
    CaptureBuilder b;
    b.Sent(0, Command(proto::CODE_GAIN, proto::ADDR_ECG, 5)).Recv(1234567, {0xF0, 0x1F}).Recv(1234567, {});
    const Result r = Decode({"--dump", Write("d.vcap", b.Get())});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "# capture version 2, start 2024-02-29T23:59:59.500+08:00, port COM1, path /dev/ttyUSB0, settings 256000,n,8,1\n"
              "0.000000 sent F0 2A 02 65 05\n"
              "1.234567 recv F0 1F\n"
              "1.234567 recv\n");
}

TEST_F(DecodeTool, BadInputIsRefusedWithFileAndOffsetAndNothingWritten)
{
    // Random bytes are no capture: they decode as a plain stream.
    std::mt19937 rng(7);
    Bytes noise(5000);
    for (auto& x : noise)
        x = static_cast<uint8_t>(rng());
    const std::string csv = Out("bad.csv");
    const Result plain = Decode({"--csv", csv, Write("noise.bin", noise)});
    EXPECT_EQ(plain.code, 0);
    EXPECT_TRUE(Exists(csv));
    std::remove(csv.c_str());

    uint16_t w[8];
    FrameWords(1, w);
    CaptureHeader v9 = CaptureBuilder::DefaultHeader();
    v9.version = 9;
    const Bytes good = CaptureBuilder().Recv(10, DataFrame(w)).Recv(20, DataFrame(w)).Get();
    const size_t h = CaptureBuilder().Size();
    Bytes longer = CaptureBuilder().Recv(10, DataFrame(w)).Recv(20, DataFrame(w)).Get();
    longer.pop_back();
    struct Row {
        const char* name;
        Bytes bytes;
        size_t offset;
    } rows[] = {
        {"truncated header", Bytes(good.begin(), good.begin() + 15), 15},
        {"unknown version", CaptureBuilder(v9).Recv(1, DataFrame(w)).Get(), 8},
        {"record longer than the file", longer, h + 32},
        {"negative time", CaptureBuilder().Recv(10, DataFrame(w)).Recv(-5, DataFrame(w)).Get(), h + 32},
        {"decreasing time", CaptureBuilder().Recv(10, DataFrame(w)).Recv(9, DataFrame(w)).Get(), h + 32},
    };
    const std::string edf = Out("bad.edf");
    for (const Row& row : rows) {
        const std::string file = Write("bad.vcap", row.bytes);
#ifdef VELTRIN_HAVE_EDFLIB
        const Result r = Decode({"--csv", csv, "--edf", edf, "--rate", "500", file});
#else
        const Result r = Decode({"--csv", csv, file});  // a build without --edf
#endif
        EXPECT_EQ(r.code, 2) << row.name;
        EXPECT_EQ(r.out, "") << row.name;
        EXPECT_NE(r.err.find(file + ": offset " + std::to_string(row.offset) + ":"), std::string::npos)
            << row.name << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        for (const std::string& p : {csv, edf, csv + ".part", edf + ".part"})
            EXPECT_FALSE(Exists(p)) << row.name << " left " << p;
    }

    // A capture cut short decodes with --partial up to its last whole record.
    const Result cut = Decode({"--partial", Write("cut.vcap", longer)});
    EXPECT_EQ(cut.code, 0);
    EXPECT_EQ(std::count(cut.out.begin(), cut.out.end(), '\n'), 1);
    EXPECT_NE(cut.err.find("last whole record"), std::string::npos) << cut.err;
}

TEST_F(DecodeTool, RefusedCommandLines)
{
    const std::string plain = Write("p.bin", {1, 2, 3});
    const std::string cap = Write("p.vcap", CaptureBuilder().Get());
    const std::vector<std::vector<std::string>> rows = {
        {"--chunk"}, {"--chunk", "0"}, {"--chunk=-3"}, {"--chunk", "1e6"}, {"--bogus"},
        {"--rate", "500", plain},                      // --rate without --edf
        {"--edf", "x.edf", "--rate", "0", plain},
        {"--edf", "x.edf", "--rate", "fast", plain},
        {"--csv", "same", "--edf", "same", plain},
        {"--dump", plain},                             // not a capture
        {"--edf", "x.edf", plain},                     // no times, no --rate
        {"--edf", "x.edf"},                            // a capture on standard input: one pass only
        {"--dump=yes", cap},
        {plain, cap},
    };
    for (const auto& args : rows) {
        const Result r = Decode(args, CaptureBuilder().Get());
        EXPECT_EQ(r.code, 2) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
    }
    EXPECT_FALSE(Exists("x.edf"));
}

TEST_F(DecodeTool, HugeChunksAreReadInBoundedPieces)
{
    std::mt19937 rng(3);
    Bytes s;
    for (int i = 0; i < 3000; ++i) {
        uint16_t w[8];
        FrameWords(i, w);
        const Bytes f = DataFrame(w, rng() % 10 != 0);
        s.insert(s.end(), f.begin(), f.end());
        if (rng() % 5 == 0)
            s.push_back(static_cast<uint8_t>(rng()));
    }
    const std::string file = Write("huge.bin", s);
    const Result ref = Decode({file});
    ASSERT_EQ(ref.code, 0);
    for (const char* chunk : {"1", "20459", "20460", "65537", "2147483647", "8000000000", "99999999999999",
                              "99999999999999999999999"}) {
        const Result r = Decode({"--chunk", chunk, file});
        EXPECT_EQ(r.out, ref.out) << chunk;
        EXPECT_EQ(r.err, ref.err) << chunk;
    }

#if defined(_WIN32)
    GTEST_SKIP() << "the address space is limited with setrlimit, which Windows does not have";
#elif defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer reserves more address space than the limit allows";
#else
    // The program itself, with its address space limited far below the chunk sizes asked for.
    for (const char* chunk : {"99999999999999", "2147483647", "8000000000"}) {
        const std::string out = Out("huge.out");
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            rlimit lim{128u << 20, 128u << 20};
            ::setrlimit(RLIMIT_AS, &lim);
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, 1);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 2);
            ::execl(SENSOR_DECODE_PATH, "sensor-decode", "--chunk", chunk, file.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << chunk << " status " << status;
        EXPECT_EQ(Slurp(out), ref.out) << chunk;
    }
#endif
}

TEST_F(DecodeTool, HostileFilesAndOutputsAreRefusedLeavingEverythingAsItWas)
{
    const std::string csv = Out("h.csv"), edf = Out("h.edf"), keep = Out("keep.out");
    std::vector<std::string> outputs = {"-q", "--csv", csv};
#ifdef VELTRIN_HAVE_EDFLIB
    outputs.insert(outputs.end(), {"--edf", edf});
#endif
    auto with = [](std::vector<std::string> args, const std::string& last) {
        args.push_back(last);
        return args;
    };
    // Each: exit 2, the file and the reason named, the input as it was, no output, no .part.
    auto expectRefused = [&](const std::string& name, const std::vector<std::string>& args, const std::string& input,
                             const std::string& named, const std::string& reason) {
        const std::string before = Slurp(input);
        const Result r = Decode(args);
        EXPECT_EQ(r.code, 2) << name;
        EXPECT_EQ(r.out, "") << name;
        EXPECT_NE(r.err.find(named), std::string::npos) << name << ": " << r.err;
        EXPECT_NE(r.err.find(reason), std::string::npos) << name << ": " << r.err;
        EXPECT_EQ(Slurp(input), before) << name << ": the input changed";
        for (const std::string& p : {csv, edf, csv + ".part", edf + ".part"})
            EXPECT_FALSE(Exists(p)) << name << " left " << p;
    };
    for (const HostileCapture& h : HostileCaptures()) {
        const std::string file = Write("hostile.vcap", h.bytes);
        expectRefused(h.name, with(outputs, file), file, file, h.reason);
    }

    const std::string in = Write("in.vcap", CaptureBuilder().Recv(10, DataFrame(7, true)).Recv(2000, DataFrame(8, true)).Get());
    const std::string dir = Path("dir");
    std::filesystem::create_directory(dir);
    expectRefused("CSV onto the input", {"--csv", in, in}, in, in, "is the input file");
    const std::string other = ::testing::TempDir() + "./" + in.substr(::testing::TempDir().size());
    expectRefused("output onto the input by another name", {"--csv", other, in}, in, other, "is the input file");
    expectRefused("a directory as output", {"--csv", dir, in}, in, dir, "is a directory");
    EXPECT_TRUE(std::filesystem::is_directory(dir));
    std::filesystem::remove(dir);
#ifndef _WIN32
    // A .part planted as a link to the input is neither followed nor replaced.
    ASSERT_EQ(::symlink(in.c_str(), (csv + ".part").c_str()), 0);
    const std::string before = Slurp(in);
    const Result planted = Decode({"--csv", csv, in});
    EXPECT_EQ(planted.code, 2);
    EXPECT_NE(planted.err.find("File exists"), std::string::npos) << planted.err;
    EXPECT_EQ(Slurp(in), before);
    ::unlink((csv + ".part").c_str());
#endif
#ifdef VELTRIN_HAVE_EDFLIB
    // Two outputs naming one file; outputs of one run that cannot all be made: none is.
    std::ofstream(keep) << "keep";
    const std::string keepOther = ::testing::TempDir() + "./" + keep.substr(::testing::TempDir().size());
    expectRefused("two outputs, one file", {"--csv", keep, "--edf", keepOther, in}, in, keepOther, "another output");
    EXPECT_EQ(Slurp(keep), "keep");
    expectRefused("the second output cannot be made", {"--csv", csv, "--edf", Path("no-dir") + "/x.edf", in}, in,
                  "x.edf.part", "No such file");
#endif

    // The magic with any one of its 64 bits flipped, or the file ending inside it, is a damaged
    // capture, never a plain stream.
    const Bytes good = CaptureBuilder().Recv(10, DataFrame(7, true)).Get();
    for (size_t bit = 0; bit < 64; ++bit) {
        Bytes b = good;
        b[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        const Result r = Decode({"-q"}, b);
        EXPECT_EQ(r.code, 2) << "bit " << bit;
        EXPECT_NE(r.err.find("standard input: offset 0: damaged capture header"), std::string::npos) << r.err;
    }
    for (size_t n = 1; n < MAGIC_LEN; ++n) {
        const Result r = Decode({"-q"}, Bytes(good.begin(), good.begin() + static_cast<long>(n)));
        EXPECT_EQ(r.code, 2) << n;
        EXPECT_NE(r.err.find("offset " + std::to_string(n) + ": the capture header is cut short"), std::string::npos)
            << r.err;
    }
}

TEST_F(DecodeTool, DumpEscapesControlBytesAndTheFrameCountIsOneCount)
{
    CaptureHeader h = CaptureBuilder::DefaultHeader();
    h.path = "/dev/tty\x1B[2J\x7F\xE4\xB8\xAD";  // a screen-clearing escape, DEL, a Chinese character
    const std::string file = Write("esc.vcap", CaptureBuilder(h).Recv(10, DataFrame(7, true))
                                                   .Recv(20, {0xF0, 0x1F, 0x05, 0x31, 1, 2, 3, 4}).Get());
    const Result dump = Decode({"--dump", file});
    EXPECT_NE(dump.out.find("path /dev/tty\\x1B[2J\\x7F\xE4\xB8\xAD,"), std::string::npos) << dump.out;
    EXPECT_EQ(dump.out.find('\x1B'), std::string::npos);
    // An information reply is a frame, not a data frame: --stats and the summary agree.
    const Result stats = Decode({"--stats", file});
    EXPECT_EQ(stats.out.rfind("frames=1\n", 0), 0u) << stats.out;
    EXPECT_EQ(stats.err.rfind("frames 1,", 0), 0u) << stats.err;
}

#ifndef _WIN32
TEST_F(DecodeTool, InterruptedRunLeavesNoPartFile)
{
    for (int sig : {SIGINT, SIGTERM}) {
        const std::string csv = Out("sig.csv");
        int in[2];
        ASSERT_EQ(::pipe(in), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::dup2(in[0], 0);
            ::close(in[1]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 2);
            ::execl(SENSOR_DECODE_PATH, "sensor-decode", "-q", "--csv", csv.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        // Half a capture, and the pipe held open: the run waits for the rest with its .part made.
        const Bytes head = CaptureBuilder().Recv(10, DataFrame(7, true)).Get();
        ASSERT_EQ(::write(in[1], head.data(), head.size()), static_cast<ssize_t>(head.size()));
        for (int i = 0; i < 500 && !Exists(csv + ".part"); ++i)
            ::usleep(10000);
        EXPECT_TRUE(Exists(csv + ".part"));
        ::kill(pid, sig);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(in[1]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_FALSE(Exists(csv + ".part")) << sig;
        EXPECT_FALSE(Exists(csv));
    }
}
#endif

#ifdef VELTRIN_HAVE_EDFLIB

struct EdfFile {
    edf_hdr_struct hdr{};
    bool ok = false;
    std::vector<std::vector<int>> samples;  // per signal, digital values
    std::vector<edf_annotation_struct> annotations;

    explicit EdfFile(const std::string& path)
    {
        if (edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS) != 0)
            return;
        for (int s = 0; s < hdr.edfsignals; ++s) {
            std::vector<int> v(static_cast<size_t>(hdr.signalparam[s].smp_in_file));
            edfread_digital_samples(hdr.handle, s, static_cast<int>(v.size()), v.data());
            samples.push_back(std::move(v));
        }
        for (long long i = 0; i < hdr.annotations_in_file; ++i) {
            edf_annotation_struct a{};
            edf_get_annotation(hdr.handle, static_cast<int>(i), &a);
            annotations.push_back(a);
        }
        edfclose_file(hdr.handle);
        ok = true;
    }
    double Rate() const
    {
        return hdr.signalparam[0].smp_in_datarecord * 1e7 / static_cast<double>(hdr.datarecord_duration);
    }
    const edf_annotation_struct* Find(const std::string& text, int nth = 0) const
    {
        for (const auto& a : annotations)
            if (text == a.annotation && nth-- == 0)
                return &a;
        return nullptr;
    }
};

TEST_F(DecodeTool, EdfHoldsCountsMissingSamplesPausesAndCommands)
{
    // Run 1: 1000 frames at 500 a second with two bad check bytes in a row and a gain command
    // in the middle; stop; a pause of three seconds with two commands; run 2: 600 frames; stop.
    Session s;
    s.cap.Sent(0, Command(proto::CODE_START, proto::ADDR_SENSOR));
    s.t = 5000;
    s.Run(500, 500, 4, {10, 11});
    const int64_t firstTime = 5000 + 3 * 2000;  // the read that completed the first frame
    const int64_t gainTime = s.t;
    s.cap.Sent(gainTime, Command(proto::CODE_GAIN, proto::ADDR_CH1, 4));
    s.t += 2000;
    s.Run(500, 500, 4);
    s.cap.Sent(s.t + 1000, Command(proto::CODE_STOP, proto::ADDR_SENSOR));
    s.t += 6000;
    s.Recv({0xF0, 0x1F, 0x01, 0x33});
    const int64_t run2 = s.t + 3000000;
    s.cap.Sent(run2 - 5000, Command(proto::CODE_START, proto::ADDR_SENSOR));
    s.cap.Sent(run2 - 4000, Command(proto::CODE_CALIBRATE, proto::ADDR_CH3, 120));
    s.t = run2;
    s.Run(600, 500, 4);
    s.cap.Sent(s.t + 500, Command(proto::CODE_STOP, proto::ADDR_SENSOR));
    s.t += 3000;
    s.Recv({0xF0, 0x1F, 0x01, 0x33});

    const std::string edfPath = Out("s.edf");
    const Result r = Decode({"-q", "--edf", edfPath, Write("s.vcap", s.cap.Get())});
    ASSERT_EQ(r.code, 0) << r.err;
    const EdfFile edf(edfPath);
    ASSERT_TRUE(edf.ok);
    ASSERT_EQ(edf.hdr.edfsignals, EDF_SIGNALS);
    EXPECT_EQ(edf.hdr.filetype, EDFLIB_FILETYPE_EDFPLUS);
    EXPECT_NEAR(edf.Rate(), 500, 500 * 0.001);
    for (int c = 0; c < EDF_SIGNALS; ++c) {
        std::string label = edf.hdr.signalparam[c].label;
        label.erase(label.find_last_not_of(' ') + 1);
        EXPECT_EQ(label, EDF_LABELS[c]);
        EXPECT_EQ(edf.hdr.signalparam[c].phys_min, 0);
        EXPECT_EQ(edf.hdr.signalparam[c].phys_max, 65535);
    }
    // The file starts at the first data frame: the capture's start plus 11 ms.
    EXPECT_EQ(edf.hdr.startdate_year * 10000 + edf.hdr.startdate_month * 100 + edf.hdr.startdate_day, 20240229);
    EXPECT_EQ(edf.hdr.starttime_hour * 10000 + edf.hdr.starttime_minute * 100 + edf.hdr.starttime_second, 235959);
    EXPECT_EQ(edf.hdr.starttime_subsecond, 5110000);

    // Sample i's time in EDFlib's 100 ns units; annotations are kept to 100 us.
    const double rate = edf.Rate();
    auto at = [&](int64_t i) { return i * 1e7 / rate; };
    auto index = [&](long long onset) { return std::llround(onset * rate / 1e7); };
    auto expectFrame = [&](size_t at, int k) {
        uint16_t w[8];
        FrameWords(k, w);
        for (int c = 0; c < EDF_SIGNALS; ++c)
            ASSERT_EQ(edf.samples[c][at], int(w[EDF_WORDS[c]]) - 32768) << "sample " << at << " signal " << c;
    };
    ASSERT_GE(edf.samples[0].size(), 1000u);
    for (int k = 0; k < 1000; ++k)
        if (k != 10 && k != 11)
            expectFrame(static_cast<size_t>(k), k);
    expectFrame(10, 9);  // missing samples repeat the last good one
    expectFrame(11, 9);
    const auto* missing = edf.Find("BAD missing sample: check byte");
    ASSERT_NE(missing, nullptr);
    EXPECT_NEAR(missing->onset, at(10), 1000);
    EXPECT_NEAR(missing->duration_l, at(2), 1000);

    // Run 2 starts where its time says, the pause filled and marked; none of its frames lost.
    const auto* run2Start = edf.Find("data run 2 start");
    ASSERT_NE(run2Start, nullptr);
    const int64_t at2 = index(run2Start->onset);
    EXPECT_NEAR(double(at2), (run2 + 6000 - firstTime) * 500 / 1e6, 1.0);
    const auto* gap = edf.Find("BAD pause between data runs");
    ASSERT_NE(gap, nullptr);
    EXPECT_NEAR(gap->onset, at(1000), 1000);
    EXPECT_NEAR(gap->duration_l, at(at2 - 1000), 1000);
    ASSERT_GE(edf.samples[0].size(), static_cast<size_t>(at2 + 600));
    for (int k = 0; k < 600; ++k)
        expectFrame(static_cast<size_t>(at2 + k), 1000 + k);
    EXPECT_EQ(edf.samples[0].size() % static_cast<size_t>(edf.hdr.signalparam[0].smp_in_datarecord), 0u);
    if (edf.samples[0].size() > static_cast<size_t>(at2 + 600)) {
        const auto* pad = edf.Find("BAD padding after the data");
        ASSERT_NE(pad, nullptr);
        EXPECT_NEAR(pad->onset, at(at2 + 600), 1000);
    }

    // Commands at their times (those before the first data frame at its start), runs marked.
    const auto* gain = edf.Find("gain pulse 1 = 4");
    ASSERT_NE(gain, nullptr);
    EXPECT_EQ(gain->onset, (gainTime - firstTime) * 10);
    EXPECT_NE(edf.Find("start (before data)"), nullptr);
    EXPECT_NE(edf.Find("start"), nullptr);
    EXPECT_NE(edf.Find("calibrate channel 3 = 120"), nullptr);
    EXPECT_NE(edf.Find("stop", 1), nullptr);
    for (const char* mark : {"data run 1 start", "data run 1 end", "data run 2 end"})
        EXPECT_NE(edf.Find(mark), nullptr) << mark;
}

TEST_F(DecodeTool, EdfKeepsEveryAnnotationOfANoisyCapture)
{
    // Every other frame fails its check: far more annotations than one a record, when each
    // stretch of missing samples is marked apart.
    Session s;
    std::vector<int> bad;
    for (int k = 1; k < 3000; k += 2)
        bad.push_back(k);
    s.Run(3000, 1000, 8, bad);
    const std::string edfPath = Out("n.edf");
    ASSERT_EQ(Decode({"-q", "--merge-bad", "0", "--edf", edfPath, Write("n.vcap", s.cap.Get())}).code, 0);
    const EdfFile edf(edfPath);
    ASSERT_TRUE(edf.ok);
    int nMissing = 0;
    for (const auto& a : edf.annotations)
        nMissing += std::string(a.annotation) == "BAD missing sample: check byte";
    EXPECT_EQ(nMissing, 1500);
    EXPECT_NE(edf.Find("data run 1 end"), nullptr);

    // A plain stream with --rate: one pass, annotations still all there.
    const std::string plainEdf = Out("p.edf");
    const Result r = Decode({"-q", "--merge-bad", "0", "--edf", plainEdf, "--rate", "1000"}, s.received);
    ASSERT_EQ(r.code, 0) << r.err;
    const EdfFile p(plainEdf);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.Rate(), 1000);
    nMissing = 0;
    for (const auto& a : p.annotations)
        nMissing += std::string(a.annotation) == "BAD missing sample: check byte";
    EXPECT_EQ(nMissing, 1500);
}

// A capture at the full line rate in which garbage of every length from 1 to 40 bytes lies
// between frames and some frames had a header byte hit: garbage shifts no sample, a frame whose
// sync, address or code byte was hit is one missing sample (a gap in the CSV's numbers, a BAD
// stretch in the EDF+ file) and one whose length byte was hit none, and the frame rate measured
// over the capture, the CSV's sample clock and the EDF+ rate are the sensor's.
TEST_F(DecodeTool, TimeBaseKeepsDestroyedFramesAndIgnoresGarbage)
{
    const double rate = 25600.0 / 21;
    const int nFrames = 3000;
    const std::map<int, int> hits = {{500, 0}, {900, 1}, {1300, 3}, {1700, 2}, {2100, 0}};  // frame, byte
    std::mt19937 rng(21);
    CaptureBuilder cap;
    cap.Sent(0, Command(proto::CODE_START, proto::ADDR_SENSOR));
    Bytes pending;
    const int64_t t0 = 20000;
    for (int k = 0; k < nFrames; ++k) {
        if (k >= 100 && k < 100 + 40 * 10 && k % 10 == 0) {
            for (int n = (k - 100) / 10 + 1; n > 0; --n) {
                const uint8_t b = static_cast<uint8_t>(rng());
                pending.push_back(b == proto::SYNC ? 0 : b);
            }
        }
        uint16_t w[8];
        FrameWords(k, w);
        Bytes f = DataFrame(w);
        const auto hit = hits.find(k);
        if (hit != hits.end())
            f[static_cast<size_t>(hit->second)] ^= 0x44;
        // Reads of five frames, each ending four bytes into the next frame, at that frame's time.
        pending.insert(pending.end(), f.begin(), f.begin() + 4);
        if (k % 5 == 0 && k > 0)
            cap.Recv(t0 + std::llround(k * 1e6 / rate), pending), pending.clear();
        pending.insert(pending.end(), f.begin() + 4, f.end());
    }
    cap.Recv(t0 + std::llround(nFrames * 1e6 / rate), pending);
    const std::string file = Write("tb.vcap", cap.Get());

    const std::string csv = Out("tb.csv"), edfPath = Out("tb.edf");
    const Result r = Decode({"-q", "--csv", csv, "--edf", edfPath, file});
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream rows(Slurp(csv));
    std::string line;
    std::getline(rows, line);
    std::vector<int> numbers;
    double clockError = 0;
    while (std::getline(rows, line)) {
        const int k = std::stoi(line);
        numbers.push_back(k);
        uint16_t w[8];
        FrameWords(k, w);
        EXPECT_EQ(line.find(std::to_string(w[0]) + "," + std::to_string(w[2])), line.find(',', line.find(',') + 1) + 1)
            << line;
        // The sample clock: frame k at t0 + (k + 1) / rate, the time of the read that would
        // complete it alone (each read completes the frame before the one it starts).
        const double clock = std::stod(line.substr(line.rfind(',') + 1));
        clockError = std::max(clockError, std::fabs(clock - (t0 + (k + 1) * 1e6 / rate) / 1e6));
    }
    EXPECT_LT(clockError, 2e-6);
    std::vector<int> expected;
    for (int k = 0; k < nFrames; ++k)
        if (!hits.count(k) || hits.at(k) == 2)
            expected.push_back(k);
    EXPECT_EQ(numbers, expected);

    const EdfFile edf(edfPath);
    ASSERT_TRUE(edf.ok);
    EXPECT_NEAR(edf.Rate(), rate, 0.5);
    ASSERT_GE(edf.samples[0].size(), static_cast<size_t>(nFrames));
    for (int k : expected)
        ASSERT_EQ(edf.samples[0][static_cast<size_t>(k)] + 32768, [k] { uint16_t w[8]; FrameWords(k, w); return int(w[0]); }());
    int nDestroyed = 0;
    for (const auto& a : edf.annotations) {
        if (std::string(a.annotation) != "BAD missing sample: frame header hit")
            continue;
        const long long at = std::llround(a.onset * edf.Rate() / 1e7);
        EXPECT_TRUE(hits.count(static_cast<int>(at)) && hits.at(static_cast<int>(at)) != 2) << "at sample " << at;
        ++nDestroyed;
    }
    EXPECT_EQ(nDestroyed, 4);

    const Result stats = Decode({"--stats", file});
    EXPECT_NE(stats.out.find("frame_rate_hz=1219.0\n"), std::string::npos) << stats.out;
}

TEST(EdfLayout, RecordsThatEdflibReadsBackAndARateWithinAFewHundredths)
{
    for (double rate : {1.0, 7.3, 20.0, 499.87, 500.0, 1219.047, 25000.0}) {
        const EdfLayout l = PlanEdfLayout(rate, 100000, 10);
        EXPECT_NEAR(l.SampleRate(), rate, rate * 5e-4) << rate;
        EXPECT_EQ(100000 % l.duration10us == 0 || l.duration10us % 100000 == 0, true) << l.duration10us;
    }
    // Many annotations: shorter records, more annotation room each, the rate still within 1 %.
    const EdfLayout busy = PlanEdfLayout(1219.047, 10000, 5000);
    EXPECT_LT(busy.duration10us, 100000);
    EXPECT_LE(5000.0 / (10000.0 / busy.samplesPerRecord), busy.annotationSignals);
    EXPECT_LE(busy.annotationSignals, 64);
    EXPECT_NEAR(busy.SampleRate(), 1219.047, 12.19);

    // Every planned duration survives EDFlib's header and its own reader.
    const std::string path = ::testing::TempDir() + "layout-" + std::to_string(::getpid()) + ".edf";
    for (double rate : {3.7, 499.68, 500.32, 1000.5, 1218.2}) {
        for (uint64_t annotations : {uint64_t(10), uint64_t(500000)}) {
            EdfPlan plan;
            plan.layout = PlanEdfLayout(rate, 20000, annotations);
            {
                CEdfExport edf(path, plan);
                uint16_t w[8] = {};
                uint8_t block[17];
                proto::BuildSampleBlock(w, block);
                for (int i = 0; i < 300; ++i)
                    edf.OnDataFrame(block, true, NO_TIME);
                ASSERT_TRUE(edf.Finish()) << edf.Error();
            }
            const EdfFile back(path);
            EXPECT_TRUE(back.ok) << rate << " Hz, duration " << plan.layout.duration10us;
        }
    }
    std::remove(path.c_str());
}

TEST_F(DecodeTool, EdfSplitsAtALongPauseIntoFilesWithTheirOwnStart)
{
    // Run 1; a stop; 15 minutes with the port open and a start sent at the end; run 2; a
    // pause of 20 s without a stop; run 3. The CSV keeps one file.
    Session s;
    s.cap.Sent(0, Command(proto::CODE_START, proto::ADDR_SENSOR));
    s.t = 5000;
    s.Run(500, 500, 4);
    s.cap.Sent(s.t + 1000, Command(proto::CODE_STOP, proto::ADDR_SENSOR));
    s.t += 3000;
    s.Recv({0xF0, 0x1F, 0x01, 0x33});
    const int64_t run2 = s.t + int64_t(15) * 60 * 1000000;
    s.cap.Sent(run2 - 5000, Command(proto::CODE_START, proto::ADDR_SENSOR));
    s.t = run2;
    s.Run(300, 500, 4);
    s.t += 20000000;
    s.Run(200, 500, 4);
    const Bytes bytes = s.cap.Get();

    const std::string edfPath = Out("s.edf"), edf2 = Out("s-2.edf"), csvPath = Out("s.csv");
    const Result r = Decode({"-q", "--edf", edfPath, "--csv", csvPath, Write("s.vcap", bytes)});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("data run 2 follows a pause of 900.0"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(edf2 + ", starting 2024-03-01 00:15:00."), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(Out("s-3.edf")));
    const std::string csv = Slurp(csvPath);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 1000);

    // Each file starts at its own first data frame (the read that completed it, 6 ms after
    // the first read of its run): the capture began at 2024-02-29 23:59:59.500.
    const EdfFile one(edfPath), two(edf2);
    ASSERT_TRUE(one.ok && two.ok);
    auto start = [](const EdfFile& f) {
        return (((int64_t(f.hdr.startdate_day) * 100 + f.hdr.starttime_hour) * 100 + f.hdr.starttime_minute) * 100 +
                f.hdr.starttime_second) * 10000000 + f.hdr.starttime_subsecond;
    };
    EXPECT_EQ(start(one), int64_t(29235959) * 10000000 + 5110000);
    LocalTime lt;
    ASSERT_TRUE(ParseIso8601(CaptureBuilder::DefaultHeader().start, lt));
    const LocalTime at2 = AddMicroseconds(lt, run2 + 6000);
    EXPECT_EQ(two.hdr.startdate_month * 100 + two.hdr.startdate_day, at2.month * 100 + at2.day);
    EXPECT_EQ(start(two), (((int64_t(at2.day) * 100 + at2.hour) * 100 + at2.minute) * 100 + at2.second) * 10000000 +
                              at2.microsecond / 100 * 1000);
    // File 1: run 1 and padding to a whole record; file 2: runs 2 and 3 with the short pause
    // filled, nothing of the long one.
    const size_t perRecord = static_cast<size_t>(one.hdr.signalparam[0].smp_in_datarecord);
    EXPECT_GE(one.samples[0].size(), 500u);
    EXPECT_LT(one.samples[0].size(), 500u + perRecord);
    const double pause = 20 + 3 * 2e-3;  // between the last frame of run 2 and the first of run 3, within a read
    EXPECT_NEAR(double(two.samples[0].size()), 300 + pause * two.Rate() + 200, double(perRecord) + 2);
    EXPECT_NE(two.Find("start (before data)"), nullptr) << "the start sent in the pause goes with run 2";
    EXPECT_EQ(two.Find("data run 2 start")->onset, 0);
    EXPECT_NE(two.Find("BAD pause between data runs"), nullptr);
    EXPECT_NE(two.Find("data run 3 start"), nullptr);
    EXPECT_EQ(one.Find("BAD pause between data runs"), nullptr);
    EXPECT_NE(one.Find("stop"), nullptr);
    EXPECT_EQ(one.Find("data run 2 start"), nullptr);

    // No usable start in the header: the EDF+ convention for an unknown start, and said so.
    CaptureHeader noStart = CaptureBuilder::DefaultHeader();
    noStart.start = "yesterday";
    CaptureBuilder b(noStart);
    b.Recv(10, DataFrame(7, true)).Recv(2000, DataFrame(8, true));
    const Result u = Decode({"-q", "--edf", edfPath, Write("u.vcap", b.Get())});
    ASSERT_EQ(u.code, 0) << u.err;
    EXPECT_NE(u.err.find("no usable start time; the EDF+ start is 01.01.85 00.00.00"), std::string::npos) << u.err;
    const EdfFile unknown(edfPath);
    ASSERT_TRUE(unknown.ok);
    EXPECT_EQ(unknown.hdr.startdate_year * 10000 + unknown.hdr.startdate_month * 100 + unknown.hdr.startdate_day, 19850101);
    EXPECT_EQ(start(unknown), int64_t(1000000) * 10000000);
}

#endif

} // namespace
