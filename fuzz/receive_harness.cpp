#include "receive_harness.h"

#include <algorithm>
#include <array>
#include <deque>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "byte_ring.h"
#include "frame_decoder.h"
#include "fuzz_check.h"
#include "platform.h"
#include "protocol.h"
#include "receive_model.h"
#include "sensor_link.h"
#include "wave_chart.h"

namespace {

using fuzzmodel::Event;
using fuzzmodel::ReceiveModel;

using fuzzcheck::CheckFailure;

void CheckRing(const CByteRing& ring, const ReceiveModel& model, int nRingSize)
{
    const std::deque<uint8_t>& unread = model.Unread();
    if (!ring.m_pBuf) {
        FUZZ_CHECK(nRingSize <= 1, "ring of " << nRingSize << " bytes without storage");
        FUZZ_CHECK(ring.m_nSize == 0 && !ring.m_pRead && !ring.m_pWrite, "storage-less ring with pointers");
        FUZZ_CHECK(unread.empty(), "storage-less ring should hold nothing");
        return;
    }
    FUZZ_CHECK(ring.m_nSize == nRingSize, "ring size changed");
    FUZZ_CHECK(ring.m_pRead >= ring.m_pBuf && ring.m_pRead < ring.m_pBuf + ring.m_nSize, "read position out of the ring");
    FUZZ_CHECK(ring.m_pWrite >= ring.m_pBuf && ring.m_pWrite < ring.m_pBuf + ring.m_nSize, "write position out of the ring");
    const int nCount = ring.Count();
    FUZZ_CHECK(nCount <= ring.m_nSize - 1, "ring holds " << nCount << " of " << ring.m_nSize);
    FUZZ_CHECK(nCount == static_cast<int>(unread.size()), "ring holds " << nCount << ", model " << unread.size());
    // Every byte of a small ring; the two ends of a large one.
    const int nEdge = nCount <= 256 ? nCount : 64;
    for (int k = 0; k < nEdge; ++k) {
        FUZZ_CHECK(ring.At(k) == unread[static_cast<size_t>(k)], "unread byte " << k << " differs");
        const int j = nCount - 1 - k;
        FUZZ_CHECK(ring.At(j) == unread[static_cast<size_t>(j)], "unread byte " << j << " differs");
    }
}

void CheckStats(const DecodeStats& got, const DecodeStats& want, const char* who)
{
    FUZZ_CHECK(got.frames == want.frames, who << ": " << got.frames << " frames, model " << want.frames);
    FUZZ_CHECK(got.badCheck == want.badCheck, who << ": " << got.badCheck << " bad checks, model " << want.badCheck);
    FUZZ_CHECK(got.skipped == want.skipped, who << ": " << got.skipped << " skipped, model " << want.skipped);
    FUZZ_CHECK(got.destroyed == want.destroyed, who << ": " << got.destroyed << " destroyed, model " << want.destroyed);
}

// Records the frames the decoder reports.
class RecordingSink : public IFrameSink {
public:
    std::vector<Event> m_events;
    void OnInfoReply(const uint8_t info[4]) override { Add(0x31, info, 4, true); }
    void OnDataFrame(const uint8_t block[17], bool checkOk) override { Add(0x32, block, 17, checkOk); }
    void OnStopAck() override { Add(0x33, nullptr, 0, true); }
    void OnDateReply(const uint8_t date[4]) override { Add(0x3A, date, 4, true); }

private:
    void Add(uint8_t code, const uint8_t* p, int n, bool ok)
    {
        Event e;
        e.code = code;
        std::copy(p, p + n, e.payload.begin());
        e.checkOk = ok;
        m_events.push_back(e);
    }
};

// The input cut into its events.
class EventReader {
public:
    EventReader(const uint8_t* p, size_t n) : m_p(p), m_end(p + n) {}
    bool Next(std::vector<uint8_t>& out)
    {
        out.clear();
        if (m_p >= m_end)
            return false;
        const uint8_t byLen = *m_p++;
        if (byLen < 0xF8) {
            const size_t n = std::min<size_t>(byLen, static_cast<size_t>(m_end - m_p));
            out.assign(m_p, m_p + n);
            m_p += n;
            return true;
        }
        const size_t nRepeat = static_cast<size_t>(byLen - 0xF7) * (Byte() + 1u);
        const size_t nWanted = Byte();
        const size_t nPiece = std::min<size_t>(nWanted, static_cast<size_t>(m_end - m_p));
        for (size_t i = 0; i < nRepeat && nPiece > 0 && out.size() < RECEIVE_BURST_MAX; ++i)
            out.insert(out.end(), m_p, m_p + std::min(nPiece, RECEIVE_BURST_MAX - out.size()));
        m_p += nPiece;
        return true;
    }

private:
    uint8_t Byte() { return m_p < m_end ? *m_p++ : 0; }
    const uint8_t* m_p;
    const uint8_t* m_end;
};

// Part one: a bare ring of the chosen size and the decoder.
void RunRing(int nRingSize, const uint8_t* data, size_t size)
{
    CByteRing ring(nRingSize);
    ReceiveModel model(nRingSize);
    RecordingSink sink;
    DecodeStats stats;
    std::vector<Event> expected;
    EventReader reader(data, size);
    std::vector<uint8_t> chunk;
    for (int nEvent = 0; reader.Next(chunk); ++nEvent) {
        const int n = static_cast<int>(chunk.size());
        const int nDropped = ring.Append(chunk.data(), n);
        FUZZ_CHECK(nDropped == model.Append(chunk.data(), n), "event " << nEvent << ": dropped " << nDropped);
        CheckRing(ring, model, nRingSize);
        DecodeFrames(ring, sink, &stats);
        model.Decode(expected);
        FUZZ_CHECK(sink.m_events == expected, "event " << nEvent << ": decoded frames differ from the model");
        CheckStats(stats, model.m_stats, "decoder");
        CheckRing(ring, model, nRingSize);
    }
}

// The console window as far as the link sees it: a waveform store and a clock-driven repaint.
class HeadlessView : public ISensorView {
public:
    HeadlessView(CWaveChart& chart, FakePlatform& platform) : m_chart(chart), m_platform(platform) {}

    CSensorLink* m_pLink = nullptr;
    std::vector<Event> m_expected;  // good data frames still to come, in order
    size_t m_nNext = 0;
    bool m_bTimerRunning = false;
    uint32_t m_dwTimerDue = 0;

    void AddSamples(int ch0, int ch1, int ch2, int ch3, int ch4) override
    {
        FUZZ_CHECK(m_nNext < m_expected.size(), "a sample block the model does not have");
        const Event& e = m_expected[m_nNext++];
        const int want[8] = {proto::BlockWordAt(e.payload.data(), 0), proto::BlockWordAt(e.payload.data(), 1),
                             proto::BlockWordAt(e.payload.data(), 2), proto::BlockWordAt(e.payload.data(), 3),
                             proto::BlockWordAt(e.payload.data(), 4), proto::BlockWordAt(e.payload.data(), 5),
                             proto::BlockWordAt(e.payload.data(), 6), proto::BlockWordAt(e.payload.data(), 7)};
        FUZZ_CHECK(m_pLink->m_nStaticPressure1 == want[0] && m_pLink->m_nStaticPressure2 == want[2]
                          && m_pLink->m_nStaticPressure3 == want[4], "pressures of the block");
        const int v[WAVE_CHANNELS] = {ch0, ch1, ch2, ch3, ch4};
        const int wantCh[WAVE_CHANNELS] = {want[1], want[3], want[5], want[6], want[7]};
        for (int ch = 0; ch < WAVE_CHANNELS; ++ch)
            FUZZ_CHECK(v[ch] == wantCh[ch], "channel " << ch << " of the block");
        m_chart.AddSamples(ch0, ch1, ch2, ch3, ch4);
        CheckStore(v);
    }
    bool IsWindow() const override { return true; }
    void InvalidatePressureArea() override { m_pLink->m_dwLastPaintTick = m_platform.GetTickCount(); }
    void StartPressureRepaintTimer(uint32_t nDelayMs) override
    {
        FUZZ_CHECK(!m_bTimerRunning, "repaint timer started twice");
        m_bTimerRunning = true;
        m_dwTimerDue = m_platform.GetTickCount() + nDelayMs;
    }
    // Fires the repaint timer once its time has come.
    void RunTimer()
    {
        if (m_bTimerRunning && TickDiff(m_platform.GetTickCount(), m_dwTimerDue) < 0x80000000u) {
            m_bTimerRunning = false;
            m_pLink->OnPressureRepaintTimer();
        }
    }
    void EnableGainSpins(bool) override {}
    int GetPortSelection() const override { return 0; }
    void SetOpenButtonText(const QString&) override {}
    void SetDlgItemInt(int, int) override {}
    QString GetDlgItemText(int) const override { return QString(); }
    void MessageBox(const QString&) override {}
    void ShowErrorBox(const QString&) override {}
    void SetStatusLabelText(const QString&) override {}
    void ShowStatusLabel(bool) override {}

private:
    // Indices within the capacity, the five channels written together.
    void CheckStore(const int v[WAVE_CHANNELS])
    {
        const int nCap = m_chart.m_nCapacity;
        FUZZ_CHECK(nCap >= 1 && nCap <= WAVE_BUF_LEN, "store capacity " << nCap);
        FUZZ_CHECK(m_chart.m_nCount >= 1 && m_chart.m_nCount <= nCap, "store count " << m_chart.m_nCount << " of " << nCap);
        if (m_chart.m_bScroll)
            FUZZ_CHECK(m_chart.m_nStart >= 0 && m_chart.m_nStart < nCap, "store start " << m_chart.m_nStart << " of " << nCap);
        else
            FUZZ_CHECK(m_chart.m_nStart == 0, "page-flip start " << m_chart.m_nStart);
        const int nLast = m_chart.m_nCount - 1;
        for (int ch = 0; ch < WAVE_CHANNELS; ++ch)
            FUZZ_CHECK(m_chart.m_wData[ch][nLast] == static_cast<uint16_t>(v[ch]), "channel " << ch << " out of step");
        const wavegeo::DisplayRun run = wavegeo::GetDisplayRun(m_chart.m_nStart, m_chart.m_nCount, nCap);
        for (int k : {0, run.nHead - 1, run.nHead, run.Points() - 1}) {
            if (k < 0 || k >= run.Points())
                continue;
            const int nIndex = run.IndexAt(k);
            FUZZ_CHECK(nIndex >= 0 && nIndex < nCap, "displayed position " << k << " reads index " << nIndex);
        }
    }

    CWaveChart& m_chart;
    FakePlatform& m_platform;
};

// Checks the link's watcher calls against the model, event by event.
class Watcher : public ILinkObserver {
public:
    int m_nReceived = 0;
    int m_nDropped = 0;
    std::vector<Event> m_frames;
    void OnBytesReceived(const uint8_t*, int nCount) override { m_nReceived += nCount; }
    void OnRingOverflow(int nDropped) override { m_nDropped += nDropped; }
    void OnDataFrame(const uint8_t block[17], bool checkOk) override
    {
        Event e;
        e.code = 0x32;
        std::copy(block, block + 17, e.payload.begin());
        e.checkOk = checkOk;
        m_frames.push_back(e);
    }
};

// Part two: the device link's receive path, channel feed and waveform store.
void RunLink(uint8_t byStore, const uint8_t* data, size_t size)
{
    FakePlatform platform;
    platform.m_dwTick = 0xFFFFF000u;  // the tick wraps during long inputs
    ScopedPlatform scoped(platform);
    CWaveChart chart;
    chart.m_bScroll = byStore & 1;
    chart.m_rcClient = WaveRect{0, 0, (byStore >> 1) * 3, 100};
    chart.UpdateCapacity();
    HeadlessView view(chart, platform);
    CSensorLink link(view);
    view.m_pLink = &link;
    Watcher watcher;
    link.AddObserver(&watcher);
    ReceiveModel model(RING_SIZE);
    model.m_bBreakOnDrop = true;

    EventReader reader(data, size);
    std::vector<uint8_t> chunk;
    std::vector<Event> frames;
    for (int nEvent = 0; reader.Next(chunk); ++nEvent) {
        platform.Advance(static_cast<uint32_t>(chunk.size() / 25 + 1));  // about the line's rate
        const int n = static_cast<int>(chunk.size());
        const int nDropped = model.Append(chunk.data(), n);
        frames.clear();
        model.Decode(frames);
        std::vector<Event> dataFrames;
        for (const Event& e : frames)
            if (e.code == 0x32)
                dataFrames.push_back(e);
        view.m_expected.clear();
        view.m_nNext = 0;
        for (const Event& e : dataFrames)
            if (e.checkOk)
                view.m_expected.push_back(e);
        watcher = Watcher();

        link.ReceiveBytes(chunk.data(), n);

        FUZZ_CHECK(view.m_nNext == view.m_expected.size(), "event " << nEvent << ": " << view.m_nNext << " blocks fed, model "
                                                                       << view.m_expected.size());
        FUZZ_CHECK(watcher.m_nReceived == n, "event " << nEvent << ": watchers saw " << watcher.m_nReceived << " bytes");
        FUZZ_CHECK(watcher.m_nDropped == nDropped, "event " << nEvent << ": watchers saw " << watcher.m_nDropped << " dropped");
        FUZZ_CHECK(watcher.m_frames == dataFrames, "event " << nEvent << ": watchers saw other data frames");
        CheckStats(link.m_decodeStats, model.m_stats, "link");
        FUZZ_CHECK(link.m_qwRingDropped == model.m_qwDropped, "link dropped " << link.m_qwRingDropped);
        CheckRing(link.m_ring, model, RING_SIZE);
        FUZZ_CHECK(!link.m_bPressureRepaintOwed || view.m_bTimerRunning, "a repaint is owed and nothing will do it");
        view.RunTimer();
    }
    // The stream has ended: whatever was skipped is repainted when the timer fires.
    platform.Advance(PRESSURE_REPAINT_MS);
    view.RunTimer();
    FUZZ_CHECK(!link.m_bPressureRepaintOwed, "the readouts were left with older values");
    link.RemoveObserver(&watcher);
}

} // namespace

std::string CheckReceiveInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return std::string();
    try {
        const int nRingSize = (data[0] & 0x80) ? RING_SIZE : (data[0] & 0x7F);
        RunRing(nRingSize, data + 2, size - 2);
        RunLink(data[1], data + 2, size - 2);
    } catch (const CheckFailure& e) {
        return e.what();
    }
    return std::string();
}
