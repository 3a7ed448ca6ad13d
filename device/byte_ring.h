#pragma once
// The receive ring: raw bytes from the serial line wait here until the decoder takes whole
// frames out. Fixed storage, wrap arithmetic, bytes never shifted.
#include <cstdint>

constexpr int RING_SIZE = 20480;

class CByteRing {
public:
    uint8_t* m_pBuf = nullptr;   // storage, owned; null when it could not be obtained
    int m_nSize = 0;             // capacity in bytes, 0 without storage
    uint8_t* m_pRead = nullptr;  // oldest byte not yet decoded
    uint8_t* m_pWrite = nullptr; // where the next received byte goes

    explicit CByteRing(int nSize = RING_SIZE);
    ~CByteRing();
    CByteRing(const CByteRing&) = delete;
    CByteRing& operator=(const CByteRing&) = delete;

    uint8_t* Next(uint8_t* p) const { return (p + 1 >= m_pBuf + m_nSize) ? m_pBuf : p + 1; }
    // Releases the storage; safe to call again.
    void Free();

    // Number of unread bytes.
    int Count() const;
    // Unread byte at distance k from the read position (k < Count()).
    uint8_t At(int k) const;
    // Moves the read position on by n bytes (n <= Count()).
    void Skip(int n);
    // Copies n unread bytes from the read position into out and consumes them.
    void Take(uint8_t* out, int n);
    // Appends n bytes. Holds at most m_nSize - 1 unread bytes: when the new bytes would
    // overrun unread ones, the oldest unread bytes are dropped. Without storage nothing is
    // appended. Returns the number of bytes dropped (old or new).
    int Append(const uint8_t* data, int n);
};
