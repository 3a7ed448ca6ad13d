// Watchers of the device link: they see the port open and close once each, every byte both
// ways in order, each data frame with its check, and the ring's overflow, over a real
// pseudo-terminal; a watcher may leave from inside its own call.
#include "test_link_fixture.h"

#include "support/data_frame.h"

namespace {

struct Recorder : ILinkObserver {
    std::vector<std::string> events;
    Bytes received;
    Bytes sent;
    int goodFrames = 0;
    int badFrames = 0;
    CSensorLink* pRemoveFrom = nullptr;  // removes itself at the first data frame

    void OnPortOpened(int nPort, const std::string& strPath, const std::string& strSettings) override
    {
        events.push_back("open " + std::to_string(nPort) + " " + strPath + " " + strSettings);
    }
    void OnPortClosed() override { events.push_back("close"); }
    void OnBytesReceived(const uint8_t* p, int n) override { received.insert(received.end(), p, p + n); }
    void OnBytesSent(const uint8_t* p, int n) override { sent.insert(sent.end(), p, p + n); }
    void OnDataFrame(const uint8_t*, bool ok) override
    {
        ++(ok ? goodFrames : badFrames);
        if (pRemoveFrom)
            pRemoveFrom->RemoveObserver(this);
    }
};

class LinkObserverTest : public LinkTest {
protected:
    Recorder m_rec;
};

TEST_F(LinkObserverTest, SeesTheSessionInOrder)
{
    m_link.AddObserver(&m_rec);
    m_link.AddObserver(&m_rec);  // added twice, told once
    Open();
    ASSERT_EQ(m_rec.events.size(), 1u);
    EXPECT_EQ(m_rec.events[0], "open 1 " + m_pty.SlavePath() + " 256000,n,8,1");

    Act([this] { m_link.OnStartObserve(); });
    const Bytes start = Wire(5);
    EXPECT_EQ(m_rec.sent, start);

    Bytes stream = {0x00, 0x11};  // garbage the decoder passes over
    for (int i = 0; i < 5; ++i) {
        const Bytes f = DataFrame(static_cast<uint16_t>(100 * i), i != 2);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(m_pty.Write(stream));
    ASSERT_TRUE(WaitUntil([this] { return m_rec.goodFrames + m_rec.badFrames == 5; }));
    EXPECT_EQ(m_rec.received, stream);
    EXPECT_EQ(m_rec.goodFrames, 4);
    EXPECT_EQ(m_rec.badFrames, 1);
    EXPECT_EQ(m_link.m_decodeStats.badCheck, 1u);
    EXPECT_EQ(m_link.m_decodeStats.skipped, 2u);

    m_link.Guard([this] { m_link.OnOpenDevice(); });  // closes
    m_link.Guard([this] { m_link.ClosePort(); });     // already closed: no second report
    EXPECT_EQ(m_rec.events.back(), "close");
    EXPECT_EQ(m_rec.events.size(), 2u);
}

TEST_F(LinkObserverTest, LostDeviceIsReportedAsClosed)
{
    m_link.AddObserver(&m_rec);
    Open();
    m_pty.Close();
    ASSERT_TRUE(WaitUntil([this] { return !m_link.m_comm.GetPortOpen(); }));
    ASSERT_EQ(m_rec.events.size(), 2u);
    EXPECT_EQ(m_rec.events[1], "close");
}

TEST_F(LinkObserverTest, RemovalDuringACall)
{
    Recorder second;
    m_rec.pRemoveFrom = &m_link;
    m_link.AddObserver(&m_rec);
    m_link.AddObserver(&second);
    const Bytes f = DataFrame(7, true);
    Bytes two = f;
    two.insert(two.end(), f.begin(), f.end());
    m_link.m_ring.Append(two.data(), static_cast<int>(two.size()));
    DecodeFrames(m_link.m_ring, m_link, &m_link.m_decodeStats);
    EXPECT_EQ(m_rec.goodFrames, 1);  // removed itself inside its first call
    EXPECT_EQ(second.goodFrames, 2);
    m_link.RemoveObserver(&second);
    m_link.AddObserver(&second);  // reuses the freed slot
    m_link.m_ring.Append(f.data(), static_cast<int>(f.size()));
    DecodeFrames(m_link.m_ring, m_link, &m_link.m_decodeStats);
    EXPECT_EQ(second.goodFrames, 3);
    EXPECT_EQ(m_rec.goodFrames, 1);
}

} // namespace
