// The link figures and the light against the real device link over a pseudo-terminal, on a
// fake clock: silence after opening, a command that goes unanswered, a stream with garbage and
// corrupt frames, a ring overflow, and closing.
#include "device/test_link_fixture.h"
#include "link_monitor.h"
#include "support/data_frame.h"

namespace {

using analysis::LinkLight;

class LinkFiguresTest : public LinkTest {
protected:
    LinkFiguresTest() { m_link.AddObserver(&m_monitor); }
    uint64_t Now() const { return uint64_t(m_platform.m_dwTick) * 1000; }
    analysis::LinkFigures Figures() const { return m_monitor.Link(Now()); }
    LinkLight Light() const { return m_monitor.Light(Now()); }
    void Tick(uint32_t ms)
    {
        m_platform.Advance(ms);
        m_link.Guard([this] { m_link.OnTimer(1); });
    }
    void Stream(const Bytes& bytes, uint64_t frames)
    {
        const uint64_t before = Figures().qwFrames;
        ASSERT_TRUE(m_pty.Write(bytes));
        ASSERT_TRUE(WaitUntil([&] { return Figures().qwFrames == before + frames; }));
    }

    analysis::CLinkMonitor m_monitor;
};

} // namespace

TEST_F(LinkFiguresTest, SilenceThenAnUnansweredCommand)
{
    EXPECT_EQ(Light(), LinkLight::Closed);
    Open();
    EXPECT_TRUE(Figures().bPortOpen);
    EXPECT_EQ(Light(), LinkLight::Quiet);
    m_platform.Advance(1999);
    EXPECT_EQ(Light(), LinkLight::Quiet);
    m_platform.Advance(1);
    EXPECT_EQ(Light(), LinkLight::Stalled);  // open, and nothing for two seconds
    EXPECT_FALSE(Figures().sinceLastFrameS);

    // Start goes out three times and is then given up.
    Act([this] { m_link.OnStartObserve(); });
    for (int i = 0; i < 3; ++i)
        Tick(RESEND_AFTER_MS + 1);
    analysis::LinkFigures f = Figures();
    EXPECT_EQ(f.qwCommandsSent, 1u);
    EXPECT_EQ(f.qwCommandsResent, 2u);
    EXPECT_EQ(f.qwCommandsUnanswered, 1u);
    Tick(RESEND_AFTER_MS + 1);
    EXPECT_EQ(Figures().qwCommandsUnanswered, 1u);  // told once
    EXPECT_EQ(Light(), LinkLight::Stalled);
    EXPECT_EQ(Wire(12), (Bytes{0xF0, 0x2F, 0x01, 0x32, 0xF0, 0x2F, 0x01, 0x32, 0xF0, 0x2F, 0x01, 0x32}));

    // The sensor wakes up: the first data frame answers and the light goes green.
    Stream(DataFrame(1, true), 1);
    EXPECT_EQ(Light(), LinkLight::Receiving);
    m_link.Guard([this] { m_link.OnOpenDevice(); });
    EXPECT_EQ(Light(), LinkLight::Closed);
    EXPECT_FALSE(Figures().bPortOpen);
}

TEST_F(LinkFiguresTest, GarbageCorruptFramesAndTheLastSecond)
{
    Open();
    Bytes bytes = {0x00, 0x11, 0xF0, 0x22};  // passed over
    for (int i = 0; i < 10; ++i) {
        const Bytes f = DataFrame(static_cast<uint16_t>(i), i != 4);
        bytes.insert(bytes.end(), f.begin(), f.end());
    }
    Stream(bytes, 10);
    analysis::LinkFigures f = Figures();
    EXPECT_EQ(f.qwFrames, 10u);
    EXPECT_EQ(f.qwBadCheck, 1u);
    EXPECT_EQ(f.qwSkippedBytes, 4u);
    EXPECT_EQ(f.dFrameRate, 10);
    EXPECT_EQ(Light(), LinkLight::BadCheck);
    ASSERT_TRUE(f.sinceLastFrameS);
    EXPECT_EQ(*f.sinceLastFrameS, 0);

    m_platform.Advance(500);
    Stream(DataFrame(20, true), 1);
    EXPECT_EQ(Figures().dFrameRate, 11);
    m_platform.Advance(499);
    EXPECT_EQ(Light(), LinkLight::BadCheck);  // red for a second after the bad frame
    m_platform.Advance(1);
    EXPECT_EQ(Light(), LinkLight::Receiving);
    EXPECT_EQ(Figures().dFrameRate, 1);      // the first ten are a second old
    m_platform.Advance(500);
    EXPECT_EQ(Light(), LinkLight::Quiet);
    f = Figures();
    EXPECT_NEAR(*f.sinceLastFrameS, 1.0, 1e-9);
    ASSERT_TRUE(f.frameRateSinceOpen);
    EXPECT_NEAR(*f.frameRateSinceOpen, 11 / 1.5, 1e-9);
}

TEST_F(LinkFiguresTest, RingOverflowIsCountedAndItsFramesKeepTheirSlots)
{
    Open();
    Stream(DataFrame(1, true), 1);
    // Hold the serial events back so the reads pile up in the serial layer (up to its buffer
    // size, the ring's size), then take them in one go: one byte more than the ring keeps.
    QObject::disconnect(&m_link.m_comm, &CMSComm::OnComm, nullptr, nullptr);
    Bytes frames;
    for (int i = 0; i < 1000; ++i) {
        const Bytes f = DataFrame(static_cast<uint16_t>(i), true);
        frames.insert(frames.end(), f.begin(), f.end());
    }
    for (int sent = 0; sent < RING_SIZE; sent += 2048) {
        const int n = std::min(2048, RING_SIZE - sent);
        ASSERT_TRUE(m_pty.Write(Bytes(frames.begin() + sent, frames.begin() + sent + n)));
        ASSERT_TRUE(WaitUntil([&] { return m_link.m_comm.GetInBufferCount() == sent + n; }));
    }
    m_link.Guard([this] { m_link.OnCommEvent(); });
    const analysis::LinkFigures f = Figures();
    EXPECT_EQ(f.qwRingDropped, 1u);
    EXPECT_EQ(m_link.m_qwRingDropped, 1u);
    // The frame that lost its first byte is passed over; its slot is kept.
    EXPECT_EQ(f.qwSkippedBytes, 20u);
    EXPECT_EQ(f.qwFrames, 1 + RING_SIZE / 21 - 1);
    EXPECT_EQ(m_monitor.Analysis().LostSlots(), 1u);
}

TEST_F(LinkFiguresTest, GarbageTakesNoSlotAFrameWhoseHeaderWasHitTakesOne)
{
    Open();
    Stream(DataFrame(1, true), 1);
    Bytes garbage(30, 0x5A);  // more than a frame's worth, and no frame in it
    Bytes s = garbage;
    const Bytes next = DataFrame(2, true);
    s.insert(s.end(), next.begin(), next.end());
    Stream(s, 1);
    EXPECT_EQ(Figures().qwSkippedBytes, 30u);
    EXPECT_EQ(m_monitor.Analysis().LostSlots(), 0u);

    Bytes hit = DataFrame(3, true);
    hit[1] ^= 0x44;
    const Bytes after = DataFrame(4, true);
    hit.insert(hit.end(), after.begin(), after.end());
    Stream(hit, 1);
    EXPECT_EQ(Figures().qwSkippedBytes, 30u + 21u);
    EXPECT_EQ(m_monitor.Analysis().LostSlots(), 1u);
}

TEST(LinkFiguresSinceObserving, CountFromTheFirstDataFrameToTheStop)
{
    analysis::CLinkMonitor m;
    const uint8_t block[17] = {};
    m.PortOpened(0);
    EXPECT_FALSE(m.Link(5000000).frameRateSinceObserving);  // open, not observing yet
    // 100 frames a second in bursts of ten from 5 s on; the first burst came in at once.
    auto stream = [&](uint64_t fromUs, int nBursts) {
        for (int b = 0; b < nBursts; ++b)
            for (int i = 0; i < 10; ++i)
                m.DataFrame(fromUs + uint64_t(b) * 100000, block, i != 4);
    };
    stream(5000000, 20);
    analysis::LinkFigures f = m.Link(6900000);
    ASSERT_TRUE(f.frameRateSinceObserving);
    EXPECT_NEAR(*f.frameRateSinceObserving, 100, 1e-9);
    EXPECT_NEAR(*f.frameRateSinceOpen, 200 / 6.9, 1e-9);  // the wait before observing counts there
    // A stop ends the stretch: its figure stays; the next stretch starts afresh.
    m.StopAck(7000000);
    EXPECT_NEAR(*m.Link(60000000).frameRateSinceObserving, 95, 1e-9);
    stream(61000000, 11);
    EXPECT_NEAR(*m.Link(62000000).frameRateSinceObserving, 100, 1e-9);
    m.PortOpened(63000000);
    EXPECT_FALSE(m.Link(64000000).frameRateSinceObserving);
}
