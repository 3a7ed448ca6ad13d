// The capture reader's fuzz harness as a plain test: every seed capture, then captures made at
// random and damaged at random. Same checks as fuzz-capture.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "capture_format.h"
#include "capture_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomCapture(std::mt19937& rng)
{
    capture::CaptureHeader header;
    header.start = "2025-03-01T09:30:00.125+01:00";
    header.port = static_cast<int>(rng() % 20);
    header.path = rng() % 2 ? "/dev/ttyUSB0" : "";
    header.settings = "256000,n,8,1";
    Bytes file = capture::EncodeHeader(header);
    int64_t t = 0;
    const int nRecords = static_cast<int>(rng() % 12);
    for (int i = 0; i < nRecords; ++i) {
        // Now and then a read larger than the receive ring.
        Bytes data(rng() % 50 == 0 ? 20000 + rng() % 10000 : rng() % 80);
        for (size_t k = 0; k < data.size(); ++k)
            data[k] = k % 21 == 0 ? 0xF0 : k % 21 == 1 ? 0x1F : k % 21 == 3 ? 0x32 : static_cast<uint8_t>(rng());
        t += rng() % 3000;
        uint8_t head[capture::RECORD_HEADER_LEN];
        capture::EncodeRecordHeader(rng() % 4 ? capture::Direction::Received : capture::Direction::Sent, t, data.size(), head);
        file.insert(file.end(), head, head + sizeof head);
        file.insert(file.end(), data.begin(), data.end());
    }
    return file;
}

// A flipped byte, a cut, a run of bytes inserted or removed.
void Damage(Bytes& b, std::mt19937& rng)
{
    const int nHits = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < nHits && !b.empty(); ++i) {
        const size_t at = rng() % b.size();
        switch (rng() % 4) {
        case 0: b[at] ^= static_cast<uint8_t>(1 + rng() % 255); break;
        case 1: b.resize(at); break;
        case 2: b.insert(b.begin() + static_cast<long>(at), rng() % 12, static_cast<uint8_t>(rng())); break;
        default: b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(std::min(b.size(), at + rng() % 12))); break;
        }
    }
}

} // namespace

TEST(FuzzCapture, SeedCorpus)
{
    const char* pszSource = std::getenv("VELTRIN_SOURCE_DIR");
    ASSERT_NE(pszSource, nullptr);
    const std::string dir = std::string(pszSource) + "/fuzz/corpus/capture";
    DIR* d = ::opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    int nSeeds = 0;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream in(dir + "/" + e->d_name, std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(CheckCaptureInput(bytes.data(), bytes.size()), "") << e->d_name;
        ++nSeeds;
    }
    ::closedir(d);
    EXPECT_GE(nSeeds, 20);
}

TEST(FuzzCapture, RandomAndDamagedCaptures)
{
    std::mt19937 rng(1410);
    for (int i = 0; i < 3000; ++i) {
        Bytes b = RandomCapture(rng);
        if (i % 3 != 0)
            Damage(b, rng);
        ASSERT_EQ(CheckCaptureInput(b.data(), b.size()), "") << "capture " << i;
    }
    for (int i = 0; i < 500; ++i) {
        Bytes b(rng() % 200);
        for (uint8_t& x : b)
            x = static_cast<uint8_t>(rng());
        if (i % 2 == 0 && b.size() >= 8)
            std::copy(capture::MAGIC, capture::MAGIC + capture::MAGIC_LEN, b.begin());
        ASSERT_EQ(CheckCaptureInput(b.data(), b.size()), "") << "raw input " << i;
    }
}
