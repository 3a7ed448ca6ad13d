#include "capture_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "output_files.h"

namespace capture {

namespace {

// Asks the system to put the file's data on the disk, not only in its cache.
bool SyncToDisk(std::FILE* pFile)
{
#ifdef _WIN32
    return _commit(_fileno(pFile)) == 0;
#elif defined(__APPLE__)
    return ::fsync(fileno(pFile)) == 0;
#else
    return ::fdatasync(fileno(pFile)) == 0;
#endif
}

} // namespace

CCaptureWriter::~CCaptureWriter()
{
    Close();
}

bool CCaptureWriter::SetError(const char* what)
{
    if (m_strError.empty()) {
        m_nErrno = errno ? errno : EIO;
        m_strError = std::string(what) + " " + m_strPath + ": " + std::strerror(m_nErrno);
    }
    return false;
}

bool CCaptureWriter::Open(const std::string& strPath, const CaptureHeader& header)
{
    Close();
    m_strPath = strPath;
    m_strError.clear();
    m_nErrno = 0;
    m_qwBytes = 0;
    m_nLastTimeUs = 0;
    m_nLastFlushUs = 0;
    errno = 0;
    // Open for reading too, so that a file deleted while it is written can still be copied
    // back from here; a file that may only be written is written all the same.
    m_pFile = std::fopen(strPath.c_str(), "w+b");
    if (!m_pFile && errno == EACCES)
        m_pFile = std::fopen(strPath.c_str(), "wb");
    if (!m_pFile)
        return SetError("cannot create");
    const std::vector<uint8_t> head = EncodeHeader(header);
    // The header goes to the disk at once: a capture that names its port and start is
    // readable even if nothing else reaches the file.
    if (!Write(head.data(), head.size()) || !Flush()) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
        return false;
    }
    return true;
}

bool CCaptureWriter::Write(const void* pData, size_t n)
{
    if (!m_pFile || Failed())
        return false;
    errno = 0;
    if (std::fwrite(pData, 1, n, m_pFile) != n)
        return SetError("cannot write");
    m_qwBytes += n;
    m_bDirty = true;
    return true;
}

bool CCaptureWriter::Append(Direction dir, int64_t timeUs, const uint8_t* pData, size_t nCount)
{
    if (!m_pFile || Failed())
        return false;
    timeUs = std::max(timeUs, m_nLastTimeUs);
    // Readers take a longer jump for a damaged time.
    while (timeUs - m_nLastTimeUs > MAX_RECORD_GAP_US) {
        m_nLastTimeUs += MAX_RECORD_GAP_US;
        if (!WriteRecord(Direction::Received, m_nLastTimeUs, nullptr, 0))
            return false;
    }
    m_nLastTimeUs = timeUs;
    if (dir == Direction::Note)  // one record, however short
        return WriteRecord(dir, timeUs, pData, std::min(nCount, MAX_RECORD_BYTES)) && FlushIfDue(timeUs);
    for (size_t done = 0; done < nCount;) {
        const size_t n = std::min(nCount - done, MAX_RECORD_BYTES);
        if (!WriteRecord(dir, timeUs, pData + done, n))
            return false;
        done += n;
    }
    return FlushIfDue(timeUs);
}

bool CCaptureWriter::AppendNote(int64_t timeUs, const std::string& strText)
{
    const std::string text = CutUtf8(strText, MAX_RECORD_BYTES);
    return Append(Direction::Note, timeUs, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool CCaptureWriter::WriteRecord(Direction dir, int64_t timeUs, const uint8_t* pData, size_t n)
{
    uint8_t head[RECORD_HEADER_LEN];
    EncodeRecordHeader(dir, timeUs, n, head);
    return Write(head, sizeof head) && (n == 0 || Write(pData, n));
}

bool CCaptureWriter::StillAtPath() const
{
    FileId open, named;
#ifdef _WIN32
    const int fd = m_pFile ? _fileno(m_pFile) : -1;
#else
    const int fd = m_pFile ? fileno(m_pFile) : -1;
#endif
    if (!FileIdOfDescriptor(fd, open))
        return true;
    errno = 0;
    if (!FileIdOfPath(m_strPath, named))
        return errno != ENOENT && errno != ENOTDIR;  // only a path that names nothing is gone
    return named == open;
}

bool CCaptureWriter::MoveTo(const std::string& strPath, int* pSystemError)
{
    auto fail = [&](std::FILE* pNew) {
        const int nErr = errno ? errno : EIO;
        if (m_pFile)
            std::fseek(m_pFile, 0, SEEK_END);  // back to appending
        if (pNew) {
            std::fclose(pNew);
            std::remove(strPath.c_str());
        }
        if (pSystemError)
            *pSystemError = nErr;
        return false;
    };
    errno = 0;
    if (!m_pFile || Failed() || std::fflush(m_pFile) != 0)
        return fail(nullptr);
    std::FILE* pNew = CreateExclusive(strPath);
    if (!pNew)
        return fail(nullptr);
    // Everything written so far, read back through the open file.
    std::vector<uint8_t> buf(1 << 16);
    uint64_t qwCopied = 0;
    if (std::fseek(m_pFile, 0, SEEK_SET) != 0)
        return fail(pNew);
    while (qwCopied < m_qwBytes) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), m_qwBytes - qwCopied));
        const size_t got = std::fread(buf.data(), 1, want, m_pFile);
        if (got == 0 || std::fwrite(buf.data(), 1, got, pNew) != got)
            break;
        qwCopied += got;
    }
    if (qwCopied < m_qwBytes)
        return fail(pNew);
    if (std::fflush(pNew) != 0 || !SyncToDisk(pNew))
        return fail(pNew);
    std::fclose(m_pFile);
    m_pFile = pNew;
    m_strPath = strPath;
    m_bDirty = false;
    return true;
}

bool CCaptureWriter::FlushIfDue(int64_t nowUs)
{
    if (!m_pFile || Failed())
        return false;
    if (m_bDirty && nowUs - m_nLastFlushUs >= FLUSH_INTERVAL_US) {
        m_nLastFlushUs = nowUs;
        return Flush();
    }
    return true;
}

bool CCaptureWriter::Flush()
{
    if (!m_pFile || Failed())
        return false;
    if (!m_bDirty)
        return true;
    errno = 0;
    if (std::fflush(m_pFile) != 0)
        return SetError("cannot write");
    // A file that cannot be synced (a pipe, a device) is still written; only a real failure counts.
    if (!SyncToDisk(m_pFile) && errno != EINVAL && errno != ENOTSUP && errno != EROFS)
        return SetError("cannot write");
    m_bDirty = false;
    return true;
}

bool CCaptureWriter::Close()
{
    if (!m_pFile)
        return !Failed();
    Flush();
    errno = 0;
    if (std::fclose(m_pFile) != 0)
        SetError("cannot write");
    m_pFile = nullptr;
    return !Failed();
}

} // namespace capture
