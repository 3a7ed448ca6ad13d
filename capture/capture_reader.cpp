#include "capture_reader.h"

#include <algorithm>
#include <cstdio>

namespace capture {

bool CCaptureReader::Fail(uint64_t offset, std::string text)
{
    m_qwErrorOffset = offset;
    m_strError = std::move(text);
    m_bDone = true;
    m_final = ReadResult::Error;
    return false;
}

size_t CCaptureReader::ReadFully(uint8_t* buf, size_t n)
{
    const size_t got = n > 0 ? m_source.Read(buf, n) : 0;
    m_qwOffset += got;
    return got;
}

bool CCaptureReader::ReadHeader()
{
    uint8_t fixed[FIXED_HEADER_LEN];
    const size_t got = ReadFully(fixed, sizeof fixed);
    if (m_source.Failed())
        return Fail(m_qwOffset, "read error: " + m_source.ErrorText());
    // The one judgement of a file's first bytes, shared with the tools that tell captures from
    // plain streams.
    std::string strDamage;
    const FileStart kind = ClassifyStart(fixed, std::min(got, START_PROBE_LEN), &strDamage);
    if (kind == FileStart::Damaged)
        return Fail(got < MAGIC_LEN ? got : 0, strDamage);
    if (got >= MAGIC_LEN && kind != FileStart::Capture)
        return Fail(0, "not a capture (no capture header)");
    if (got < sizeof fixed)
        return Fail(got, "the capture header is cut short");
    m_header.version = static_cast<uint16_t>(fixed[8] | fixed[9] << 8);
    if (m_header.version < OLDEST_FORMAT_VERSION || m_header.version > FORMAT_VERSION)
        return Fail(8, "capture format version " + std::to_string(m_header.version) +
                           " is not supported (this program reads versions " + std::to_string(OLDEST_FORMAT_VERSION) +
                           " to " + std::to_string(FORMAT_VERSION) + ")");
    const size_t nText = static_cast<size_t>(fixed[10] | fixed[11] << 8);
    if (nText > MAX_HEADER_TEXT)
        return Fail(10, "header text of " + std::to_string(nText) + " bytes is longer than the limit of " +
                            std::to_string(MAX_HEADER_TEXT));
    std::string text(nText, '\0');
    const size_t gotText = ReadFully(reinterpret_cast<uint8_t*>(&text[0]), nText);
    if (m_source.Failed())
        return Fail(m_qwOffset, "read error: " + m_source.ErrorText());
    if (gotText < nText)
        return Fail(m_qwOffset, "the capture header is cut short");
    ParseHeaderText(text, m_header);
    m_qwFirstRecord = m_qwOffset;
    return true;
}

ReadResult CCaptureReader::Next(CaptureRecord& rec)
{
    if (m_bDone)
        return m_final;
    const uint64_t start = m_qwOffset;
    uint8_t head[RECORD_HEADER_LEN];
    const size_t got = ReadFully(head, sizeof head);
    if (m_source.Failed()) {
        Fail(m_qwOffset, "read error: " + m_source.ErrorText());
        return ReadResult::Error;
    }
    if (got == 0) {
        m_bDone = true;
        return ReadResult::End;
    }
    if (got < sizeof head) {
        Fail(start, "the capture ends inside a record (" + std::to_string(got) + " of its " +
                        std::to_string(RECORD_HEADER_LEN) + " header bytes are there)");
        m_final = ReadResult::Truncated;
        return ReadResult::Truncated;
    }
    const bool bNote = head[0] == static_cast<uint8_t>(Direction::Note) && m_header.version >= 2;
    if (head[0] != static_cast<uint8_t>(Direction::Received) && head[0] != static_cast<uint8_t>(Direction::Sent) && !bNote) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", head[0]);
        Fail(start, std::string("unknown record direction ") + hex);
        return ReadResult::Error;
    }
    uint64_t t = 0;
    for (int i = 7; i >= 0; --i)
        t = t << 8 | head[1 + i];
    const int64_t timeUs = static_cast<int64_t>(t);
    if (timeUs < 0) {
        Fail(start, "negative record time " + std::to_string(timeUs) + " us");
        return ReadResult::Error;
    }
    if (timeUs < m_nLastTimeUs) {
        Fail(start, "record time goes backwards (" + std::to_string(timeUs) + " us after " +
                        std::to_string(m_nLastTimeUs) + " us)");
        return ReadResult::Error;
    }
    if (timeUs - m_nLastTimeUs > MAX_RECORD_GAP_US) {
        const std::string strBefore =
            start == m_qwFirstRecord ? "the start" : "the previous record's (" + std::to_string(m_nLastTimeUs) + " us)";
        Fail(start, "record time " + std::to_string(timeUs) + " us is more than a day after " + strBefore);
        return ReadResult::Error;
    }
    const size_t nLength = static_cast<size_t>(head[9] | head[10] << 8);
    rec.bytes.resize(nLength);
    const size_t gotBytes = ReadFully(rec.bytes.data(), nLength);
    if (m_source.Failed()) {
        Fail(m_qwOffset, "read error: " + m_source.ErrorText());
        return ReadResult::Error;
    }
    if (gotBytes < nLength) {
        Fail(start, "the capture ends inside a record (" + std::to_string(gotBytes) + " of its " +
                        std::to_string(nLength) + " data bytes are there)");
        m_final = ReadResult::Truncated;
        return ReadResult::Truncated;
    }
    m_nLastTimeUs = timeUs;
    rec.dir = static_cast<Direction>(head[0]);
    rec.timeUs = timeUs;
    rec.offset = start;
    return ReadResult::Record;
}

} // namespace capture
