// Hostile input against the real console over a pseudo-terminal: garbage, false frame headers,
// more than the ring holds in one event, a device pulled out mid-frame, a sensor that never
// answers, absurd coefficient text, a port opened and closed a hundred times, ten thousand spin
// clicks. The console must survive each, and end in the state its own rules give: for the
// receive path that state comes from replaying the same bytes through a ring and decoder.
#include <dirent.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include <memory>
#include <random>

#include "console_fixture.h"
#include "frame_decoder.h"
#include "protocol.h"
#include "resource_ids.h"
#include "spin_button.h"
#include "support/data_frame.h"
#include "support/pty_pair.h"

namespace {

const Bytes START = {0xF0, 0x2F, 0x01, 0x32};
const QString kClosedCaption = QStringLiteral("打开串口");
const QString kOpenCaption = QStringLiteral("关闭串口");

Bytes Frames(int nCount, uint16_t first)
{
    Bytes all;
    for (int i = 0; i < nCount; ++i) {
        const Bytes f = DataFrame(static_cast<uint16_t>(first + i), 7, 8);
        all.insert(all.end(), f.begin(), f.end());
    }
    return all;
}

Bytes Random(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (uint8_t& b : out)
        b = static_cast<uint8_t>(rng());
    return out;
}

// What the console's receive rules make of a sequence of read events.
struct Expected : IFrameSink {
    DecodeStats stats;
    uint64_t qwDropped = 0;
    int nDataFrames = 0;
    int nPressure1 = 0;

    explicit Expected(const std::vector<Bytes>& events)
    {
        CByteRing ring;
        for (const Bytes& e : events) {
            qwDropped += static_cast<uint64_t>(ring.Append(e.data(), static_cast<int>(e.size())));
            DecodeFrames(ring, *this, &stats);
        }
    }
    void OnInfoReply(const uint8_t*) override {}
    void OnDataFrame(const uint8_t block[17], bool checkOk) override
    {
        ++nDataFrames;
        if (checkOk)
            nPressure1 = proto::BlockWordAt(block, proto::WORD_STATIC1);
    }
    void OnStopAck() override {}
    void OnDateReply(const uint8_t*) override {}
};

int OpenDescriptors()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

class HostileTest : public ConsoleTest {
protected:
    HostileTest() { CMSComm::MapPort(1, QString::fromStdString(m_pty.SlavePath())); }
    ~HostileTest() override
    {
        m_dlg.reset();
        CMSComm::ClearPortMap();
    }

    CSensorDlg& Console()
    {
        if (!m_dlg) {
            m_dlg = std::make_unique<CSensorDlg>();
            m_dlg->show();
        }
        return *m_dlg;
    }
    void Click(int nID) { qobject_cast<QPushButton*>(Console().GetDlgItem(nID))->click(); }
    void OpenPort()
    {
        ASSERT_TRUE(m_pty.Ok());
        Click(IDC_BTN_OPEN);
        ASSERT_TRUE(Console().m_comm.GetPortOpen());
        m_platform.Advance(SEND_SPACING_MS);
    }
    // The bytes reach the console as one read event: its notification is held back until the
    // serial layer holds all of them.
    void DeliverAsOneEvent(const Bytes& bytes)
    {
        CSensorDlg& dlg = Console();
        {
            QSignalBlocker hold(&dlg.m_comm);
            ASSERT_TRUE(Write(bytes));
            ASSERT_TRUE(WaitUntil([&] { return dlg.m_comm.GetInBufferCount() >= static_cast<int>(bytes.size()); }));
        }
        emit dlg.m_comm.OnComm();
    }
    void Deliver(const Bytes& bytes)
    {
        ASSERT_TRUE(Write(bytes));
        WaitUntil([] { return false; }, 50);
    }
    // Writes on the sensor's side while the console reads: the line holds less than the ring.
    bool Write(const Bytes& bytes)
    {
        size_t done = 0;
        QElapsedTimer t;
        t.start();
        while (done < bytes.size() && t.elapsed() < 10000) {
            const ssize_t n = ::write(m_pty.MasterFd(), bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n < 0 && errno != EAGAIN)
                return false;
            else
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return done == bytes.size();
    }
    // Waits until the console has taken in every byte sent and compares with the rules.
    void ExpectReceiveState(const Expected& want)
    {
        CSensorDlg& dlg = Console();
        EXPECT_TRUE(WaitUntil([&] { return dlg.m_decodeStats.frames == want.stats.frames; }, 5000));
        WaitUntil([] { return false; }, 50);
        EXPECT_EQ(dlg.m_decodeStats.frames, want.stats.frames);
        EXPECT_EQ(dlg.m_decodeStats.badCheck, want.stats.badCheck);
        EXPECT_EQ(dlg.m_decodeStats.skipped, want.stats.skipped);
        EXPECT_EQ(dlg.m_qwRingDropped, want.qwDropped);
        EXPECT_EQ(dlg.m_nStaticPressure1, want.nPressure1);
        EXPECT_EQ(dlg.m_bObserving != 0, want.nDataFrames > 0);
        EXPECT_TRUE(dlg.m_comm.GetPortOpen());
        EXPECT_TRUE(m_modals.empty());
    }

    PtyPair m_pty;
    std::unique_ptr<CSensorDlg> m_dlg;
};

} // namespace

TEST_F(HostileTest, GarbageFalseHeadersAndOverfullEventsEndAsTheReceiveRulesSay)
{
    OpenPort();
    const Bytes garbage = Random(20 * 1024, 14);
    const Bytes tail = Frames(5, 1000);
    // 20 KiB of garbage in one event, then good frames.
    DeliverAsOneEvent(garbage);
    Deliver(tail);
    ExpectReceiveState(Expected({garbage, tail}));

    // A stream made only of false data headers: every 21 bytes pass for a data frame.
    Bytes falseHeaders;
    std::mt19937 rng(15);
    for (int i = 0; i < 2000; ++i)
        falseHeaders.insert(falseHeaders.end(), {0xF0, 0x1F, static_cast<uint8_t>(rng()), 0x32});
    const Bytes tail2 = Frames(5, 2000);
    Deliver(falseHeaders);
    Deliver(tail2);
    ExpectReceiveState(Expected({garbage, tail, falseHeaders, tail2}));

    // More bytes in one event than the ring holds: the oldest go, the newest are decoded.
    const Bytes flood = Frames(RING_SIZE / proto::DATA_FRAME_LEN + 1, 3000);
    ASSERT_GT(flood.size(), static_cast<size_t>(RING_SIZE));
    const Bytes first(flood.begin(), flood.begin() + RING_SIZE);
    const Bytes rest(flood.begin() + RING_SIZE, flood.end());
    DeliverAsOneEvent(first);
    Deliver(rest);
    ExpectReceiveState(Expected({garbage, tail, falseHeaders, tail2, first, rest}));
    EXPECT_GT(Console().m_qwRingDropped, 0u);
    EXPECT_EQ(Console().m_nStaticPressure1, 3000 + RING_SIZE / proto::DATA_FRAME_LEN);
}

TEST_F(HostileTest, DeviceUnpluggedMidFrame)
{
    OpenPort();
    CSensorDlg& dlg = Console();
    Click(IDC_BTN_START);
    ASSERT_EQ(m_pty.Read(2000, 4), START);
    Bytes bytes = Frames(3, 10);
    bytes.resize(bytes.size() + 9, 0xF0);
    std::copy_n(DataFrame(99, 99, 99).begin(), 9, bytes.end() - 9);
    Deliver(bytes);
    ASSERT_EQ(dlg.m_nStaticPressure1, 12);

    m_pty.Close();
    ASSERT_TRUE(WaitUntil([&] { return !m_modals.empty(); }, 3000));
    WaitUntil([] { return false; }, 300);
    ASSERT_EQ(m_modals.size(), 1u) << "one box: the loss";
    EXPECT_EQ(m_modals[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(dlg.m_comm.GetPortOpen());
    EXPECT_EQ(dlg.GetDlgItemText(IDC_BTN_OPEN), kClosedCaption);
    EXPECT_FALSE(dlg.m_spinGain1->isEnabled());
    EXPECT_EQ(dlg.m_bObserving, 0);
    EXPECT_EQ(dlg.m_stStatus->text(), QStringLiteral("监测过程被终止!"));
    EXPECT_EQ(dlg.m_nStaticPressure1, 12) << "the readouts keep the last values";

    // Plugged back in: the first frame after the reopen is decoded whole.
    PtyPair next;
    ASSERT_TRUE(next.Ok());
    CMSComm::MapPort(1, QString::fromStdString(next.SlavePath()));
    m_modals.clear();
    Click(IDC_BTN_OPEN);
    ASSERT_TRUE(dlg.m_comm.GetPortOpen());
    const DecodeStats before = dlg.m_decodeStats;
    ASSERT_TRUE(next.Write(DataFrame(500, 600, 700)));
    EXPECT_TRUE(WaitUntil([&] { return dlg.m_nStaticPressure1 == 500; }));
    EXPECT_EQ(dlg.m_decodeStats.badCheck, before.badCheck);
    EXPECT_EQ(dlg.m_decodeStats.skipped, before.skipped);
    EXPECT_TRUE(m_modals.empty());
}

TEST_F(HostileTest, SensorThatNeverAnswers)
{
    OpenPort();
    CSensorDlg& dlg = Console();
    Click(IDC_BTN_START);
    // The start goes out three times in all, then the console gives up on it.
    Bytes wire;
    for (int i = 0; i < 100; ++i) {
        m_platform.Advance(TIMER_PERIOD_MS);
        dlg.OnTimer(1);
        const Bytes got = m_pty.Read(2);
        wire.insert(wire.end(), got.begin(), got.end());
    }
    const Bytes more = m_pty.Read(200);
    wire.insert(wire.end(), more.begin(), more.end());
    EXPECT_EQ(wire, Bytes({0xF0, 0x2F, 0x01, 0x32, 0xF0, 0x2F, 0x01, 0x32, 0xF0, 0x2F, 0x01, 0x32}));
    EXPECT_EQ(dlg.m_nSendCount, MAX_SEND_ATTEMPTS);
    EXPECT_EQ(dlg.m_bObserving, 0);
    EXPECT_EQ(dlg.m_stStatus->text(), QStringLiteral("监测过程中......"));
    EXPECT_TRUE(m_modals.empty());

    // The console still works: stop goes out, the port closes.
    Click(IDC_BTN_STOP);
    EXPECT_EQ(m_pty.Read(2000, 4), (Bytes{0xF0, 0x2F, 0x01, 0x33}));
    Click(IDC_BTN_OPEN);
    EXPECT_FALSE(dlg.m_comm.GetPortOpen());
    EXPECT_TRUE(m_modals.empty());
}

TEST_F(HostileTest, AbsurdCoefficientText)
{
    OpenPort();
    CSensorDlg& dlg = Console();
    auto* pEdit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_EDIT_COEF1));
    ASSERT_NE(pEdit, nullptr);
    const QString kRefused = QStringLiteral("请输入正确的标定系数：(1-255)");
    const struct { QString text; int nSent; } cases[] = {
        {QString(1000, QLatin1Char('9')), -1},
        {QString(997, QLatin1Char('0')) + QStringLiteral("100"), 100},
        {QString(997, QLatin1Char(' ')) + QStringLiteral("200"), 200},
        {QString(1000, QChar(0x4E00)), -1},           // 一一一…
        {QStringLiteral("一百"), -1},
        {QStringLiteral("１００"), -1},                 // full-width digits
        {QStringLiteral("\u3000100\u00A0"), 100},      // ideographic and no-break spaces are blanks
        {QStringLiteral("😀"), -1},
        {QStringLiteral("-0"), -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.left(20).toStdString());
        m_modals.clear();
        pEdit->setText(c.text);
        ASSERT_EQ(pEdit->text(), c.text);
        m_platform.Advance(SEND_SPACING_MS);
        Click(IDC_BTN_CALIBRATE1);
        if (c.nSent < 0) {
            ASSERT_EQ(m_modals.size(), 1u);
            EXPECT_EQ(m_modals[0].strText, kRefused);
            EXPECT_TRUE(m_pty.Read(100).empty());
        } else {
            EXPECT_TRUE(m_modals.empty());
            EXPECT_EQ(m_pty.Read(2000, 5), (Bytes{0xF0, 0x21, 0x02, 0x35, static_cast<uint8_t>(c.nSent)}));
        }
    }
}

TEST_F(HostileTest, PortOpenedAndClosedAHundredTimes)
{
    ASSERT_TRUE(m_pty.Ok());
    CSensorDlg& dlg = Console();
    const int nFds = OpenDescriptors();
    for (int i = 0; i < 100; ++i) {
        Click(IDC_BTN_OPEN);
        ASSERT_TRUE(dlg.m_comm.GetPortOpen()) << i;
        Click(IDC_BTN_OPEN);
        ASSERT_FALSE(dlg.m_comm.GetPortOpen()) << i;
    }
    EXPECT_EQ(OpenDescriptors(), nFds) << "every open was closed again";
    EXPECT_EQ(dlg.GetDlgItemText(IDC_BTN_OPEN), kClosedCaption);
    EXPECT_FALSE(dlg.m_spinGain1->isEnabled());
    EXPECT_TRUE(m_modals.empty());
    EXPECT_TRUE(m_pty.Read(100).empty()) << "opening and closing send nothing";

    // Still usable.
    Click(IDC_BTN_OPEN);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_BTN_OPEN), kOpenCaption);
    ASSERT_TRUE(m_pty.Write(DataFrame(42, 43, 44)));
    EXPECT_TRUE(WaitUntil([&] { return dlg.m_nStaticPressure1 == 42; }));
}

TEST_F(HostileTest, TenThousandSpinClicks)
{
    OpenPort();
    CSensorDlg& dlg = Console();
    SpinButton* pSpin = dlg.m_spinGain1;
    // Far apart: every click is a step that goes out, up and down in turn.
    Bytes wire;
    for (int i = 0; i < 10000; ++i) {
        m_platform.Advance(SEND_SPACING_MS);
        pSpin->Step(i % 2 == 0 ? +1 : -1);
        if (i % 500 == 499) {
            const Bytes got = m_pty.Read(5000, 500 * 5);
            wire.insert(wire.end(), got.begin(), got.end());
        }
    }
    ASSERT_EQ(wire.size(), 10000u * 5);
    for (size_t i = 0; i < 10000; ++i)
        ASSERT_EQ(wire[5 * i + 4], i % 2 == 0 ? 4 : 3) << i;
    EXPECT_EQ(dlg.m_nGainCh1, 3);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_EDIT_GAIN1), QStringLiteral("3"));

    // All at once: within the send spacing only the first step goes out.
    m_platform.Advance(SEND_SPACING_MS);
    for (int i = 0; i < 10000; ++i)
        pSpin->Step(+1);
    EXPECT_EQ(m_pty.Read(300), (Bytes{0xF0, 0x21, 0x02, 0x65, 0x04}));
    EXPECT_EQ(dlg.m_nGainCh1, 4);
    EXPECT_TRUE(m_modals.empty());
}
