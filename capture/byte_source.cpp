#include "byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

size_t CFileSource::Read(uint8_t* buf, size_t n)
{
    size_t got = 0;
    // fread may return early on a pipe; keep reading so that only the end makes a short read.
    while (got < n) {
        const size_t k = std::fread(buf + got, 1, n - got, m_pFile);
        got += k;
        if (k == 0) {
            if (std::ferror(m_pFile) && m_strError.empty())
                m_strError = errno ? std::strerror(errno) : "read error";
            break;
        }
    }
    return got;
}

int CFileSource::Descriptor() const
{
#ifdef _WIN32
    return m_pFile ? _fileno(m_pFile) : -1;
#else
    return m_pFile ? fileno(m_pFile) : -1;
#endif
}

size_t CMemorySource::Read(uint8_t* buf, size_t n)
{
    const size_t k = std::min(n, m_nSize - m_nPos);
    if (k > 0)
        std::memcpy(buf, m_pData + m_nPos, k);
    m_nPos += k;
    return k;
}

size_t CPrefixSource::Read(uint8_t* buf, size_t n)
{
    const size_t k = std::min(n, m_prefix.size() - m_nPos);
    if (k > 0)
        std::memcpy(buf, m_prefix.data() + m_nPos, k);
    m_nPos += k;
    return k < n ? k + m_rest.Read(buf + k, n - k) : k;
}
