#include "frame_decoder.h"

FrameScan ScanFrame(const CByteRing& ring)
{
    FrameScan scan;
    const int unread = ring.Count();
    if (unread < proto::HEADER_LEN)
        return scan;
    const uint8_t code = ring.At(3);
    const int length = proto::InboundFrameLength(code);
    if (ring.At(0) != proto::SYNC || ring.At(1) != proto::INBOUND_ADDR || length == 0) {
        scan.result = ScanResult::NotFrame;
        return scan;
    }
    scan.code = code;
    scan.length = length;
    scan.result = unread >= length ? ScanResult::Frame : ScanResult::NeedMore;
    return scan;
}

bool IsDestroyedDataFrame(const uint8_t window[proto::DATA_FRAME_LEN])
{
    const int nDiffer = (window[0] != proto::SYNC) + (window[1] != proto::INBOUND_ADDR)
                      + (window[3] != proto::CODE_DATA);
    return nDiffer <= 1 && proto::BlockCheckOk(window + proto::HEADER_LEN);
}

bool CDestroyedFrameFinder::PassedOver(uint8_t by)
{
    m_window[m_nNext] = by;
    m_window[m_nNext + proto::DATA_FRAME_LEN] = by;
    m_nNext = m_nNext + 1 == proto::DATA_FRAME_LEN ? 0 : m_nNext + 1;
    if (m_nHave < proto::DATA_FRAME_LEN)
        ++m_nHave;
    // The oldest of the last 21 bytes is at m_nNext, the newest 20 places on.
    if (m_nHave < proto::DATA_FRAME_LEN || !IsDestroyedDataFrame(m_window + m_nNext))
        return false;
    m_nHave = 0;
    return true;
}

void DecodeFrames(CByteRing& ring, IFrameSink& sink, DecodeStats* stats)
{
    if (ring.m_nSize == 0)
        return;
    for (;;) {
        const FrameScan scan = ScanFrame(ring);
        if (scan.result == ScanResult::NeedMore)
            return;
        if (scan.result == ScanResult::NotFrame) {
            if (stats) {
                ++stats->skipped;
                if (stats->passedOver.PassedOver(ring.At(0)))
                    ++stats->destroyed;
            }
            ring.m_pRead = ring.Next(ring.m_pRead);
            continue;
        }
        if (stats) {
            ++stats->frames;
            stats->passedOver.Break();
        }
        ring.Skip(proto::HEADER_LEN);
        uint8_t payload[proto::BLOCK_LEN];
        switch (scan.code) {
        case proto::CODE_INFO:
            ring.Take(payload, 4);
            sink.OnInfoReply(payload);
            break;
        case proto::CODE_DATA: {
            ring.Take(payload, proto::BLOCK_LEN);
            const bool ok = proto::BlockCheckOk(payload);
            if (!ok && stats)
                ++stats->badCheck;
            sink.OnDataFrame(payload, ok);
            break;
        }
        case proto::CODE_STOP:
            sink.OnStopAck();
            break;
        case proto::CODE_DATE:
            ring.Take(payload, 4);
            sink.OnDateReply(payload);
            break;
        }
    }
}
