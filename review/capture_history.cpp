#include "capture_history.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "byte_source.h"
#include "capture_reader.h"
#include "data_runs.h"
#include "protocol.h"
#include "session_decoder.h"

namespace review {

namespace {

class CStoreFiller : public capture::ISessionListener {
public:
    explicit CStoreFiller(CHistoryStore& store) : m_store(store) {}
    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override
    {
        m_runs.OnDataFrame(block, checkOk, timeUs);
        if (checkOk)
            m_store.AppendBlock(block);
        else
            m_store.AppendMissing();
    }
    // A frame whose header was hit on the line: a missing sample, as for a failed check.
    void OnDestroyedFrame(int64_t timeUs) override
    {
        m_runs.OnDestroyedFrame(timeUs);
        m_store.AppendMissing();
    }
    void OnStopAck(int64_t timeUs) override { m_runs.OnStopAck(timeUs); }
    capture::CRunTracker m_runs;
private:
    CHistoryStore& m_store;
};

} // namespace

bool LoadCaptureHistory(const std::string& strPath, CaptureHistory& out, std::string* pError)
{
    auto fail = [&](const std::string& text) {
        if (pError)
            *pError = text;
        return false;
    };
    std::FILE* pFile = std::fopen(strPath.c_str(), "rb");
    if (!pFile)
        return fail("cannot read " + strPath + ": " + std::strerror(errno));
    std::fseek(pFile, 0, SEEK_END);
    const long nSize = std::ftell(pFile);
    std::fseek(pFile, 0, SEEK_SET);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(pFile, std::fclose);

    CFileSource source(pFile);
    capture::CCaptureReader reader(source);
    if (!reader.ReadHeader())
        return fail(strPath + ": offset " + std::to_string(reader.ErrorOffset()) + ": " + reader.Error());
    // A data frame takes 21 bytes of the file at least: room for every one, up to the limit.
    const uint64_t nMost = nSize > 0 ? static_cast<uint64_t>(nSize) / proto::DATA_FRAME_LEN + 1 : 1;
    out = CaptureHistory();
    out.header = reader.Header();
    out.pStore = std::make_unique<CHistoryStore>(std::min(nMost, FILE_CAPACITY));
    capture::CSessionDecoder decoder;
    if (!decoder.Ok())
        return fail("out of memory for the receive ring");
    CStoreFiller filler(*out.pStore);
    decoder.AddListener(&filler);
    capture::CaptureRecord rec;
    for (;;) {
        const capture::ReadResult r = reader.Next(rec);
        if (r == capture::ReadResult::End)
            break;
        if (r == capture::ReadResult::Truncated) {
            out.bTruncated = true;
            out.strTruncation = "offset " + std::to_string(reader.ErrorOffset()) + ": " + reader.Error();
            break;
        }
        if (r == capture::ReadResult::Error)
            return fail(strPath + ": offset " + std::to_string(reader.ErrorOffset()) + ": " + reader.Error());
        if (rec.dir == capture::Direction::Received) {
            decoder.Received(rec.bytes.data(), rec.bytes.size(), rec.timeUs);
        } else if (rec.dir == capture::Direction::Note) {
            // At the newest sample when it was made, as the console placed it.
            const uint64_t end = out.pStore->End();
            out.pStore->AddMarker(end > 0 ? end - 1 : 0, std::string(rec.bytes.begin(), rec.bytes.end()));
        }
    }
    filler.m_runs.Finish();
    out.qwFrames = out.pStore->End();
    if (out.qwFrames == 0)
        return fail(strPath + " holds no data frame");
    const double rate = filler.m_runs.MeasuredRate();
    out.pStore->SetSampleRate(rate > 0 ? rate : DEFAULT_RATE);
    out.pStore->SetRateMeasured(rate > 0);
    return true;
}

} // namespace review
