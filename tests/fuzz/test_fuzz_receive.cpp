// The receive harness as a plain test: every input of the seed corpus, then random inputs made
// of frames, false headers and garbage cut into random events. Same checks as fuzz-receive.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <random>
#include <vector>

#include "protocol.h"
#include "receive_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A byte stream a sensor, a broken line or a hostile device might send.
Bytes RandomStream(std::mt19937& rng)
{
    Bytes s;
    const int nPieces = static_cast<int>(rng() % 60);
    for (int i = 0; i < nPieces; ++i) {
        const uint32_t kind = rng() % 8;
        uint8_t frame[32] = {proto::SYNC, proto::INBOUND_ADDR, static_cast<uint8_t>(rng())};
        int nLen = 0;
        if (kind <= 3) {
            uint16_t words[proto::BLOCK_WORDS];
            for (uint16_t& w : words)
                w = static_cast<uint16_t>(rng());
            frame[3] = proto::CODE_DATA;
            proto::BuildSampleBlock(words, frame + proto::HEADER_LEN);
            if (kind == 3)
                frame[proto::HEADER_LEN + proto::BLOCK_DATA_LEN] ^= static_cast<uint8_t>(1 + rng() % 255);
            nLen = proto::DATA_FRAME_LEN;
        } else if (kind == 4) {
            const uint8_t codes[] = {proto::CODE_INFO, proto::CODE_STOP, proto::CODE_DATE};
            frame[3] = codes[rng() % 3];
            for (int k = 4; k < 8; ++k)
                frame[k] = static_cast<uint8_t>(rng());
            nLen = proto::InboundFrameLength(frame[3]);
        } else if (kind == 5) {
            frame[3] = proto::CODE_DATA;  // a false data header alone
            nLen = proto::HEADER_LEN;
        } else {
            nLen = static_cast<int>(rng() % 30);
            for (int k = 0; k < nLen; ++k)
                frame[k] = static_cast<uint8_t>(rng());
        }
        s.insert(s.end(), frame, frame + nLen);
    }
    return s;
}

// The harness's input: ring and store choices, then the stream cut into events.
Bytes RandomInput(std::mt19937& rng)
{
    Bytes in;
    in.push_back(rng() % 4 == 0 ? 0x80 : static_cast<uint8_t>(rng() % 128));
    in.push_back(static_cast<uint8_t>(rng()));
    const Bytes stream = RandomStream(rng);
    size_t i = 0;
    while (i < stream.size()) {
        if (rng() % 40 == 0) {
            // A burst: one short piece repeated into a large event.
            const size_t nPiece = std::min<size_t>(1 + rng() % 64, stream.size() - i);
            in.insert(in.end(), {0xFF, static_cast<uint8_t>(rng()), static_cast<uint8_t>(nPiece)});
            in.insert(in.end(), stream.begin() + i, stream.begin() + i + nPiece);
            i += nPiece;
            continue;
        }
        const size_t n = std::min<size_t>(rng() % 64, stream.size() - i);
        in.push_back(static_cast<uint8_t>(n));
        in.insert(in.end(), stream.begin() + i, stream.begin() + i + n);
        i += n;
    }
    return in;
}

} // namespace

TEST(FuzzReceive, SeedCorpus)
{
    const QDir dir(QString::fromLocal8Bit(qgetenv("VELTRIN_SOURCE_DIR")) + QStringLiteral("/fuzz/corpus/receive"));
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 20) << dir.path().toStdString();
    for (const QString& name : names) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_EQ(CheckReceiveInput(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())), "")
            << name.toStdString();
    }
}

TEST(FuzzReceive, RandomInputs)
{
    std::mt19937 rng(20240614);
    for (int i = 0; i < 1500; ++i) {
        const Bytes in = RandomInput(rng);
        const std::string strFailure = CheckReceiveInput(in.data(), in.size());
        ASSERT_EQ(strFailure, "") << "input " << i;
    }
    // Bytes with no structure at all.
    for (int i = 0; i < 500; ++i) {
        Bytes in(rng() % 600);
        for (uint8_t& b : in)
            b = static_cast<uint8_t>(rng());
        ASSERT_EQ(CheckReceiveInput(in.data(), in.size()), "") << "raw input " << i;
    }
}
