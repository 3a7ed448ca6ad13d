#include "capture_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

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
    m_nLastTimeUs = timeUs;
    for (size_t done = 0; done < nCount;) {
        const size_t n = std::min(nCount - done, MAX_RECORD_BYTES);
        uint8_t head[RECORD_HEADER_LEN];
        EncodeRecordHeader(dir, timeUs, n, head);
        if (!Write(head, sizeof head) || !Write(pData + done, n))
            return false;
        done += n;
    }
    return FlushIfDue(timeUs);
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
