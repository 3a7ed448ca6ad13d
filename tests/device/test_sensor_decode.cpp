// The sensor-decode tool run as a user runs it: a crafted capture in, lines and a summary out.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <random>
#include <vector>

#include "protocol.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Result {
    int code = -1;
    QByteArray out, err;
};

Result RunTool(const QStringList& args, const QByteArray& stdinBytes = {})
{
    QProcess p;
    p.start(QStringLiteral(SENSOR_DECODE_PATH), args);
    EXPECT_TRUE(p.waitForStarted());
    p.write(stdinBytes);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

void Append(QByteArray& s, const Bytes& b) { s.append(reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size())); }

Bytes DataFrame(const uint16_t (&words)[8], bool good = true)
{
    Bytes f = {0xF0, 0x1F, 0x12, 0x32};
    f.resize(21);
    proto::BuildSampleBlock(words, f.data() + 4);
    if (!good)
        f[20] = static_cast<uint8_t>(f[20] + 1);
    return f;
}

class SensorDecode : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString Write(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("capture.bin"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QTemporaryDir m_dir;
};

TEST_F(SensorDecode, CraftedCaptureGivesTheSameLinesForEveryChunkSize)
{
    QByteArray s;
    Append(s, {0x00, 0xF0, 0x55});                                           // 3 garbage bytes
    Append(s, DataFrame({1000, 2048, 1500, 2100, 800, 1990, 512, 300}));
    Append(s, DataFrame({0xFFFF, 0, 65535, 1, 2, 3, 4, 5}));
    Append(s, DataFrame({1, 2, 3, 4, 5, 6, 7, 8}, false));
    Append(s, {0xF0, 0x1F, 0x00, 0x34});                                     // no frame: 4 skipped
    Append(s, {0xF0, 0x1F, 0x01, 0x33});
    Append(s, {0xF0, 0x1F, 0x05, 0x31, 0, 127, 128, 255});
    Append(s, {0xF0, 0xF0, 0x1F, 0x05, 0x3A, 0x1C, 0x02, 0x08, 0x14});        // 1 skipped
    Append(s, {0xF0, 0x1F, 0x05, 0x3A, 5, 1, 123, 20});
    Append(s, {0xF0, 0x1F, 0x00, 0x31, 9, 9});                               // unfinished: left, not skipped
    const QByteArray expectOut =
        "data,1000,2048,1500,2100,800,1990,512,300\n"
        "data,65535,0,65535,1,2,3,4,5\n"
        "badcheck\n"
        "stop\n"
        "info,0,127,128,255\n"
        "date,2008-02-28\n"
        "date,20123-01-05\n";
    const QByteArray expectErr = "frames 3, badcheck 1, skipped 8 bytes\n";

    const QString path = Write(s);
    for (const QStringList& args : {QStringList{path}, QStringList{QStringLiteral("--chunk"), QStringLiteral("1"), path},
                                    QStringList{QStringLiteral("--chunk=7"), path},
                                    QStringList{path, QStringLiteral("--chunk"), QStringLiteral("100000")}}) {
        const Result r = RunTool(args);
        EXPECT_EQ(r.code, 0) << args.join(' ').toStdString();
        EXPECT_EQ(r.out, expectOut) << args.join(' ').toStdString();
        EXPECT_EQ(r.err, expectErr) << args.join(' ').toStdString();
    }
    const Result piped = RunTool({QStringLiteral("--chunk"), QStringLiteral("3")}, s);
    EXPECT_EQ(piped.code, 0);
    EXPECT_EQ(piped.out, expectOut);
    EXPECT_EQ(piped.err, expectErr);
}

TEST_F(SensorDecode, LongNoisyStreamIndependentOfChunking)
{
    // Far more than the ring holds, frames mixed with random bytes: chunks smaller and larger
    // than the ring all give the same result, and every planted frame is found.
    std::mt19937 rng(1234);
    QByteArray s;
    int nPlanted = 0;
    while (s.size() < 200000) {
        if (rng() % 4 == 0) {
            const int n = static_cast<int>(rng() % 30);
            for (int i = 0; i < n; ++i)
                s.append(static_cast<char>(rng() % 256 == 0 ? 0xF0 : 0x20 + rng() % 64));
        }
        uint16_t w[8];
        for (auto& x : w)
            x = static_cast<uint16_t>(rng());
        Append(s, DataFrame(w));
        ++nPlanted;
    }
    const QString path = Write(s);
    const Result ref = RunTool({path});
    ASSERT_EQ(ref.code, 0);
    EXPECT_EQ(ref.out.count('\n'), nPlanted);
    for (const char* chunk : {"1", "13", "20480", "65536"}) {
        const Result r = RunTool({QStringLiteral("--chunk"), QString::fromLatin1(chunk), path});
        EXPECT_EQ(r.out, ref.out) << "chunk " << chunk;
        EXPECT_EQ(r.err, ref.err) << "chunk " << chunk;
    }
}

TEST_F(SensorDecode, RefusalsAndEmptyInput)
{
    const Result empty = RunTool({}, QByteArray());
    EXPECT_EQ(empty.code, 0);
    EXPECT_EQ(empty.out, QByteArray());
    EXPECT_EQ(empty.err, "frames 0, badcheck 0, skipped 0 bytes\n");

    const QString missing = m_dir.filePath(QStringLiteral("no-such-capture.bin"));
    const Result r = RunTool({missing});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err.count('\n'), 1);
    EXPECT_TRUE(r.err.contains(missing.toUtf8())) << r.err.constData();

    for (const QStringList& bad : {QStringList{QStringLiteral("--chunk")}, QStringList{QStringLiteral("--chunk"), QStringLiteral("0")},
                                   QStringList{QStringLiteral("--chunk=x")}, QStringList{QStringLiteral("--bogus")}}) {
        const Result u = RunTool(bad);
        EXPECT_EQ(u.code, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(u.out.isEmpty());
    }
}

} // namespace
