// Port handling through a real pseudo-terminal: open and close with their captions and spin
// states, the open-failure messages, errors of the serial layer, window destroy while
// observing, and a device that vanishes while open.
#include "test_link_fixture.h"

namespace {

const QString kOpenCaption = QStringLiteral("关闭串口");
const QString kClosedCaption = QStringLiteral("打开串口");

// Its pause ends with the port found closed, as after a device failing right after the open.
class ClosingPlatform : public FakePlatform {
public:
    CMSComm* m_pComm = nullptr;
    void Sleep(uint32_t ms) override
    {
        FakePlatform::Sleep(ms);
        if (m_pComm && m_pComm->GetPortOpen())
            m_pComm->SetPortOpen(false);
    }
};

} // namespace

TEST_F(LinkTest, OpenConfiguresThePortPausesAndEnablesTheSpins)
{
    ASSERT_TRUE(m_pty.Ok());
    m_link.m_bObserving = 1;
    m_link.Guard([&] { m_link.OnOpenDevice(); });
    ASSERT_TRUE(m_view.m_errors.isEmpty()) << m_view.m_errors.join(' ').toStdString();
    CMSComm& comm = m_link.m_comm;
    EXPECT_TRUE(comm.GetPortOpen());
    EXPECT_EQ(comm.GetCommPort(), 1);
    EXPECT_EQ(comm.GetInBufferSize(), 20480);
    EXPECT_EQ(comm.GetOutBufferSize(), 1024);
    EXPECT_EQ(comm.GetInputMode(), 1);
    EXPECT_EQ(comm.GetSettings(), QStringLiteral("256000,n,8,1"));
    EXPECT_EQ(comm.GetRThreshold(), 1);
    EXPECT_EQ(comm.GetSThreshold(), 1);
    EXPECT_EQ(comm.GetInputLen(), 0);
    EXPECT_TRUE(comm.GetDTREnable());
    EXPECT_TRUE(comm.GetRTSEnable());
    EXPECT_EQ(m_platform.m_dwSlept, OPEN_PAUSE_MS);
    EXPECT_EQ(m_view.m_captions, QStringList{kOpenCaption});
    EXPECT_EQ(m_view.m_spinStates, std::vector<bool>{true});
    EXPECT_TRUE(m_view.m_messages.isEmpty());
    EXPECT_EQ(m_link.m_bObserving, 0);
    EXPECT_TRUE(Quiet().empty()) << "nothing is sent on open";

    // The port works both ways once open.
    Act([&] { m_link.OnStartObserve(); });
    EXPECT_EQ(Wire(4), (Bytes{0xF0, 0x2F, 0x01, 0x32}));
    StreamOneDataFrame();
    EXPECT_EQ(m_view.m_samples.size(), 1u);
}

TEST_F(LinkTest, CloseWhileObservingSendsNothingAndDisablesTheSpins)
{
    Open();
    StreamOneDataFrame();
    m_view = FakeView();
    m_link.Guard([&] { m_link.OnOpenDevice(); });
    EXPECT_FALSE(m_link.m_comm.GetPortOpen());
    EXPECT_EQ(m_link.m_bObserving, 0);
    EXPECT_EQ(m_view.m_captions, QStringList{kClosedCaption});
    EXPECT_EQ(m_view.m_spinStates, std::vector<bool>{false});
    EXPECT_TRUE(m_view.m_messages.isEmpty());
    EXPECT_TRUE(Quiet().empty());
    EXPECT_TRUE(m_platform.m_strDebug.empty());

    // Reopened, the next data frame starts a new run.
    m_link.Guard([&] { m_link.OnOpenDevice(); });
    ASSERT_TRUE(m_link.m_comm.GetPortOpen());
    EXPECT_EQ(m_view.m_captions.back(), kOpenCaption);
    EXPECT_EQ(m_link.m_bObserving, 0);
    StreamOneDataFrame();
    EXPECT_EQ(m_view.m_spinStates.back(), true);
}

TEST_F(LinkTest, OpenFailuresShowTheirMessageAndKeepCaptionAndSpins)
{
    // No entry selected: the message alone.
    m_view.m_nSelection = -1;
    m_link.m_bObserving = 1;
    m_link.Guard([&] { m_link.OnOpenDevice(); });
    EXPECT_EQ(m_view.m_messages, QStringList{QStringLiteral("请选择串口号!")});
    EXPECT_TRUE(m_view.m_captions.isEmpty());
    EXPECT_TRUE(m_view.m_spinStates.empty());
    EXPECT_EQ(m_link.m_bObserving, 0);
    EXPECT_EQ(m_platform.m_dwSlept, 0u);

    // Port numbers the layer cannot take: refused before the layer is touched.
    for (int nPort : {0, -3, 40000}) {
        SCOPED_TRACE(nPort);
        m_view = FakeView();
        EXPECT_FALSE(m_link.OpenPort(nPort));
        EXPECT_EQ(m_view.m_messages, QStringList{QStringLiteral("端口号错误!")});
        EXPECT_EQ(m_link.m_comm.GetCommPort(), 1);
        EXPECT_EQ(m_platform.m_dwSlept, 0u);
    }

    // The port is not open after the pause.
    ClosingPlatform closing;
    closing.m_pComm = &m_link.m_comm;
    ScopedPlatform scoped(closing);
    m_view = FakeView();
    m_link.Guard([&] { m_link.OnOpenDevice(); });
    EXPECT_EQ(m_view.m_messages, QStringList{QStringLiteral("串口打开失败!")});
    EXPECT_TRUE(m_view.m_captions.isEmpty());
    EXPECT_EQ(m_view.m_spinStates, std::vector<bool>{false});
    EXPECT_TRUE(m_view.m_errors.isEmpty());
}

TEST_F(LinkTest, LayerRefusalEndsTheHandlerAndIsShownInTheStopBox)
{
    CMSComm::MapPort(2, QStringLiteral("/nonexistent/veltrin-tty"));
    m_view.m_nSelection = 1;
    m_link.Guard([&] { m_link.OnOpenDevice(); });
    ASSERT_EQ(m_view.m_errors.size(), 1);
    EXPECT_FALSE(m_view.m_errors[0].isEmpty());
    EXPECT_NE(m_view.m_errors[0], QStringLiteral("内部应用程序出错。")) << "the layer's own text";
    EXPECT_TRUE(m_view.m_messages.isEmpty());
    EXPECT_TRUE(m_view.m_captions.isEmpty());
    EXPECT_TRUE(m_view.m_spinStates.empty());
    EXPECT_EQ(m_platform.m_dwSlept, 0u) << "the pause is skipped with the rest";
    EXPECT_FALSE(m_link.m_comm.GetPortOpen());

    // The console carries on: the next press opens the pty.
    m_view = FakeView();
    m_view.m_nSelection = 0;
    m_link.Guard([&] { m_link.OnOpenDevice(); });
    EXPECT_TRUE(m_link.m_comm.GetPortOpen());
    EXPECT_EQ(m_view.m_captions, QStringList{kOpenCaption});
    EXPECT_TRUE(m_view.m_errors.isEmpty());
}

TEST_F(LinkTest, DestroyWhileObservingSendsStop)
{
    Open();
    StreamOneDataFrame();
    Act([&] { m_link.OnDestroy(); });
    EXPECT_EQ(Wire(4), (Bytes{0xF0, 0x2F, 0x01, 0x33}));
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("监测过程被终止!"));

    // Not observing: nothing.
    m_link.m_bObserving = 0;
    Act([&] { m_link.OnDestroy(); });
    EXPECT_TRUE(Quiet().empty());

    // Observing, but another command went out less than 100 ms earlier: the stop is dropped.
    m_link.m_bObserving = 1;
    Act([&] { m_link.OnZero1(); });
    EXPECT_EQ(Wire(4), (Bytes{0xF0, 0x21, 0x01, 0x34}));
    m_platform.Advance(SEND_SPACING_MS - 1);
    m_link.Guard([&] { m_link.OnDestroy(); });
    EXPECT_TRUE(Quiet().empty());
}

TEST_F(LinkTest, UnpluggedDeviceClosesThePortAndTellsOnce)
{
    Open();
    StreamOneDataFrame();
    m_view = FakeView();
    m_pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([this] { return !m_view.m_errors.isEmpty(); }, 3000));
    // Keep the event loop running a while: no second box, no storm of events.
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(m_view.m_errors.size(), 1);
    EXPECT_FALSE(m_view.m_errors[0].isEmpty());
    EXPECT_FALSE(m_link.m_comm.GetPortOpen());
    EXPECT_EQ(m_link.m_bObserving, 0);
    EXPECT_EQ(m_view.m_captions, QStringList{kClosedCaption});
    EXPECT_EQ(m_view.m_spinStates, std::vector<bool>{false});
    EXPECT_TRUE(m_view.m_messages.isEmpty());

    // The console carries on: a send to the closed port is refused quietly.
    Act([&] { m_link.OnStartObserve(); });
    EXPECT_EQ(m_view.m_errors.size(), 1);
}

TEST_F(LinkTest, PortLostWithoutDescriptionUsesTheGenericText)
{
    m_link.Guard([&] { m_link.OnPortLost(QString()); });
    EXPECT_EQ(m_view.m_errors, QStringList{QStringLiteral("内部应用程序出错。")});
    EXPECT_EQ(m_view.m_captions, QStringList{kClosedCaption});
}
