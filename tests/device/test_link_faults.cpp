// Faults of the device link that a new user runs into: readouts left behind by a stream that
// ends right after a paint, the status with the port closed and after a lost device, a write that the device does not
// take, and the first frame after reopening a port lost in the middle of a frame.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "protocol.h"
#include "support/data_frame.h"
#include "resource_ids.h"
#include "test_link_fixture.h"

namespace {

// Output stopped on the console's side of the line, as on an adapter that takes no more data.
class WedgedLine {
public:
    explicit WedgedLine(const std::string& slavePath)
        : m_fd(::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        if (m_fd >= 0)
            ::tcflow(m_fd, TCOOFF);
    }
    ~WedgedLine() { Release(); }
    bool Ok() const { return m_fd >= 0; }
    void Release()
    {
        if (m_fd < 0)
            return;
        ::tcflow(m_fd, TCOON);
        ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

} // namespace

TEST_F(LinkTest, ReadoutsCatchUpWhenTheFeedSkippedARepaint)
{
    uint8_t block[proto::BLOCK_LEN];
    const Bytes frame = DataFrame(11, 22, 33);
    std::copy(frame.begin() + proto::HEADER_LEN, frame.end(), block);

    // The dialog painted 50 ms ago (a caption changed, say); the last frames of a stream arrive.
    m_link.m_dwLastPaintTick = m_platform.m_dwTick;
    m_platform.Advance(50);
    m_link.FeedSampleBlock(block, proto::BLOCK_LEN);
    m_platform.Advance(30);
    m_link.FeedSampleBlock(block, proto::BLOCK_LEN);
    EXPECT_EQ(m_view.m_nInvalidate, 0) << "the pacing holds";
    ASSERT_EQ(m_view.m_timerDelays, std::vector<uint32_t>{PRESSURE_REPAINT_MS}) << "one timer, not one per frame";

    // The stream has ended; the timer repaints once.
    m_platform.Advance(PRESSURE_REPAINT_MS);
    m_link.OnPressureRepaintTimer();
    EXPECT_EQ(m_view.m_nInvalidate, 1);
    m_link.OnPressureRepaintTimer();
    EXPECT_EQ(m_view.m_nInvalidate, 1) << "nothing owed any more";

    // A timer that finds the column already repainted by a later frame does nothing.
    m_link.m_dwLastPaintTick = m_platform.m_dwTick;
    m_link.FeedSampleBlock(block, proto::BLOCK_LEN);
    ASSERT_EQ(m_view.m_timerDelays.size(), 2u);
    m_platform.Advance(PRESSURE_REPAINT_MS + 1);
    m_link.FeedSampleBlock(block, proto::BLOCK_LEN);
    EXPECT_EQ(m_view.m_nInvalidate, 2);
    m_link.OnPressureRepaintTimer();
    EXPECT_EQ(m_view.m_nInvalidate, 2);

    // Without a window nothing is owed or started.
    m_view.m_bWindow = false;
    m_link.m_dwLastPaintTick = m_platform.m_dwTick;
    m_link.FeedSampleBlock(block, proto::BLOCK_LEN);
    EXPECT_EQ(m_view.m_timerDelays.size(), 2u);
}

TEST_F(LinkTest, LostDeviceEndsTheMonitoringStatus)
{
    Open();
    Act([&] { m_link.OnStartObserve(); });
    ASSERT_EQ(Wire(4), (Bytes{0xF0, 0x2F, 0x01, 0x32}));
    StreamOneDataFrame();
    ASSERT_EQ(m_view.m_strStatus, QStringLiteral("开始采集数据......"));

    m_pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([this] { return !m_view.m_errors.isEmpty(); }, 3000));
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("监测过程被终止!"));
    EXPECT_TRUE(m_view.m_statusShown.back());
    // The blinking that the start began must not bring "monitoring" back.
    for (int i = 0; i < 60; ++i) {
        m_platform.Advance(TIMER_PERIOD_MS);
        m_link.Guard([&] { m_link.OnTimer(1); });
    }
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("监测过程被终止!"));
    EXPECT_EQ(m_view.m_errors.size(), 1);
}

TEST_F(LinkTest, StartAndStopWithThePortClosedLeaveTheStatusAlone)
{
    m_link.SetStatusText(QStringLiteral("before"), 0);
    Act([&] { m_link.OnStartObserve(); });
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("before"));
    for (int i = 0; i < 60; ++i) {  // no blinking and no follow-up text either
        m_platform.Advance(TIMER_PERIOD_MS);
        m_link.Guard([&] { m_link.OnTimer(1); });
    }
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("before"));
    Act([&] { m_link.OnStopObserve(); });
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("before"));
    EXPECT_TRUE(m_view.m_messages.isEmpty());
    EXPECT_TRUE(m_view.m_errors.isEmpty());

    // After a loss the port is closed: a later start must not bring "monitoring" back.
    Open();
    Act([&] { m_link.OnStartObserve(); });
    m_pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([this] { return !m_view.m_errors.isEmpty(); }, 3000));
    Act([&] { m_link.OnStartObserve(); });
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("监测过程被终止!"));
}

TEST_F(LinkTest, AWriteTheDeviceDoesNotTakeFailsTheCallAndLeavesNothingStale)
{
    Open();
    const Bytes gain4 = {0xF0, 0x21, 0x02, 0x65, 0x04};
    {
        WedgedLine wedge(m_pty.SlavePath());
        ASSERT_TRUE(wedge.Ok());
        Act([&] { m_link.OnDeltaposSpinGain1(1); });
        ASSERT_EQ(m_view.m_errors.size(), 1) << "the failure is shown in the stop box";
        EXPECT_TRUE(m_view.m_errors[0].contains(QStringLiteral("COM1"))) << m_view.m_errors[0].toStdString();
        EXPECT_EQ(m_link.m_nGainCh1, 3);
        EXPECT_FALSE(m_view.m_ints.contains(IDC_EDIT_GAIN1)) << "the edit keeps its value";
        EXPECT_EQ(m_link.m_byPendingCode, 0) << "a failed command is not re-sent";
        EXPECT_EQ(TraceLines(), 0);
        EXPECT_TRUE(m_link.m_comm.GetPortOpen());

        // The timer re-sends nothing while the line is stuck.
        for (int i = 0; i < 20; ++i) {
            m_platform.Advance(TIMER_PERIOD_MS);
            m_link.Guard([&] { m_link.OnTimer(1); });
        }
        EXPECT_EQ(m_view.m_errors.size(), 1);
    }
    // The line moves again: no stale copy goes out, and the next step is sent once.
    EXPECT_TRUE(Quiet().empty());
    Act([&] { m_link.OnDeltaposSpinGain1(1); });
    EXPECT_EQ(Wire(gain4.size()), gain4);
    EXPECT_TRUE(Quiet().empty());
    EXPECT_EQ(m_link.m_nGainCh1, 4);
    EXPECT_EQ(m_view.m_ints.value(IDC_EDIT_GAIN1), 4);
    EXPECT_EQ(m_view.m_errors.size(), 1);
}

TEST_F(LinkTest, ReopenAfterALossMidFrameDecodesTheFirstFrame)
{
    Open();
    const Bytes old = DataFrame(1, 2, 3);
    ASSERT_TRUE(m_pty.Write(Bytes(old.begin(), old.begin() + 12)));
    ASSERT_TRUE(WaitUntil([this] { return m_link.m_ring.Count() == 12; }));
    m_pty.Close();
    ASSERT_TRUE(WaitUntil([this] { return !m_view.m_errors.isEmpty(); }, 3000));

    PtyPair next;
    ASSERT_TRUE(next.Ok());
    CMSComm::MapPort(1, QString::fromStdString(next.SlavePath()));
    m_link.Guard([&] { m_link.OnOpenDevice(); });
    ASSERT_TRUE(m_link.m_comm.GetPortOpen());
    ASSERT_TRUE(next.Write(DataFrame(4000, 5000, 6000)));
    ASSERT_TRUE(WaitUntil([this] { return m_view.m_samples.size() == 1; }));
    EXPECT_EQ(m_link.m_nStaticPressure1, 4000);
    EXPECT_EQ(m_link.m_nStaticPressure3, 6000);
    EXPECT_EQ(m_link.m_decodeStats.badCheck, 0u);
    EXPECT_EQ(m_link.m_decodeStats.skipped, 0u);
}
