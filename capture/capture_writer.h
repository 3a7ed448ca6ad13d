#pragma once
// Writes a capture: the header at once, then records appended in time order. Safe against a
// power loss: the file is only ever appended to, and it is written out and synced to the disk
// at least once a second while records come in (and on Flush, for callers with a timer), so a
// file cut short reads up to its last whole record.
#include <cstdint>
#include <cstdio>
#include <string>

#include "capture_format.h"

namespace capture {

class CCaptureWriter {
public:
    CCaptureWriter() = default;
    ~CCaptureWriter();
    CCaptureWriter(const CCaptureWriter&) = delete;
    CCaptureWriter& operator=(const CCaptureWriter&) = delete;

    // Creates (or empties) the file and writes the header. False: Error() names the file and
    // the system's reason, and no file is held open.
    bool Open(const std::string& strPath, const CaptureHeader& header);
    bool IsOpen() const { return m_pFile != nullptr; }
    // Appends one record per MAX_RECORD_BYTES of data; times earlier than the last one written
    // are raised to it so the file stays in order, and a silence longer than MAX_RECORD_GAP_US
    // is bridged by empty records a day apart. Writes out when a second has passed since the
    // last time. False once writing failed (Error() says why); later calls do nothing.
    bool Append(Direction dir, int64_t timeUs, const uint8_t* pData, size_t nCount);
    // Appends a note record (an empty text too): the text cut, at a character, to what one
    // record holds.
    bool AppendNote(int64_t timeUs, const std::string& strText);
    // Writes out and syncs if a second has passed since the last time (by the records' clock).
    bool FlushIfDue(int64_t nowUs);
    // Writes out everything buffered and syncs it to the disk.
    bool Flush();
    // Flushes and closes; true when everything reached the file. Safe to call again.
    bool Close();

    // False when the file at Path() is no longer the one being written: it was deleted,
    // renamed or replaced while open. True when that cannot be told.
    bool StillAtPath() const;
    // Copies everything written so far into strPath, a new file created exclusively, and goes
    // on writing there. False with the system's error number in *pSystemError: the file
    // written so far stays open and in use.
    bool MoveTo(const std::string& strPath, int* pSystemError);

    bool Failed() const { return !m_strError.empty(); }
    const std::string& Error() const { return m_strError; }
    // The system's error number behind Error(), 0 when there is none.
    int SystemError() const { return m_nErrno; }
    const std::string& Path() const { return m_strPath; }
    // Bytes of the file so far, header included (buffered ones too).
    uint64_t BytesWritten() const { return m_qwBytes; }

private:
    bool Write(const void* pData, size_t n);
    bool WriteRecord(Direction dir, int64_t timeUs, const uint8_t* pData, size_t n);
    bool SetError(const char* what);

    std::FILE* m_pFile = nullptr;
    std::string m_strPath;
    std::string m_strError;
    int m_nErrno = 0;
    uint64_t m_qwBytes = 0;
    int64_t m_nLastTimeUs = 0;
    int64_t m_nLastFlushUs = 0;
    bool m_bDirty = false;
};

} // namespace capture
