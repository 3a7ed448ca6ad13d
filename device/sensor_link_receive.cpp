// Receive side of the device link: draining the serial layer, applying decoded frames,
// and the channel feed.
#include "sensor_link.h"

#include <climits>

#include "protocol.h"

CSensorLink::CSensorLink(ISensorView& view) : m_view(view) {}

CSensorLink::~CSensorLink() { m_ring.Free(); }

void CSensorLink::OnCommEvent()
{
    if (m_comm.GetCommEvent() != CMSComm::comEvReceive)
        return;
    const short nCount = m_comm.GetInBufferCount();
    if (nCount <= 0)
        return;
    const QByteArray input = m_comm.GetInput();
    m_comm.SetInputLen(0);
    // Every byte taken out of the layer is appended, also those that arrived after the count
    // was read: bytes taken out and then thrown away would be lost for good.
    ReceiveBytes(reinterpret_cast<const uint8_t*>(input.constData()), static_cast<int>(input.size()));
}

void CSensorLink::ReceiveBytes(const uint8_t* pBytes, int nCount)
{
    if (pBytes && nCount > 0) {
        Notify([&](ILinkObserver& o) { o.OnBytesReceived(pBytes, nCount); });
        const int nDropped = m_ring.Append(pBytes, nCount);
        if (nDropped > 0) {
            m_qwRingDropped += static_cast<uint64_t>(nDropped);
            m_decodeStats.passedOver.Break();  // the bytes passed over before and after the gap do not join
            Notify([&](ILinkObserver& o) { o.OnRingOverflow(nDropped); });
        }
    }
    DecodeFrames(m_ring, *this, &m_decodeStats);
    AnnounceSkipped();
}

void CSensorLink::AnnounceSkipped()
{
    auto news = [](uint64_t qwNow, uint64_t& qwTold) {
        const uint64_t qwNew = qwNow - qwTold;
        qwTold = qwNow;
        return qwNew > INT_MAX ? INT_MAX : static_cast<int>(qwNew);
    };
    if (m_decodeStats.skipped != m_qwSkippedAnnounced) {
        const int nNew = news(m_decodeStats.skipped, m_qwSkippedAnnounced);
        Notify([&](ILinkObserver& o) { o.OnBytesSkipped(nNew); });
    }
    if (m_decodeStats.destroyed != m_qwDestroyedAnnounced) {
        const int nNew = news(m_decodeStats.destroyed, m_qwDestroyedAnnounced);
        Notify([&](ILinkObserver& o) { o.OnFramesDestroyed(nNew); });
    }
}

void CSensorLink::AddObserver(ILinkObserver* pObserver)
{
    if (!pObserver)
        return;
    for (ILinkObserver*& pSlot : m_observers)
        if (pSlot == pObserver)
            return;
    for (ILinkObserver*& pSlot : m_observers) {
        if (!pSlot) {
            pSlot = pObserver;
            return;
        }
    }
    m_observers.push_back(pObserver);
}

void CSensorLink::RemoveObserver(ILinkObserver* pObserver)
{
    for (ILinkObserver*& pSlot : m_observers)
        if (pSlot == pObserver)
            pSlot = nullptr;
}

void CSensorLink::Acknowledge()
{
    m_nSendCount = 0;
    m_byPendingCode = 0;
}

void CSensorLink::OnInfoReply(const uint8_t info[4])
{
    Acknowledge();
    for (int i = 0; i < 4; ++i)
        m_byDeviceInfo[i] = info[i];
}

void CSensorLink::OnDataFrame(const uint8_t block[17], bool checkOk)
{
    // A data frame answers the pending command and starts a run even when its check fails.
    Acknowledge();
    AnnounceSkipped();
    Notify([&](ILinkObserver& o) { o.OnDataFrame(block, checkOk); });
    if (!m_bObserving) {
        m_bObserving = 1;
        UpdateControlStates();
    }
    if (checkOk)
        FeedSampleBlock(block, proto::BLOCK_LEN);
}

void CSensorLink::OnStopAck()
{
    Acknowledge();
    Notify([](ILinkObserver& o) { o.OnStopAck(); });
    m_bObserving = 0;
    UpdateControlStates();
}

void CSensorLink::OnDateReply(const uint8_t date[4])
{
    Acknowledge();
    for (int i = 0; i < 4; ++i)
        m_byDeviceDate[i] = date[i];
    m_strDeviceDate = QString::fromStdString(proto::FormatDeviceDate(m_byDeviceDate));
}

void CSensorLink::FeedSampleBlock(const uint8_t* block, int nLength)
{
    if (!block || nLength < proto::BLOCK_LEN)
        return;
    m_nStaticPressure1 = proto::BlockWordAt(block, proto::WORD_STATIC1);
    m_nStaticPressure2 = proto::BlockWordAt(block, proto::WORD_STATIC2);
    m_nStaticPressure3 = proto::BlockWordAt(block, proto::WORD_STATIC3);
    m_view.AddSamples(proto::BlockWordAt(block, proto::WORD_PULSE1),
                      proto::BlockWordAt(block, proto::WORD_PULSE2),
                      proto::BlockWordAt(block, proto::WORD_PULSE3),
                      proto::BlockWordAt(block, proto::WORD_ECG),
                      proto::BlockWordAt(block, proto::WORD_VOLUME));
    if (!m_view.IsWindow())
        return;
    if (TickDiff(Platform().GetTickCount(), m_dwLastPaintTick) > PRESSURE_REPAINT_MS) {
        m_bPressureRepaintOwed = false;
        m_view.InvalidatePressureArea();
        return;
    }
    // Too soon after the dialog's last paint. Any paint counts there, also one that never
    // touched the readouts, so without the timer the values of a stream that ends now would
    // never be shown.
    m_bPressureRepaintOwed = true;
    if (!m_bPressureTimerArmed) {
        m_bPressureTimerArmed = true;
        m_view.StartPressureRepaintTimer(PRESSURE_REPAINT_MS);
    }
}

void CSensorLink::OnPressureRepaintTimer()
{
    m_bPressureTimerArmed = false;
    if (m_bPressureRepaintOwed && m_view.IsWindow()) {
        m_bPressureRepaintOwed = false;
        m_view.InvalidatePressureArea();
    }
}
