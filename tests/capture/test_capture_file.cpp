// The capture file: writer and reader round trips, a file cut at every byte, refused headers
// and records, and the writer's flushing and failures.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <regex>

#include "capture_builder.h"
#include "capture_reader.h"
#include "capture_writer.h"

using namespace capture;

namespace {

std::string TempPath(const char* name)
{
    return ::testing::TempDir() + "capture-" + std::to_string(::getpid()) + "-" + name;
}

struct Rec {
    Direction dir;
    int64_t t;
    Bytes bytes;
    bool operator==(const Rec& o) const { return dir == o.dir && t == o.t && bytes == o.bytes; }
};

std::vector<Rec> ReadAll(IByteSource& src, ReadResult* pEnd = nullptr, CaptureHeader* pHeader = nullptr)
{
    CCaptureReader reader(src);
    std::vector<Rec> out;
    if (!reader.ReadHeader()) {
        if (pEnd)
            *pEnd = ReadResult::Error;
        return out;
    }
    if (pHeader)
        *pHeader = reader.Header();
    CaptureRecord rec;
    ReadResult r;
    while ((r = reader.Next(rec)) == ReadResult::Record)
        out.push_back({rec.dir, rec.timeUs, rec.bytes});
    if (pEnd)
        *pEnd = r;
    return out;
}

off_t FileSize(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST(CaptureFile, RandomSessionsRoundTrip)
{
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::mt19937 rng(seed);
        CaptureHeader h;
        h.start = NowIso8601();
        h.port = static_cast<int>(rng() % 9 + 1);
        h.path = "/dev/ttyS" + std::to_string(rng() % 4);
        h.settings = "256000,n,8,1";
        h.writer = "test";
        const std::string path = TempPath("round");
        CCaptureWriter w;
        ASSERT_TRUE(w.Open(path, h)) << w.Error();

        std::vector<Rec> expect;
        int64_t t = 0;
        const int n = 1 + static_cast<int>(rng() % 200);
        for (int i = 0; i < n; ++i) {
            t += rng() % 3 == 0 ? 0 : static_cast<int64_t>(rng() % 5000000);
            const Direction dir = rng() % 4 == 0 ? Direction::Sent : Direction::Received;
            // Now and then a read larger than one record holds: it is split, same time.
            const size_t len = rng() % 50 == 0 ? MAX_RECORD_BYTES + rng() % 1000 : rng() % 300;
            Bytes b(len);
            for (auto& x : b)
                x = static_cast<uint8_t>(rng());
            ASSERT_TRUE(w.Append(dir, t, b.data(), b.size()));
            for (size_t done = 0; done < len;) {
                const size_t k = std::min(len - done, MAX_RECORD_BYTES);
                expect.push_back({dir, t, Bytes(b.begin() + done, b.begin() + done + k)});
                done += k;
            }
        }
        ASSERT_TRUE(w.Close());
        EXPECT_EQ(static_cast<off_t>(w.BytesWritten()), FileSize(path));

        std::FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        CFileSource src(f);
        ReadResult end;
        CaptureHeader got;
        const std::vector<Rec> recs = ReadAll(src, &end, &got);
        std::fclose(f);
        std::remove(path.c_str());
        EXPECT_EQ(end, ReadResult::End);
        EXPECT_TRUE(recs == expect) << "seed " << seed;
        EXPECT_EQ(got.start, h.start);
        EXPECT_EQ(got.port, h.port);
        EXPECT_EQ(got.path, h.path);
        EXPECT_EQ(got.settings, h.settings);
        EXPECT_EQ(got.writer, h.writer);
    }
}

TEST(CaptureFile, CutAtEveryByteReadsUpToTheLastWholeRecord)
{
    CaptureBuilder b;
    std::vector<size_t> ends;  // file length after each whole record
    const size_t headerLen = b.Size();
    b.Sent(0, Command(proto::CODE_START, proto::ADDR_SENSOR));
    ends.push_back(b.Size());
    b.Recv(1500, {});
    ends.push_back(b.Size());
    uint16_t w[8];
    FrameWords(1, w);
    b.Recv(2000, DataFrame(w));
    ends.push_back(b.Size());
    b.Recv(2000, {0xF0, 0x1F});
    ends.push_back(b.Size());
    b.Sent(9000, Command(proto::CODE_GAIN, proto::ADDR_CH2, 4));
    ends.push_back(b.Size());
    const Bytes full = b.Get();

    for (size_t cut = 0; cut <= full.size(); ++cut) {
        CMemorySource src(full.data(), cut);
        CCaptureReader reader(src);
        if (cut < headerLen) {
            EXPECT_FALSE(reader.ReadHeader()) << cut;
            EXPECT_NE(reader.Error().find("cut short"), std::string::npos) << cut << ": " << reader.Error();
            continue;
        }
        ASSERT_TRUE(reader.ReadHeader()) << cut;
        size_t whole = 0;
        while (whole < ends.size() && ends[whole] <= cut)
            ++whole;
        CaptureRecord rec;
        size_t n = 0;
        ReadResult r;
        while ((r = reader.Next(rec)) == ReadResult::Record)
            ++n;
        EXPECT_EQ(n, whole) << cut;
        const size_t lastEnd = whole ? ends[whole - 1] : headerLen;
        if (cut == lastEnd) {
            EXPECT_EQ(r, ReadResult::End) << cut;
        } else {
            EXPECT_EQ(r, ReadResult::Truncated) << cut;
            EXPECT_EQ(reader.ErrorOffset(), lastEnd) << cut;
            EXPECT_EQ(reader.Next(rec), ReadResult::Truncated) << "it keeps saying so";
        }
    }
}

TEST(CaptureFile, RefusedHeadersAndRecordsNameTheOffset)
{
    CaptureHeader v3 = CaptureBuilder::DefaultHeader();
    v3.version = 3;
    Bytes longText = CaptureBuilder().Get();
    longText[10] = 0x89;  // 5001 bytes of header text
    longText[11] = 0x13;
    const size_t h = CaptureBuilder().Size();
    struct Row {
        const char* name;
        Bytes bytes;
        uint64_t offset;
        const char* message;
    } rows[] = {
        {"unknown version", CaptureBuilder(v3).Get(), 8, "version 3 is not supported"},
        {"header text too long", longText, 10, "longer than"},
        {"not a capture", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'}, 0, "not a capture"},
        {"bad direction", CaptureBuilder().Recv(5, {1}).Record(Direction('X'), 6, {2}).Get(), h + 12, "direction 0x58"},
        {"negative time", CaptureBuilder().Recv(-1, {1}).Get(), h, "negative"},
        {"time backwards", CaptureBuilder().Recv(7, {1}).Sent(9, {2}).Recv(8, {3}).Get(), h + 24, "backwards"},
    };
    for (const Row& row : rows) {
        CMemorySource src(row.bytes);
        CCaptureReader reader(src);
        ReadResult r = ReadResult::Error;
        if (reader.ReadHeader()) {
            CaptureRecord rec;
            while ((r = reader.Next(rec)) == ReadResult::Record) {}
        }
        EXPECT_EQ(r, ReadResult::Error) << row.name;
        EXPECT_EQ(reader.ErrorOffset(), row.offset) << row.name;
        EXPECT_NE(reader.Error().find(row.message), std::string::npos) << row.name << ": " << reader.Error();
    }
}

TEST(CaptureFile, HeaderTextAndTimes)
{
    CaptureHeader h;
    h.start = "2025-01-02T03:04:05.678-05:30";
    h.path = "/dev/tty\nport=9";  // a line feed cannot smuggle in a field
    const Bytes bytes = EncodeHeader(h);
    CMemorySource src(bytes);
    CaptureHeader got;
    ReadResult end;
    ReadAll(src, &end, &got);
    EXPECT_EQ(end, ReadResult::End);
    EXPECT_EQ(got.path, "/dev/tty");
    EXPECT_EQ(got.port, 0);

    EXPECT_TRUE(std::regex_match(NowIso8601(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
        << NowIso8601();
    LocalTime lt;
    ASSERT_TRUE(ParseIso8601(h.start, lt));
    EXPECT_EQ(lt.microsecond, 678000);
    // Across a leap day and a year's end.
    ASSERT_TRUE(ParseIso8601("2024-02-28T23:59:59.900000+00:00", lt));
    LocalTime next = AddMicroseconds(lt, 200000);
    EXPECT_EQ(next.month * 100 + next.day, 229);
    EXPECT_EQ(next.microsecond, 100000);
    ASSERT_TRUE(ParseIso8601("2023-12-31T23:00:00+01:00", lt));
    next = AddMicroseconds(lt, int64_t(3600) * 1000000 * 25);
    EXPECT_EQ(next.year * 10000 + next.month * 100 + next.day, 20240102);
    EXPECT_EQ(next.hour, 0);
    EXPECT_FALSE(ParseIso8601("2023-13-01T00:00:00", lt));
    EXPECT_FALSE(ParseIso8601("yesterday", lt));
}

TEST(CaptureWriter, WritesOutOnceASecondAndKeepsTimesInOrder)
{
    const std::string path = TempPath("flush");
    CCaptureWriter w;
    ASSERT_TRUE(w.Open(path, CaptureBuilder::DefaultHeader()));
    const off_t header = FileSize(path);
    EXPECT_GT(header, 0) << "the header is on the disk at once";
    const uint8_t data[21] = {0xF0, 0x1F, 0x12, 0x32};
    ASSERT_TRUE(w.Append(Direction::Received, 400000, data, sizeof data));
    ASSERT_TRUE(w.Append(Direction::Received, 900000, data, sizeof data));
    EXPECT_EQ(FileSize(path), header) << "within the second, records wait in the buffer";
    ASSERT_TRUE(w.Append(Direction::Received, 1000000, data, sizeof data));
    EXPECT_EQ(FileSize(path), static_cast<off_t>(w.BytesWritten())) << "a second on, all is written out";
    ASSERT_TRUE(w.Append(Direction::Sent, 1200000, data, 4));
    ASSERT_TRUE(w.FlushIfDue(1500000));
    EXPECT_LT(FileSize(path), static_cast<off_t>(w.BytesWritten()));
    ASSERT_TRUE(w.FlushIfDue(2000000));
    EXPECT_EQ(FileSize(path), static_cast<off_t>(w.BytesWritten()));
    // A clock that steps back never puts the file out of order.
    ASSERT_TRUE(w.Append(Direction::Received, 100, data, 1));
    ASSERT_TRUE(w.Close());

    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    CFileSource src(f);
    ReadResult end;
    const auto recs = ReadAll(src, &end);
    std::fclose(f);
    std::remove(path.c_str());
    EXPECT_EQ(end, ReadResult::End);
    ASSERT_EQ(recs.size(), 5u);
    EXPECT_EQ(recs[4].t, 1200000);
}

TEST(CaptureWriter, UnwritableFileNamesTheFileAndTheReason)
{
    const std::string path = TempPath("no-such-dir") + "/x.vcap";
    CCaptureWriter w;
    EXPECT_FALSE(w.Open(path, CaptureHeader()));
    EXPECT_FALSE(w.IsOpen());
    EXPECT_NE(w.Error().find(path), std::string::npos) << w.Error();
    EXPECT_NE(w.Error().find(std::strerror(ENOENT)), std::string::npos) << w.Error();
    const uint8_t b = 1;
    EXPECT_FALSE(w.Append(Direction::Received, 0, &b, 1));

#ifdef __linux__
    // A disk that fills up: the failure is reported, not swallowed.
    CCaptureWriter full;
    if (full.Open("/dev/full", CaptureHeader()))
        FAIL() << "writing the header to /dev/full succeeded";
    EXPECT_NE(full.Error().find(std::strerror(ENOSPC)), std::string::npos) << full.Error();
#endif
}

} // namespace

namespace {

TEST(CaptureWriter, SilenceOfDaysIsBridgedSoTheFileStaysReadable)
{
    // Readers take a jump of more than a day for a damaged time; a writer whose line was
    // quiet for three days bridges it with empty records and loses nothing.
    const int64_t day = MAX_RECORD_GAP_US;
    const std::string path = TempPath("days");
    CCaptureWriter w;
    ASSERT_TRUE(w.Open(path, CaptureBuilder::DefaultHeader()));
    const uint8_t data[2] = {1, 2};
    ASSERT_TRUE(w.Append(Direction::Received, 5, data, 2));
    ASSERT_TRUE(w.Append(Direction::Sent, 3 * day + 7, data, 2));
    ASSERT_TRUE(w.Close());
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    CFileSource src(f);
    ReadResult end;
    const auto recs = ReadAll(src, &end);
    std::fclose(f);
    std::remove(path.c_str());
    EXPECT_EQ(end, ReadResult::End);
    const std::vector<Rec> expect = {{Direction::Received, 5, Bytes(data, data + 2)}, {Direction::Received, day + 5, {}},
                                     {Direction::Received, 2 * day + 5, {}}, {Direction::Received, 3 * day + 5, {}},
                                     {Direction::Sent, 3 * day + 7, Bytes(data, data + 2)}};
    EXPECT_TRUE(recs == expect);
}

} // namespace
