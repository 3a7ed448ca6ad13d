#pragma once
// Reads a capture record by record, checking as it goes. A capture cut short (a recording that
// lost power) reads up to its last whole record and then reports where it ends.
#include <cstdint>
#include <string>
#include <vector>

#include "byte_source.h"
#include "capture_format.h"

namespace capture {

struct CaptureRecord {
    Direction dir = Direction::Received;
    int64_t timeUs = 0;           // microseconds from the start of the capture
    uint64_t offset = 0;          // file offset of the record's first byte
    std::vector<uint8_t> bytes;   // at most MAX_RECORD_BYTES
};

enum class ReadResult {
    Record,     // rec holds the next record
    End,        // the capture ended after a whole record (or after the header)
    Truncated,  // the capture ends inside a record: everything before it was whole
    Error,      // a malformed header or record, or a read error
};

class CCaptureReader {
public:
    explicit CCaptureReader(IByteSource& source) : m_source(source) {}

    // Reads and checks the header from the source's first byte. False: Error() says why.
    bool ReadHeader();
    ReadResult Next(CaptureRecord& rec);

    const CaptureHeader& Header() const { return m_header; }
    // Bytes consumed so far: the offset of the next record.
    uint64_t Offset() const { return m_qwOffset; }
    // What went wrong (Truncated or Error), without the file name, and where.
    const std::string& Error() const { return m_strError; }
    uint64_t ErrorOffset() const { return m_qwErrorOffset; }

private:
    bool Fail(uint64_t offset, std::string text);
    size_t ReadFully(uint8_t* buf, size_t n);

    IByteSource& m_source;
    CaptureHeader m_header;
    uint64_t m_qwOffset = 0;
    int64_t m_nLastTimeUs = 0;
    uint64_t m_qwFirstRecord = 0;  // offset of the first record, after the header
    std::string m_strError;
    uint64_t m_qwErrorOffset = 0;
    bool m_bDone = false;
    ReadResult m_final = ReadResult::End;  // what Next keeps answering once done
};

} // namespace capture
