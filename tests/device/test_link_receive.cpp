// Receive side of the device link: what recognised frames do to the console's state, and the
// channel feed into pressures, waveform samples and the pressure column's repaint.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "fake_view.h"
#include "protocol.h"
#include "sensor_link.h"
#include "support/pty_pair.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes DataFrame(const std::array<uint16_t, 8>& words, bool good = true)
{
    Bytes f = {0xF0, 0x1F, 0x12, 0x32};
    f.resize(21);
    proto::BuildSampleBlock(words.data(), f.data() + 4);
    if (!good)
        f[20] ^= 0xFF;
    return f;
}
const std::array<uint16_t, 8> WORDS = {1000, 2048, 1500, 2100, 800, 1990, 512, 300};
const Bytes STOP = {0xF0, 0x1F, 0x01, 0x33};
const Bytes INFO = {0xF0, 0x1F, 0x05, 0x31, 0xA1, 0xB2, 0xC3, 0xD4};
const Bytes DATE = {0xF0, 0x1F, 0x05, 0x3A, 0x1C, 0x02, 0x08, 0x14};

class LinkReceive : public ::testing::Test {
protected:
    LinkReceive() { m_platform.m_dwTick = 5000; }
    // Bytes as one serial event would append them, then decoded.
    void Deliver(const Bytes& b)
    {
        m_link.m_ring.Append(b.data(), static_cast<int>(b.size()));
        DecodeFrames(m_link.m_ring, m_link);
    }
    void Pend(uint8_t code)
    {
        m_link.m_byPendingCode = code;
        m_link.m_byPendingAddr = 0x21;
        m_link.m_byPendingValue = 7;
        m_link.m_nSendCount = 2;
    }

    FakePlatform m_platform;
    ScopedPlatform m_scoped{m_platform};
    FakeView m_view;
    CSensorLink m_link{m_view};
};

TEST_F(LinkReceive, ObservingFlagFollowsTheSensor)
{
    Deliver(DataFrame(WORDS));
    EXPECT_EQ(m_link.m_bObserving, 1);
    EXPECT_EQ(m_view.EnableCalls(), 1);
    Deliver(DataFrame(WORDS));
    Deliver(DataFrame(WORDS, false));
    EXPECT_EQ(m_view.EnableCalls(), 1) << "later data frames change nothing";
    Deliver(STOP);
    EXPECT_EQ(m_link.m_bObserving, 0);
    EXPECT_EQ(m_view.EnableCalls(), 2);
    Deliver(STOP);  // while not observing: still a call, the flag stays 0
    EXPECT_EQ(m_link.m_bObserving, 0);
    EXPECT_EQ(m_view.EnableCalls(), 3);
    Deliver(DataFrame(WORDS, false));  // a bad block still starts a run
    EXPECT_EQ(m_link.m_bObserving, 1);
    EXPECT_EQ(m_view.EnableCalls(), 4);
    EXPECT_EQ(m_view.m_samples.size(), 2u) << "only the good blocks reach the waveform";
}

TEST_F(LinkReceive, EveryRecognisedFrameAnswersThePendingCommand)
{
    for (const Bytes& frame : {DataFrame(WORDS), DataFrame(WORDS, false), STOP, INFO, DATE}) {
        Pend(0x65);
        Deliver(frame);
        EXPECT_EQ(m_link.m_byPendingCode, 0);
        EXPECT_EQ(m_link.m_nSendCount, 0);
        EXPECT_EQ(m_link.m_byPendingAddr, 0x21) << "address and value stay";
        EXPECT_EQ(m_link.m_byPendingValue, 7);
    }
    // Garbage, unknown codes and an unfinished frame answer nothing and change nothing.
    Pend(0x34);
    Deliver({0x00, 0xF0, 0x1F, 0x00, 0x65, 0x01, 0xF0, 0x1F, 0x00, 0x34, 0xF0, 0x1F, 0x00, 0x31, 1, 2});
    EXPECT_EQ(m_link.m_byPendingCode, 0x34);
    EXPECT_EQ(m_link.m_nSendCount, 2);
    EXPECT_EQ(m_link.m_bObserving, 0);
    EXPECT_EQ(m_view.EnableCalls(), 2);  // the run started by the first data frame, and the stop
}

TEST_F(LinkReceive, InformationAndDateAreRecorded)
{
    Deliver(INFO);
    EXPECT_EQ(Bytes(m_link.m_byDeviceInfo, m_link.m_byDeviceInfo + 5), (Bytes{0xA1, 0xB2, 0xC3, 0xD4, 0}));
    Deliver(DATE);
    EXPECT_EQ(Bytes(m_link.m_byDeviceDate, m_link.m_byDeviceDate + 4), (Bytes{0x1C, 0x02, 0x08, 0x14}));
    EXPECT_EQ(m_link.m_strDeviceDate, QStringLiteral("2008-02-28"));
    EXPECT_EQ(m_link.m_bObserving, 0);
    EXPECT_EQ(m_view.EnableCalls(), 0);
}

TEST_F(LinkReceive, FeedSplitsTheBlock)
{
    Deliver(DataFrame({0xFFFF, 1, 0xFFFE, 2, 0x8000, 3, 0xFFFF, 0x8001}));
    EXPECT_EQ(m_link.m_nStaticPressure1, 65535);
    EXPECT_EQ(m_link.m_nStaticPressure2, 65534);
    EXPECT_EQ(m_link.m_nStaticPressure3, 32768);
    ASSERT_EQ(m_view.m_samples.size(), 1u);
    EXPECT_EQ(m_view.m_samples[0], (std::array<int, 5>{1, 2, 3, 65535, 0x8001}));

    // Too short a block changes nothing at all; so does none.
    uint8_t block[17];
    proto::BuildSampleBlock(WORDS.data(), block);
    m_link.FeedSampleBlock(block, 16);
    m_link.FeedSampleBlock(nullptr, 17);
    EXPECT_EQ(m_link.m_nStaticPressure1, 65535);
    EXPECT_EQ(m_view.m_samples.size(), 1u);

    // A stop keeps the last pressures.
    Deliver(STOP);
    EXPECT_EQ(m_link.m_nStaticPressure2, 65534);
}

TEST_F(LinkReceive, PressureColumnRepaintsAtMostEvery200ms)
{
    uint8_t block[17];
    proto::BuildSampleBlock(WORDS.data(), block);
    // (last paint, now, invalidated?) — including the tick's wrap-around.
    const struct { uint32_t paint, now; bool inval; } cases[] = {
        {5000, 5000, false}, {5000, 5200, false}, {5000, 5201, true}, {0, 201, true},
        {0xFFFFFF00u, 0x00000010u, true},   // 272 ms across the wrap
        {0xFFFFFFF0u, 0x00000050u, false},  // 96 ms across the wrap
        {0xFFFFFF9Cu, 0x0000002Cu, false},  // exactly 144 ms
        {0xFFFFFFFFu, 0x000000C7u, false},  // exactly 200 across the wrap
        {0xFFFFFFFFu, 0x000000C8u, true},   // 201 across the wrap
        {0x10, 0x0F, true},                 // "now" just before the paint: a huge difference
    };
    for (const auto& c : cases) {
        m_view.m_nInvalidate = 0;
        m_link.m_dwLastPaintTick = c.paint;
        m_platform.m_dwTick = c.now;
        m_link.FeedSampleBlock(block, 17);
        EXPECT_EQ(m_view.m_nInvalidate, c.inval ? 1 : 0) << c.paint << "->" << c.now;
    }
    // Until the paint runs, every further block invalidates again.
    m_view.m_nInvalidate = 0;
    m_link.m_dwLastPaintTick = 1000;
    m_platform.m_dwTick = 1300;
    m_link.FeedSampleBlock(block, 17);
    m_link.FeedSampleBlock(block, 17);
    EXPECT_EQ(m_view.m_nInvalidate, 2);
    // Without a window the values are kept but nothing is invalidated.
    m_view.m_bWindow = false;
    m_link.FeedSampleBlock(block, 17);
    EXPECT_EQ(m_view.m_nInvalidate, 2);
    EXPECT_EQ(m_view.m_samples.size(), std::size(cases) + 3);
}

TEST_F(LinkReceive, SerialEventsThroughAPseudoTerminal)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    CMSComm::MapPort(9, QString::fromStdString(pty.SlavePath()));
    QObject::connect(&m_link.m_comm, &CMSComm::OnComm, [this] { m_link.OnCommEvent(); });
    m_link.m_comm.SetCommPort(9);
    m_link.m_comm.SetInBufferSize(20480);
    m_link.m_comm.SetInputMode(1);
    m_link.m_comm.SetSettings(QStringLiteral("256000,n,8,1"));
    m_link.m_comm.SetRThreshold(1);
    m_link.m_comm.SetInputLen(0);
    m_link.m_comm.SetPortOpen(true);

    // A frame trickling in over several events is decoded once, when complete.
    const Bytes d = DataFrame(WORDS);
    for (size_t i = 0; i < d.size(); i += 6) {
        ASSERT_TRUE(pty.Write(Bytes(d.begin() + i, d.begin() + std::min(d.size(), i + 6))));
        WaitUntil([] { return false; }, 20);
    }
    EXPECT_TRUE(WaitUntil([&] { return m_view.m_samples.size() == 1; }));
    // A burst of many frames in few events.
    Bytes burst;
    for (int i = 0; i < 500; ++i)
        burst.insert(burst.end(), d.begin(), d.end());
    burst.insert(burst.end(), STOP.begin(), STOP.end());
    ASSERT_TRUE(pty.Write(burst));
    EXPECT_TRUE(WaitUntil([&] { return m_link.m_bObserving == 0 && m_view.EnableCalls() == 2; }));
    EXPECT_EQ(m_view.m_samples.size(), 501u);
    EXPECT_EQ(m_link.m_ring.Count(), 0);
    CMSComm::ClearPortMap();
}

} // namespace
