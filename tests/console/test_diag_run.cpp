// Diagnostic runs: the paint-gap meter, the command line, and an unattended console against a
// pseudo-terminal (opening and observing by itself, its counters and report, which box is the
// loss report, and the graceful end on SIGTERM).
#include <QFile>
#include <QTemporaryDir>

#include <csignal>

#include "console_app.h"
#include "console_fixture.h"
#include "diag_run.h"
#include "protocol.h"
#include "resource_ids.h"
#include "support/pty_pair.h"

namespace {

TEST(PaintGapMeter, AWaitRunsFromTheFirstUnpaintedSampleToThePaint)
{
    CPaintGapMeter m;
    m.OnPaint(100);  // nothing waited
    EXPECT_EQ(m.m_qwMaxMicros, 0u);
    m.OnSample(1000);
    m.OnSample(5000);  // already waiting: the wait still runs from 1000
    m.OnPaint(21000);
    EXPECT_EQ(m.m_qwMaxMicros, 20000u);
    m.OnSample(22000);
    m.OnPaint(30000);
    EXPECT_EQ(m.m_qwMaxMicros, 20000u) << "the longest wait is kept";
    EXPECT_EQ(m.TakeRecentMaxMicros(), 20000u);
    EXPECT_EQ(m.TakeRecentMaxMicros(), 0u) << "a new window starts empty";
    m.OnPaint(90000);  // a quiet stretch is no gap
    EXPECT_EQ(m.TakeRecentMaxMicros(), 0u);
    EXPECT_EQ(m.m_qwPaints, 4u);
}

TEST(DiagOptions, AutoObserveAndReportAreParsedAndAScreenshotRunRefusesThem)
{
    auto parse = [](QStringList args) {
        args.prepend(QStringLiteral("Veltrin"));
        return ParseConsoleArguments(args);
    };
    ConsoleOptions o = parse({QStringLiteral("--auto-observe"), QStringLiteral("--diag-report"), QStringLiteral("/tmp/r")});
    EXPECT_TRUE(o.strError.isEmpty()) << qPrintable(o.strError);
    EXPECT_TRUE(o.bAutoObserve);
    EXPECT_EQ(o.strDiagReport, QStringLiteral("/tmp/r"));
    EXPECT_TRUE(o.strHelpText.contains(QStringLiteral("--diag-report")));
    EXPECT_FALSE(parse({QStringLiteral("--auto-observe"), QStringLiteral("--screenshot"), QStringLiteral("x.png")}).strError.isEmpty());
    EXPECT_FALSE(parse({QStringLiteral("--diag-report=")}).strError.isEmpty());
}

std::vector<uint8_t> DataFrames(int n)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < n; ++i) {
        uint16_t w[proto::BLOCK_WORDS] = {100, uint16_t(i), 200, 0, 300, 0, 0, 0};
        uint8_t frame[proto::DATA_FRAME_LEN] = {proto::SYNC, proto::INBOUND_ADDR, 0x12, proto::CODE_DATA};
        proto::BuildSampleBlock(w, frame + proto::HEADER_LEN);
        out.insert(out.end(), frame, frame + proto::DATA_FRAME_LEN);
    }
    return out;
}

class DiagRunTest : public ConsoleTest {
protected:
    ~DiagRunTest() override { CMSComm::ClearPortMap(); }
    QString Report() const
    {
        QFile f(m_dir.filePath(QStringLiteral("report")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    PtyPair m_pty;
    QTemporaryDir m_dir;
    CSensorDlg m_dlg;
};

TEST_F(DiagRunTest, ObservesByItselfCountsFramesTellsTheLossReportApartAndEndsOnSigterm)
{
    ASSERT_TRUE(m_pty.Ok());
    CMSComm::MapPort(1, QString::fromStdString(m_pty.SlavePath()));
    CDiagRun run(m_dlg, true, m_dir.filePath(QStringLiteral("report")));

    // It opens COM1 and starts observing, as the two buttons would.
    const std::vector<uint8_t> start = m_pty.Read(3000, 4);
    ASSERT_EQ(start, (std::vector<uint8_t>{0xF0, 0x2F, 0x01, proto::CODE_START}));
    ASSERT_TRUE(m_pty.Write(DataFrames(30)));
    ASSERT_TRUE(WaitUntil([&] { return run.Counters().qwGoodSinceOpen == 30; }));
    EXPECT_EQ(run.Counters().nPortOpens, 1);
    EXPECT_EQ(run.Counters().qwDataFrames, 30u);
    ASSERT_TRUE(run.WriteReport());
    EXPECT_TRUE(Report().contains(QStringLiteral("\ngood_since_open=30\n"))) << qPrintable(Report());

    // A box of its own is counted, and told apart from the report of a lost device.
    m_dlg.MessageBox(QStringLiteral("x"));
    EXPECT_TRUE(m_modals.empty()) << "answered by the run, not shown";
    m_pty.Close();
    ASSERT_TRUE(WaitUntil([&] { return run.Counters().nBoxes == 2; }, 5000));
    EXPECT_EQ(run.Counters().nLossBoxes, 1);
    EXPECT_FALSE(m_dlg.m_comm.GetPortOpen());

    // Plugged back in (a new terminal at the same port): open and observing again.
    PtyPair again;
    ASSERT_TRUE(again.Ok());
    CMSComm::MapPort(1, QString::fromStdString(again.SlavePath()));
    ASSERT_EQ(again.Read(3000, 4).size(), 4u);
    ASSERT_TRUE(again.Write(DataFrames(5)));
    ASSERT_TRUE(WaitUntil([&] { return m_dlg.m_bObserving && run.Counters().qwGoodSinceOpen == 5; }));
    EXPECT_EQ(run.Counters().nPortOpens, 2);

    // SIGTERM: Stop goes out, and once the sensor has acknowledged and the line is quiet, the
    // console ends with its report written.
    m_platform.Advance(SEND_SPACING_MS);
    std::raise(SIGTERM);
    const std::vector<uint8_t> stop = again.Read(3000, 4);
    ASSERT_EQ(stop, (std::vector<uint8_t>{0xF0, 0x2F, 0x01, proto::CODE_STOP}));
    ASSERT_TRUE(again.Write({proto::SYNC, proto::INBOUND_ADDR, 0x01, proto::CODE_STOP}));
    ASSERT_TRUE(WaitUntil([&] { return !m_dlg.m_bObserving; }));
    EXPECT_EQ(m_dlg.m_nDestroyCount, 0) << "not before the line fell silent";
    m_platform.Advance(1000);
    ASSERT_TRUE(WaitUntil([&] { return m_dlg.m_nDestroyCount == 1; }));
    EXPECT_TRUE(Report().contains(QStringLiteral("\nport_opens=2\n"))) << qPrintable(Report());
    EXPECT_TRUE(Report().contains(QStringLiteral("\nloss_boxes=1\n")));
}

} // namespace
