// Reopening the port: bytes left over from the connection before must not run into the new one.
#include "protocol.h"
#include "test_link_fixture.h"

namespace {

Bytes DataFrame(uint16_t wPulse1)
{
    const uint16_t w[proto::BLOCK_WORDS] = {0, wPulse1, 0, 0, 0, 0, 0, 0};
    Bytes frame = {proto::SYNC, proto::INBOUND_ADDR, 0x12, proto::CODE_DATA};
    frame.resize(proto::DATA_FRAME_LEN);
    proto::BuildSampleBlock(w, frame.data() + proto::HEADER_LEN);
    return frame;
}

TEST_F(LinkTest, AFrameCutShortByAClosedPortDoesNotSwallowTheFirstFrameAfterReopening)
{
    Open();
    Bytes cut = DataFrame(7);
    cut.resize(10);  // the sensor was unplugged mid-frame
    ASSERT_TRUE(m_pty.Write(cut));
    ASSERT_TRUE(WaitUntil([this] { return m_link.m_ring.Count() == 10; }));
    m_link.Guard([this] { m_link.OnOpenDevice(); });  // close
    ASSERT_FALSE(m_link.m_comm.GetPortOpen());
    Open();

    Bytes two = DataFrame(1);
    const Bytes second = DataFrame(2);
    two.insert(two.end(), second.begin(), second.end());
    ASSERT_TRUE(m_pty.Write(two));
    ASSERT_TRUE(WaitUntil([this] { return m_view.m_samples.size() >= 2; }, 1000));
    EXPECT_EQ(m_view.m_samples[0][0], 1);
    EXPECT_EQ(m_view.m_samples[1][0], 2);
    EXPECT_EQ(m_link.m_decodeStats.badCheck, 0u);
}

} // namespace
