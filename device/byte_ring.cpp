#include "byte_ring.h"

#include <algorithm>
#include <cstring>
#include <new>

CByteRing::CByteRing(int nSize)
{
    if (nSize > 1)
        m_pBuf = new (std::nothrow) uint8_t[static_cast<size_t>(nSize)];
    if (m_pBuf) {
        m_nSize = nSize;
        m_pRead = m_pWrite = m_pBuf;
    }
}

CByteRing::~CByteRing() { Free(); }

void CByteRing::Free()
{
    delete[] m_pBuf;
    m_pBuf = m_pRead = m_pWrite = nullptr;
    m_nSize = 0;
}

int CByteRing::Count() const
{
    if (m_pWrite >= m_pRead)
        return static_cast<int>(m_pWrite - m_pRead);
    return m_nSize - static_cast<int>(m_pRead - m_pWrite);
}

uint8_t CByteRing::At(int k) const
{
    const int offset = static_cast<int>(m_pRead - m_pBuf) + k;
    return m_pBuf[offset >= m_nSize ? offset - m_nSize : offset];
}

void CByteRing::Skip(int n)
{
    if (n <= 0 || m_nSize == 0)
        return;
    int offset = static_cast<int>(m_pRead - m_pBuf) + n;
    if (offset >= m_nSize)
        offset -= m_nSize;
    m_pRead = m_pBuf + offset;
}

void CByteRing::Take(uint8_t* out, int n)
{
    const int offset = static_cast<int>(m_pRead - m_pBuf);
    const int first = std::min(n, m_nSize - offset);
    std::memcpy(out, m_pRead, static_cast<size_t>(first));
    if (n > first)
        std::memcpy(out + first, m_pBuf, static_cast<size_t>(n - first));
    Skip(n);
}

int CByteRing::Append(const uint8_t* data, int n)
{
    if (!m_pBuf || !data || n <= 0)
        return 0;
    const int room = m_nSize - 1;
    int dropped = 0;
    if (n > room) {
        // Only the newest `room` bytes can be kept; everything unread goes too.
        dropped = n - room + Count();
        data += n - room;
        n = room;
        m_pRead = m_pWrite;
    } else {
        const int overrun = Count() + n - room;
        if (overrun > 0) {
            Skip(overrun);
            dropped = overrun;
        }
    }
    const int offset = static_cast<int>(m_pWrite - m_pBuf);
    const int first = std::min(n, m_nSize - offset);
    std::memcpy(m_pWrite, data, static_cast<size_t>(first));
    if (n > first)
        std::memcpy(m_pBuf, data + first, static_cast<size_t>(n - first));
    const int end = offset + n;
    m_pWrite = m_pBuf + (end >= m_nSize ? end - m_nSize : end);
    return dropped;
}
