// The console and the simulated sensor together, over a real pseudo-terminal and on the real
// clock: a real CSensorDlg drives the sensor the way an operator's clicks would.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

#include <array>
#include <memory>
#include <vector>

#include "modal.h"
#include "protocol.h"
#include "resource_ids.h"
#include "sensor_dlg.h"
#include "sensor_model.h"
#include "sensor_sim.h"
#include "spin_button.h"
#include "support/pty_pair.h"

namespace {

using Bytes = std::vector<uint8_t>;
// One sample block in wire order: static 1, pulse 1, static 2, pulse 2, static 3, pulse 3, ECG, volume.
using Block = std::array<int, proto::BLOCK_WORDS>;

const Bytes START = {0xF0, 0x2F, 0x01, 0x32};
const Bytes STOP = {0xF0, 0x2F, 0x01, 0x33};
constexpr int LONG_WAIT_MS = 8000;

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The console, recording every sample block it hands to the waveform control together with
// the readouts it set from the same block.
class RecordingDlg : public CSensorDlg {
public:
    void AddSamples(int ch0, int ch1, int ch2, int ch3, int ch4) override
    {
        m_blocks.push_back({m_nStaticPressure1, ch0, m_nStaticPressure2, ch1, m_nStaticPressure3, ch2, ch3, ch4});
        CSensorDlg::AddSamples(ch0, ch1, ch2, ch3, ch4);
    }
    std::vector<Block> m_blocks;
};

// The first n blocks the simulated sensor streams with these options, faults left out.
std::vector<Block> CleanStream(const SensorSimOptions& opts, size_t n)
{
    CSensorModel model(opts.rate, opts.bpm, opts.seed);
    std::vector<Block> out(n);
    for (Block& b : out) {
        uint8_t frame[proto::DATA_FRAME_LEN];
        model.NextDataFrame(frame);
        for (int k = 0; k < proto::BLOCK_WORDS; ++k)
            b[k] = proto::BlockWordAt(frame + proto::HEADER_LEN, k);
    }
    return out;
}

// How many of got, in order, match blocks of want (a subsequence match).
size_t MatchedInOrder(const std::vector<Block>& got, const std::vector<Block>& want)
{
    size_t g = 0;
    for (size_t w = 0; w < want.size() && g < got.size(); ++w)
        if (got[g] == want[w])
            ++g;
    return g;
}

class ConsoleSimTest : public ::testing::Test {
protected:
    ~ConsoleSimTest() override
    {
        // The console's port closes before the sensor's terminal goes, as in the demo run.
        m_dlg.reset();
        m_sim.reset();
        CMSComm::ClearPortMap();
    }

    // Starts the sensor on COM1 and opens the console on it.
    void Connect(const SensorSimOptions& opts = SensorSimOptions())
    {
        m_sim = std::make_unique<SensorSim>(opts);
        std::string strError;
        ASSERT_TRUE(m_sim->Start(&strError)) << strError;
        CMSComm::MapPort(1, QString::fromStdString(m_sim->SlavePath()));
        m_dlg = std::make_unique<RecordingDlg>();
        m_dlg->show();
        Click(IDC_BTN_OPEN);
        ASSERT_TRUE(m_dlg->m_comm.GetPortOpen());
    }
    void Click(int nID) { qobject_cast<QPushButton*>(m_dlg->GetDlgItem(nID))->click(); }
    // Waits out the console's minimum gap between two commands.
    static void Pause(int ms = int(SEND_SPACING_MS) + 50) { WaitUntil([] { return false; }, ms); }
    bool Acknowledged() const { return m_dlg->m_byPendingCode == 0 && m_dlg->m_nSendCount == 0; }

    void StartObserving()
    {
        Click(IDC_BTN_START);
        ASSERT_TRUE(WaitUntil([&] { return m_dlg->m_bObserving != 0; }, LONG_WAIT_MS));
    }

    std::vector<QString> m_boxes;
    ScopedModalHook m_hook{[this](QDialog& dlg) {
        m_boxes.push_back(dlg.windowTitle());
        return 0;
    }};
    std::unique_ptr<SensorSim> m_sim;
    std::unique_ptr<RecordingDlg> m_dlg;
};

TEST_F(ConsoleSimTest, ObservingFillsTracesAndReadoutsWithTheSensorsOwnSamples)
{
    SensorSimOptions opts;
    opts.seed = 11;
    ASSERT_NO_FATAL_FAILURE(Connect(opts));
    EXPECT_TRUE(m_dlg->m_spinGain1->isEnabled());
    ASSERT_NO_FATAL_FAILURE(StartObserving());
    EXPECT_TRUE(m_sim->Streaming());

    const int nFirst = m_dlg->m_waveChart.m_nCount;
    ASSERT_TRUE(WaitUntil([&] { return m_dlg->m_waveChart.m_nCount > nFirst + 200; }, LONG_WAIT_MS));
    EXPECT_NE(m_dlg->m_nStaticPressure1, 0);
    EXPECT_NE(m_dlg->m_nStaticPressure2, 0);
    EXPECT_NE(m_dlg->m_nStaticPressure3, 0);

    // Every block shown is one the sensor made, in order: nothing garbled or reordered on the way.
    const std::vector<Block> want = CleanStream(opts, m_sim->Stats().framesSent + 50);
    EXPECT_EQ(MatchedInOrder(m_dlg->m_blocks, want), m_dlg->m_blocks.size());
    // The first data frame answered the start command: it went out once.
    EXPECT_EQ(m_sim->Received(), START);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(ConsoleSimTest, GainSpinsSendExactFramesThatTheSensorAcknowledges)
{
    ASSERT_NO_FATAL_FAILURE(Connect());
    struct Row {
        const char* pszName;
        SpinButton* pSpin;
        int iDelta;
        int CSensorLink::*pGain;
        QLineEdit* pEdit;
        int nWant;
        Bytes frame;
    };
    RecordingDlg& d = *m_dlg;
    const Row rows[] = {
        {"channel 1 up", d.m_spinGain1, +1, &CSensorLink::m_nGainCh1, d.m_editGain1, 4, {0xF0, 0x21, 0x02, 0x65, 0x04}},
        {"channel 1 down", d.m_spinGain1, -1, &CSensorLink::m_nGainCh1, d.m_editGain1, 3, {0xF0, 0x21, 0x02, 0x65, 0x03}},
        {"channel 2 up", d.m_spinGain2, +1, &CSensorLink::m_nGainCh2, d.m_editGain2, 4, {0xF0, 0x22, 0x02, 0x65, 0x04}},
        {"channel 3 down", d.m_spinGain3, -1, &CSensorLink::m_nGainCh3, d.m_editGain3, 2, {0xF0, 0x23, 0x02, 0x65, 0x02}},
        {"ECG up", d.m_spinEcgGain, +1, &CSensorLink::m_nGainEcg, d.m_editEcgGain, 4, {0xF0, 0x2A, 0x02, 0x65, 0x04}},
        {"volume up", d.m_spinVolumeGain, +1, &CSensorLink::m_nGainVolume, d.m_editVolumeGain, 5, {0xF0, 0x2B, 0x02, 0x65, 0x05}},
    };
    Bytes all;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszName);
        Pause();
        row.pSpin->Step(row.iDelta);
        all.insert(all.end(), row.frame.begin(), row.frame.end());
        EXPECT_TRUE(WaitUntil([&] { return m_sim->Received().size() >= all.size(); }, LONG_WAIT_MS));
        // The sensor's reply settles the command: no re-send follows.
        EXPECT_TRUE(WaitUntil([&] { return Acknowledged(); }, LONG_WAIT_MS));
        EXPECT_EQ(d.*row.pGain, row.nWant);
        EXPECT_EQ(row.pEdit->text(), QString::number(row.nWant));
    }
    Pause(2 * int(RESEND_AFTER_MS));
    EXPECT_EQ(m_sim->Received(), all);
    EXPECT_EQ(m_sim->Stats().rejected, 0u);
}

TEST_F(ConsoleSimTest, StopEndsTheRunAndNoDataFollowsTheAcknowledgement)
{
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_NO_FATAL_FAILURE(StartObserving());
    ASSERT_TRUE(WaitUntil([&] { return m_dlg->m_blocks.size() > 50; }, LONG_WAIT_MS));
    Pause();
    Click(IDC_BTN_STOP);
    ASSERT_TRUE(WaitUntil([&] { return m_dlg->m_bObserving == 0; }, LONG_WAIT_MS));
    EXPECT_FALSE(m_sim->Streaming());
    EXPECT_TRUE(Acknowledged());

    const size_t nBlocks = m_dlg->m_blocks.size();
    Pause(500);
    EXPECT_EQ(m_dlg->m_blocks.size(), nBlocks);
    EXPECT_EQ(m_dlg->m_bObserving, 0);
    EXPECT_EQ(m_sim->Received(), Concat({START, STOP}));
}

TEST_F(ConsoleSimTest, SilentSensorGetsTheCommandThreeTimesInAll)
{
    SensorSimOptions opts;
    opts.silent = true;
    ASSERT_NO_FATAL_FAILURE(Connect(opts));
    Click(IDC_BTN_START);
    const Bytes three = Concat({START, START, START});
    EXPECT_TRUE(WaitUntil([&] { return m_sim->Received().size() >= three.size(); }, LONG_WAIT_MS));
    // Well past the time a fourth attempt would take.
    Pause(3 * int(RESEND_AFTER_MS));
    EXPECT_EQ(m_sim->Received(), three);
    EXPECT_EQ(m_dlg->m_nSendCount, MAX_SEND_ATTEMPTS);
    EXPECT_EQ(m_dlg->m_bObserving, 0);
    EXPECT_TRUE(m_dlg->m_blocks.empty());

    // Only a reply resets the attempt count: a command issued after three unanswered ones
    // goes out once and is not repeated.
    Click(IDC_BTN_ZERO2);
    const Bytes zero2 = {0xF0, 0x22, 0x01, 0x34};
    const Bytes four = Concat({three, zero2});
    EXPECT_TRUE(WaitUntil([&] { return m_sim->Received().size() >= four.size(); }, LONG_WAIT_MS));
    Pause(3 * int(RESEND_AFTER_MS));
    EXPECT_EQ(m_sim->Received(), four);
}

TEST_F(ConsoleSimTest, CorruptedFramesAndLineNoiseNeverReachTracesOrReadouts)
{
    SensorSimOptions opts;
    opts.seed = 5;
    opts.corrupt = 0.2;
    opts.garbage = 0.1;
    ASSERT_NO_FATAL_FAILURE(Connect(opts));
    ASSERT_NO_FATAL_FAILURE(StartObserving());
    ASSERT_TRUE(WaitUntil([&] { return m_dlg->m_blocks.size() > 800; }, 2 * LONG_WAIT_MS));
    Pause();
    Click(IDC_BTN_STOP);
    ASSERT_TRUE(WaitUntil([&] { return !m_sim->Streaming(); }, LONG_WAIT_MS));
    Pause(300);

    const SensorSimStats st = m_sim->Stats();
    ASSERT_GT(st.corrupted, 50u);
    ASSERT_GT(st.garbageBursts, 25u);
    // Every block that reached the traces and readouts is one the sensor made, in order;
    // a damaged frame is dropped whole and the stream picks up again at the next good one.
    const std::vector<Block> want = CleanStream(opts, st.framesSent + 50);
    const std::vector<Block>& got = m_dlg->m_blocks;
    EXPECT_EQ(MatchedInOrder(got, want), got.size());
    EXPECT_LE(got.size(), st.framesSent);
    EXPECT_GT(got.size(), st.framesSent / 2);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(m_dlg->m_nStaticPressure1, got.back()[proto::WORD_STATIC1]);
    EXPECT_EQ(m_dlg->m_nStaticPressure2, got.back()[proto::WORD_STATIC2]);
    EXPECT_EQ(m_dlg->m_nStaticPressure3, got.back()[proto::WORD_STATIC3]);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(ConsoleSimTest, ClosingTheWindowWhileObservingStopsTheSensor)
{
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_NO_FATAL_FAILURE(StartObserving());
    Pause();
    m_dlg->close();
    EXPECT_TRUE(WaitUntil([&] { return !m_sim->Streaming(); }, LONG_WAIT_MS));
    EXPECT_EQ(m_sim->Received(), Concat({START, STOP}));
    EXPECT_EQ(m_dlg->m_nDestroyCount, 1);
}

} // namespace
