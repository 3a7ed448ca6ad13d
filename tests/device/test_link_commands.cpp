// Command issuing through a real pseudo-terminal: bytes on the wire, the send spacing, the
// re-send of unanswered commands, calibration input, gain limits, the trace and status texts.
#include <functional>

#include "protocol.h"
#include "resource_ids.h"
#include "test_link_fixture.h"

namespace {

struct ActionCase {
    const char* name;
    std::function<void(CSensorLink&)> action;
    Bytes wire;
    const char* trace;
};

} // namespace

TEST_F(LinkTest, EveryActionPutsItsFrameOnTheWireAndTracesIt)
{
    Open();
    m_view.m_texts[IDC_EDIT_COEF1] = "255";
    m_view.m_texts[IDC_EDIT_COEF2] = "1";
    m_view.m_texts[IDC_EDIT_COEF3] = "100";
    const ActionCase cases[] = {
        {"start", [](CSensorLink& l) { l.OnStartObserve(); }, {0xF0, 0x2F, 0x01, 0x32}, "F0 2F 01 32 "},
        {"stop", [](CSensorLink& l) { l.OnStopObserve(); }, {0xF0, 0x2F, 0x01, 0x33}, "F0 2F 01 33 "},
        {"zero 1", [](CSensorLink& l) { l.OnZero1(); }, {0xF0, 0x21, 0x01, 0x34}, "F0 21 01 34 "},
        {"zero 2", [](CSensorLink& l) { l.OnZero2(); }, {0xF0, 0x22, 0x01, 0x34}, "F0 22 01 34 "},
        {"zero 3", [](CSensorLink& l) { l.OnZero3(); }, {0xF0, 0x23, 0x01, 0x34}, "F0 23 01 34 "},
        {"calibrate 1", [](CSensorLink& l) { l.OnCalibrate1(); }, {0xF0, 0x21, 0x02, 0x35, 0xFF}, "F0 21 02 35 FF "},
        {"calibrate 2", [](CSensorLink& l) { l.OnCalibrate2(); }, {0xF0, 0x22, 0x02, 0x35, 0x01}, "F0 22 02 35 01 "},
        {"calibrate 3", [](CSensorLink& l) { l.OnCalibrate3(); }, {0xF0, 0x23, 0x02, 0x35, 0x64}, "F0 23 02 35 64 "},
        {"gain 1 up", [](CSensorLink& l) { l.OnDeltaposSpinGain1(1); }, {0xF0, 0x21, 0x02, 0x65, 0x04}, "F0 21 02 65 04 "},
        {"gain 2 down", [](CSensorLink& l) { l.OnDeltaposSpinGain2(-1); }, {0xF0, 0x22, 0x02, 0x65, 0x02}, "F0 22 02 65 02 "},
        {"gain 3 big step up", [](CSensorLink& l) { l.OnDeltaposSpinGain3(7); }, {0xF0, 0x23, 0x02, 0x65, 0x04}, "F0 23 02 65 04 "},
        {"ecg down", [](CSensorLink& l) { l.OnDeltaposSpinEcgGain(-3); }, {0xF0, 0x2A, 0x02, 0x65, 0x02}, "F0 2A 02 65 02 "},
        {"volume up", [](CSensorLink& l) { l.OnDeltaposSpinVolumeGain(1); }, {0xF0, 0x2B, 0x02, 0x65, 0x05}, "F0 2B 02 65 05 "},
    };
    for (const ActionCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_platform.m_strDebug.clear();
        Act([&] { c.action(m_link); });
        EXPECT_EQ(Wire(c.wire.size()), c.wire);
        EXPECT_EQ(m_platform.m_strDebug, std::string("Send Data:") + c.trace + "\n");
        EXPECT_EQ(m_link.m_byPendingCode, c.wire[3]);
        EXPECT_EQ(m_link.m_byPendingAddr, c.wire[1]);
        EXPECT_EQ(m_link.m_byPendingValue, c.wire.size() == 5 ? c.wire[4] : 0);
        EXPECT_EQ(m_link.m_dwLastSendTick, m_platform.m_dwTick);
    }
    EXPECT_TRUE(Quiet().empty());
    EXPECT_TRUE(m_view.m_messages.isEmpty());
    EXPECT_TRUE(m_view.m_errors.isEmpty());
    // Each spin moved its gain by one step and the edit shows it.
    EXPECT_EQ(m_link.m_nGainCh1, 4);
    EXPECT_EQ(m_link.m_nGainCh2, 2);
    EXPECT_EQ(m_link.m_nGainCh3, 4);
    EXPECT_EQ(m_link.m_nGainEcg, 2);
    EXPECT_EQ(m_link.m_nGainVolume, 5);
    const QMap<int, int> edits = {{IDC_EDIT_GAIN1, 4}, {IDC_EDIT_GAIN2, 2}, {IDC_EDIT_GAIN3, 4},
                                  {IDC_EDIT_ECG_GAIN, 2}, {IDC_EDIT_VOLUME_GAIN, 5}};
    EXPECT_EQ(m_view.m_ints, edits);
    // No reply came, and no command resets the attempt counter.
    EXPECT_EQ(m_link.m_nSendCount, 13);
}

TEST_F(LinkTest, SecondActionWithin100msSendsNothingAcrossTickWrap)
{
    Open();
    m_platform.m_dwTick = 0xFFFFFFC0u;
    m_link.Guard([&] { m_link.OnDeltaposSpinGain1(1); });
    ASSERT_EQ(Wire(5), (Bytes{0xF0, 0x21, 0x02, 0x65, 0x04}));
    const int nCount = m_link.m_nSendCount;

    m_platform.Advance(99);  // the tick wraps to 0x23
    m_link.Guard([&] { m_link.OnDeltaposSpinGain1(1); });
    m_link.Guard([&] { m_link.OnZero2(); });
    EXPECT_TRUE(Quiet().empty());
    EXPECT_EQ(m_link.m_nGainCh1, 4);
    EXPECT_EQ(m_view.m_ints.value(IDC_EDIT_GAIN1), 4);
    EXPECT_EQ(m_link.m_nSendCount, nCount) << "a refused send counts no attempt";
    EXPECT_EQ(m_link.m_byPendingCode, proto::CODE_GAIN);
    EXPECT_EQ(TraceLines(), 1);

    m_platform.Advance(1);  // exactly 100 ms: allowed
    m_link.Guard([&] { m_link.OnDeltaposSpinGain1(1); });
    EXPECT_EQ(Wire(5), (Bytes{0xF0, 0x21, 0x02, 0x65, 0x05}));
    EXPECT_EQ(m_link.m_nGainCh1, 5);
    EXPECT_EQ(m_view.m_ints.value(IDC_EDIT_GAIN1), 5);
}

TEST_F(LinkTest, UnansweredCommandGoesOutThreeTimesAtFirstTickAfter400ms)
{
    Open();
    m_link.m_nSendCount = 0;
    m_platform.m_dwTick = 0xFFFFFF00u;  // the repeats fall on both sides of the wrap
    const uint32_t dwStart = m_platform.m_dwTick;
    m_link.Guard([&] { m_link.OnDeltaposSpinVolumeGain(1); });

    std::vector<uint32_t> sentAt;  // elapsed ms at each re-send
    for (int i = 1; i <= 60; ++i) {
        m_platform.Advance(TIMER_PERIOD_MS);
        const int nBefore = TraceLines();
        m_link.Guard([&] { m_link.OnTimer(1); });
        if (TraceLines() != nBefore)
            sentAt.push_back(m_platform.m_dwTick - dwStart);
    }
    EXPECT_EQ(sentAt, (std::vector<uint32_t>{450, 900}));
    const Bytes frame = {0xF0, 0x2B, 0x02, 0x65, 0x05};
    Bytes three;
    for (int i = 0; i < 3; ++i)
        three.insert(three.end(), frame.begin(), frame.end());
    EXPECT_EQ(Wire(three.size()), three);
    EXPECT_TRUE(Quiet().empty());
    EXPECT_EQ(m_link.m_nSendCount, 3);

    // After three unanswered attempts a new command goes out once and is not repeated.
    Act([&] { m_link.OnZero1(); });
    for (int i = 0; i < 30; ++i) {
        m_platform.Advance(TIMER_PERIOD_MS);
        m_link.Guard([&] { m_link.OnTimer(1); });
    }
    EXPECT_EQ(Wire(4), (Bytes{0xF0, 0x21, 0x01, 0x34}));
    EXPECT_TRUE(Quiet().empty());
}

TEST_F(LinkTest, AnyReplyClearsThePendingCommandAndStopsTheRepeats)
{
    Open();
    Act([&] { m_link.OnCalibrate1(); });  // empty edit: message, nothing pending
    m_view.m_texts[IDC_EDIT_COEF2] = "42";
    Act([&] { m_link.OnCalibrate2(); });
    ASSERT_EQ(Wire(5), (Bytes{0xF0, 0x22, 0x02, 0x35, 0x2A}));
    ASSERT_EQ(m_link.m_byPendingCode, proto::CODE_CALIBRATE);

    Reply({0xF0, 0x1F, 0x05, 0x31, 1, 2, 3, 4});  // an information reply answers any command
    EXPECT_EQ(m_link.m_nSendCount, 0);
    EXPECT_EQ(m_link.m_byPendingCode, 0);
    EXPECT_EQ(m_link.m_byPendingAddr, proto::ADDR_CH2) << "address and value stay";
    EXPECT_EQ(m_link.m_byPendingValue, 42);
    for (int i = 0; i < 30; ++i) {
        m_platform.Advance(TIMER_PERIOD_MS);
        m_link.Guard([&] { m_link.OnTimer(1); });
    }
    EXPECT_TRUE(Quiet().empty());
}

TEST_F(LinkTest, AttemptsAreCountedWhileThePortIsClosed)
{
    // Never opened: each action counts an attempt, and nothing is recorded, traced or shown.
    Act([&] { m_link.OnZero1(); });
    m_link.Guard([&] { m_link.OnStartObserve(); });  // no tick stored, so no spacing applies
    EXPECT_EQ(m_link.m_nSendCount, 2);
    EXPECT_EQ(m_link.m_byPendingCode, 0);
    EXPECT_EQ(m_link.m_dwLastSendTick, 0u);
    EXPECT_TRUE(m_platform.m_strDebug.empty());
    EXPECT_TRUE(m_view.m_messages.isEmpty());
    EXPECT_TRUE(m_view.m_errors.isEmpty());

    // A pending command outlives a close; the re-sends to the closed port use up the attempts.
    Open();
    m_link.m_nSendCount = 0;
    Act([&] { m_link.OnDeltaposSpinGain2(1); });
    ASSERT_EQ(Wire(5), (Bytes{0xF0, 0x22, 0x02, 0x65, 0x04}));
    m_link.Guard([&] { m_link.OnOpenDevice(); });
    ASSERT_FALSE(m_link.m_comm.GetPortOpen());
    m_platform.Advance(RESEND_AFTER_MS);
    std::vector<int> counts;
    for (int i = 0; i < 5; ++i) {
        m_platform.Advance(TIMER_PERIOD_MS);
        m_link.Guard([&] { m_link.OnTimer(1); });
        counts.push_back(m_link.m_nSendCount);
    }
    EXPECT_EQ(counts, (std::vector<int>{2, 3, 3, 3, 3}));
    EXPECT_EQ(m_link.m_byPendingCode, proto::CODE_GAIN);
    EXPECT_EQ(TraceLines(), 1);
    EXPECT_TRUE(m_view.m_errors.isEmpty());
}

TEST_F(LinkTest, CalibrationCoefficientIsCheckedBeforeAnythingIsSent)
{
    struct Case {
        const char* text;
        bool bSent;
        uint8_t byValue;
    };
    const Case cases[] = {
        {"255", true, 0xFF}, {"1", true, 0x01}, {" 7 ", true, 0x07}, {"+9", true, 0x09},
        {"256", false, 0}, {"0", false, 0}, {"-1", false, 0}, {"", false, 0},
        {"12ab", false, 0}, {"0x10", false, 0}, {"99999999999", false, 0}, {"1.5", false, 0},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        m_view.m_messages.clear();
        m_view.m_texts[IDC_EDIT_COEF3] = QString::fromUtf8(c.text);
        const int nCount = m_link.m_nSendCount;
        Act([&] { m_link.OnCalibrate3(); });
        if (c.bSent) {
            EXPECT_EQ(Wire(5), (Bytes{0xF0, 0x23, 0x02, 0x35, c.byValue}));
            EXPECT_TRUE(m_view.m_messages.isEmpty());
        } else {
            EXPECT_EQ(m_view.m_messages, QStringList{QStringLiteral("请输入正确的标定系数：(1-255)")});
            EXPECT_EQ(m_link.m_nSendCount, nCount);
        }
    }
    EXPECT_TRUE(Quiet().empty());

    // The message does not depend on the port.
    m_link.Guard([&] { m_link.OnOpenDevice(); });
    m_view.m_messages.clear();
    m_view.m_texts[IDC_EDIT_COEF1] = "0";
    Act([&] { m_link.OnCalibrate1(); });
    EXPECT_EQ(m_view.m_messages.size(), 1);
}

TEST_F(LinkTest, GainsStayWithinTheirRanges)
{
    using Setter = bool (CSensorLink::*)(int);
    using Spin = int (CSensorLink::*)(int);
    struct Row {
        const char* name;
        Setter set;
        Spin spin;
        int CSensorLink::*gain;
        int nMax;
        uint8_t byAddr;
    };
    const Row rows[] = {
        {"ch1", &CSensorLink::SetGainCh1, &CSensorLink::OnDeltaposSpinGain1, &CSensorLink::m_nGainCh1, 5, 0x21},
        {"ch2", &CSensorLink::SetGainCh2, &CSensorLink::OnDeltaposSpinGain2, &CSensorLink::m_nGainCh2, 5, 0x22},
        {"ch3", &CSensorLink::SetGainCh3, &CSensorLink::OnDeltaposSpinGain3, &CSensorLink::m_nGainCh3, 5, 0x23},
        {"ecg", &CSensorLink::SetGainEcg, &CSensorLink::OnDeltaposSpinEcgGain, &CSensorLink::m_nGainEcg, 5, 0x2A},
        {"volume", &CSensorLink::SetGainVolume, &CSensorLink::OnDeltaposSpinVolumeGain, &CSensorLink::m_nGainVolume, 8, 0x2B},
    };
    Open();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const int nCount = m_link.m_nSendCount;
        // Out of range: refused before sending, nothing counted, gain unchanged.
        for (int nBad : {0, -1, r.nMax + 1}) {
            m_platform.Advance(200);
            EXPECT_FALSE((m_link.*r.set)(nBad));
        }
        // At the top, a step up is refused; at the bottom, a step down.
        m_link.*r.gain = r.nMax;
        Act([&] { EXPECT_EQ((m_link.*r.spin)(1), 0); });
        m_link.*r.gain = 1;
        Act([&] { EXPECT_EQ((m_link.*r.spin)(-1), 0); });
        EXPECT_EQ(m_link.*r.gain, 1);
        EXPECT_EQ(m_link.m_nSendCount, nCount);
        EXPECT_TRUE(Quiet().empty());
        // One below the top, a step up reaches it.
        m_link.*r.gain = r.nMax - 1;
        Act([&] { (m_link.*r.spin)(1); });
        EXPECT_EQ(Wire(5), (Bytes{0xF0, r.byAddr, 0x02, 0x65, static_cast<uint8_t>(r.nMax)}));
        EXPECT_EQ(m_link.*r.gain, r.nMax);
    }
}

TEST_F(LinkTest, GainRefusedByAClosedPortLeavesGainAndEdit)
{
    Act([&] { m_link.OnDeltaposSpinGain1(1); });
    EXPECT_EQ(m_link.m_nGainCh1, 3);
    EXPECT_TRUE(m_view.m_ints.isEmpty());
    EXPECT_EQ(m_link.m_nSendCount, 1);
}

namespace {

// Records every piece written to the debugger output.
class PiecePlatform : public FakePlatform {
public:
    std::vector<std::string> m_pieces;
    void OutputDebugStringA(const char* text) override { m_pieces.emplace_back(text); }
};

} // namespace

TEST(LinkTrace, HexTextInPiecesOf256AfterTheLabel)
{
    PiecePlatform platform;
    ScopedPlatform scoped(platform);
    const uint8_t frame[5] = {0xF0, 0x2B, 0x02, 0x65, 0x08};
    CSensorLink::TraceHex(frame, 5, "Send Data:");
    ASSERT_EQ(platform.m_pieces, (std::vector<std::string>{"Send Data:", "F0 2B 02 65 08 ", "\n"}));
    EXPECT_EQ(platform.m_pieces[1].size(), 15u);

    // 200 bytes: 600 characters in pieces of 256, 256 and 88; no label given, none written.
    std::vector<uint8_t> big(200);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7);
    platform.m_pieces.clear();
    CSensorLink::TraceHex(big.data(), static_cast<int>(big.size()), nullptr);
    ASSERT_EQ(platform.m_pieces.size(), 4u);
    EXPECT_EQ(platform.m_pieces[0].size(), 256u);
    EXPECT_EQ(platform.m_pieces[1].size(), 256u);
    EXPECT_EQ(platform.m_pieces[2].size(), 88u);
    EXPECT_EQ(platform.m_pieces[3], "\n");
    const std::string all = platform.m_pieces[0] + platform.m_pieces[1] + platform.m_pieces[2];
    EXPECT_EQ(all.substr(0, 12), "00 07 0E 15 ");
    EXPECT_EQ(all.substr(597), "71 ");  // 199 * 7 = 0x571

    // 85 bytes (255 characters) go as one piece, 86 bytes (258) as 256 + 2.
    std::vector<uint8_t> edge(86, 0xAB);
    platform.m_pieces.clear();
    CSensorLink::TraceHex(edge.data(), 85, "L");
    EXPECT_EQ(platform.m_pieces.size(), 3u);
    platform.m_pieces.clear();
    CSensorLink::TraceHex(edge.data(), 86, "L");
    ASSERT_EQ(platform.m_pieces.size(), 4u);
    EXPECT_EQ(platform.m_pieces[2], "B ");

    // A negative count writes nothing.
    platform.m_pieces.clear();
    CSensorLink::TraceHex(frame, -1, "L");
    EXPECT_TRUE(platform.m_pieces.empty());
}

TEST_F(LinkTest, StatusTextBlinksThenShowsItsFollowUp)
{
    Open();
    Act([&] { m_link.OnStartObserve(); });
    EXPECT_TRUE(m_view.m_messages.isEmpty());
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("开始采集数据......"));
    EXPECT_EQ(m_link.m_strStatusNext, QStringLiteral("监测过程中......"));
    m_view.m_statusShown.clear();
    for (int i = 0; i < 5; ++i) {
        m_platform.Advance(TIMER_PERIOD_MS);
        m_link.OnTimer(1);
    }
    EXPECT_EQ(m_view.m_statusShown, (std::vector<bool>{true, false, true, false, true}));
    EXPECT_EQ(m_link.m_nBlinkCount, -1);
    EXPECT_EQ(m_link.m_dwBlinkDoneTick, m_platform.m_dwTick);

    m_platform.Advance(STATUS_HOLD_MS);  // exactly 1500 ms: not yet
    m_link.OnTimer(1);
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("开始采集数据......"));
    m_platform.Advance(TIMER_PERIOD_MS);
    m_link.OnTimer(1);
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("监测过程中......"));
    EXPECT_EQ(m_link.m_nBlinkCount, 0);

    // A blink count with no follow-up returns to its own text.
    m_link.SetStatusText(QStringLiteral("x"), 2);
    EXPECT_EQ(m_link.m_strStatusNext, QStringLiteral("x"));
}

TEST_F(LinkTest, StopTextInterruptingABlinkIsShownAndStays)
{
    Open();
    m_link.OnStartObserve();
    m_link.OnTimer(1);
    m_link.OnTimer(1);  // the blink has just hidden the label
    ASSERT_FALSE(m_view.m_statusShown.back());
    m_link.OnStopObserve();
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("监测过程被终止!"));
    EXPECT_TRUE(m_view.m_statusShown.back());
    EXPECT_EQ(m_link.m_nBlinkCount, 0);
    EXPECT_TRUE(m_link.m_strStatusNext.isEmpty());
    const size_t nShowCalls = m_view.m_statusShown.size();
    for (int i = 0; i < 60; ++i) {
        m_platform.Advance(TIMER_PERIOD_MS);
        m_link.OnTimer(1);
    }
    EXPECT_EQ(m_view.m_strStatus, QStringLiteral("监测过程被终止!"));
    EXPECT_EQ(m_view.m_statusShown.size(), nShowCalls);
}
