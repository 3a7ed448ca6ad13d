#include "frame_decoder.h"

#include "protocol.h"

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

void DecodeFrames(CByteRing& ring, IFrameSink& sink, DecodeStats* stats)
{
    if (ring.m_nSize == 0)
        return;
    for (;;) {
        const FrameScan scan = ScanFrame(ring);
        if (scan.result == ScanResult::NeedMore)
            return;
        if (scan.result == ScanResult::NotFrame) {
            ring.m_pRead = ring.Next(ring.m_pRead);
            if (stats)
                ++stats->skipped;
            continue;
        }
        if (stats)
            ++stats->frames;
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
