#include "replay_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "byte_ring.h"
#include "frame_decoder.h"
#include "protocol.h"

namespace capture {

CReplaySource::~CReplaySource()
{
    if (m_pFile)
        std::fclose(m_pFile);
}

bool CReplaySource::Open(const std::string& strPath, double dSpeed, std::string* pError)
{
    auto fail = [&](const std::string& text) {
        if (pError)
            *pError = text;
        return false;
    };
    if (!(dSpeed >= REPLAY_MIN_SPEED && dSpeed <= REPLAY_MAX_SPEED))
        return fail("the replay speed must be from 0.1 to 20");
    m_strPath = strPath;
    m_strWarning.clear();
    m_dSpeed = dSpeed;
    m_pFile = std::fopen(strPath.c_str(), "rb");
    if (!m_pFile)
        return fail("cannot read " + strPath + ": " + std::strerror(errno));

    // One pass over the whole capture: it must be sound, and its first data frame is found
    // with the decoder's own scan, counting the bytes passed over before it.
    CFileSource source(m_pFile);
    CCaptureReader reader(source);
    if (!reader.ReadHeader())
        return fail(strPath + ": offset " + std::to_string(reader.ErrorOffset()) + ": " + reader.Error());
    CByteRing ring;
    uint64_t nRecord = 0;     // received records so far
    uint64_t nConsumed = 0;   // received bytes scanned past
    uint64_t nRecordStart = 0;
    std::vector<std::pair<uint64_t, uint64_t>> starts;  // (record, first byte in the stream), recent ones
    bool bFound = false;
    uint64_t nFirstByte = 0;
    int64_t nLastReceivedUs = 0;
    CaptureRecord rec;
    for (;;) {
        const ReadResult r = reader.Next(rec);
        if (r == ReadResult::Truncated)
            m_strWarning = strPath + ": offset " + std::to_string(reader.ErrorOffset()) + ": " + reader.Error() +
                           "; the capture was cut short and is replayed up to its last whole record";
        if (r == ReadResult::End || r == ReadResult::Truncated)
            break;
        if (r == ReadResult::Error)
            return fail(strPath + ": offset " + std::to_string(reader.ErrorOffset()) + ": " + reader.Error());
        if (rec.dir == Direction::Received)
            nLastReceivedUs = rec.timeUs;
        if (rec.dir != Direction::Received || bFound)
            continue;
        starts.emplace_back(nRecord, nRecordStart);
        nRecordStart += rec.bytes.size();
        ++nRecord;
        for (size_t done = 0; done < rec.bytes.size() && !bFound;) {
            const size_t piece = std::min(rec.bytes.size() - done, static_cast<size_t>(RING_SIZE / 2));
            ring.Append(rec.bytes.data() + done, static_cast<int>(piece));
            done += piece;
            for (;;) {
                const FrameScan scan = ScanFrame(ring);
                if (scan.result == ScanResult::NeedMore)
                    break;
                if (scan.result == ScanResult::Frame && scan.code == proto::CODE_DATA) {
                    bFound = true;
                    nFirstByte = nConsumed;
                    break;
                }
                const int n = scan.result == ScanResult::Frame ? scan.length : 1;
                ring.Skip(n);
                nConsumed += static_cast<uint64_t>(n);
            }
        }
        // Only records that may still hold the frame's first byte are kept.
        while (starts.size() > 1 && starts[1].second <= nConsumed)
            starts.erase(starts.begin());
    }
    if (!bFound)
        return fail(strPath + " holds no data frame to replay");
    while (starts.size() > 1 && starts[1].second <= nFirstByte)
        starts.erase(starts.begin());
    m_qwFirstRecord = starts.front().first;
    m_nFirstOffset = static_cast<size_t>(nFirstByte - starts.front().second);
    if (!Rewind(pError))
        return false;
    m_nFirstCapUs = m_nStartCapUs;
    m_nDurationUs = std::max<int64_t>(0, nLastReceivedUs - m_nFirstCapUs);
    return true;
}

bool CReplaySource::Rewind(std::string* pError)
{
    std::fseek(m_pFile, 0, SEEK_SET);
    m_pSource = std::make_unique<CFileSource>(m_pFile);
    m_pReader = std::make_unique<CCaptureReader>(*m_pSource);
    m_bEnded = false;
    m_bHaveRec = false;
    if (!m_pReader->ReadHeader()) {
        if (pError)
            *pError = m_strPath + ": " + m_pReader->Error();
        return false;
    }
    for (uint64_t i = 0; i <= m_qwFirstRecord; ++i)
        if (!NextReceived(pError))
            return false;
    m_nRecPos = m_nFirstOffset;
    m_nStartCapUs = m_rec.timeUs;
    return true;
}

bool CReplaySource::NextReceived(std::string* pError)
{
    for (;;) {
        const ReadResult r = m_pReader->Next(m_rec);
        if (r != ReadResult::Record) {
            m_bHaveRec = false;
            m_bEnded = true;
            // A file changed under the replay ends it; the bytes handed out so far stand.
            if (r == ReadResult::Error && pError)
                *pError = m_strPath + ": " + m_pReader->Error();
            return r != ReadResult::Error;
        }
        if (m_rec.dir == Direction::Received) {
            m_bHaveRec = true;
            m_nRecPos = 0;
            return true;
        }
    }
}

void CReplaySource::Start(int64_t nowUs)
{
    if (m_bEnded)
        Rewind(nullptr);
    m_bPlaying = true;
    m_nStartNowUs = nowUs;
    // Time spent stopped does not count: the next record is due at once.
    if (m_bHaveRec)
        m_nStartCapUs = m_rec.timeUs;
}

void CReplaySource::Pause()
{
    m_bPlaying = false;
    // The place held is the next record's time, which is what Start goes on from.
    if (m_bHaveRec)
        m_nStartCapUs = m_rec.timeUs;
}

int64_t CReplaySource::PositionUs(int64_t nowUs) const
{
    if (m_bEnded)
        return m_nDurationUs;
    int64_t capUs = m_nStartCapUs;
    if (m_bPlaying)
        capUs += static_cast<int64_t>(static_cast<double>(nowUs - m_nStartNowUs) * m_dSpeed);
    return std::clamp<int64_t>(capUs - m_nFirstCapUs, 0, m_nDurationUs);
}

bool CReplaySource::Pump(int64_t nowUs, std::vector<uint8_t>& out)
{
    if (!m_bPlaying)
        return !m_bEnded;
    const int64_t dueCapUs = m_nStartCapUs + static_cast<int64_t>(static_cast<double>(nowUs - m_nStartNowUs) * m_dSpeed);
    while (m_bHaveRec && m_rec.timeUs <= dueCapUs) {
        out.insert(out.end(), m_rec.bytes.begin() + static_cast<std::ptrdiff_t>(m_nRecPos), m_rec.bytes.end());
        NextReceived(nullptr);
    }
    if (m_bHaveRec) {
        return true;
    }
    m_bPlaying = false;
    return false;
}

} // namespace capture
