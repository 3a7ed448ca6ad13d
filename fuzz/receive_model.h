#pragma once
// The receive rules written the plain way, as the fuzz harnesses' model of what the ring and
// decoder must do. Kept apart from the code it checks: no ring arithmetic, no shared tables.
#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <vector>

#include "frame_decoder.h"

namespace fuzzmodel {

// One frame as the receive rules find it.
struct Event {
    uint8_t code = 0;
    std::array<uint8_t, 17> payload{};
    bool checkOk = true;
    bool operator==(const Event& o) const
    {
        return code == o.code && payload == o.payload && checkOk == o.checkOk;
    }
};

// A queue of unread bytes holding at most size - 1 of them, the oldest dropped first, and
// frames found by looking at the head of the queue. A negative size: a queue without limit.
class ReceiveModel {
public:
    explicit ReceiveModel(int nRingSize)
        : m_nRoom(nRingSize < 0 ? INT32_MAX : nRingSize > 1 ? nRingSize - 1 : 0) {}

    int Append(const uint8_t* p, int n)
    {
        if (m_nRoom == 0 || n <= 0)
            return 0;  // a ring without storage keeps nothing and drops nothing
        int nDropped = 0;
        if (n > m_nRoom) {
            nDropped = static_cast<int>(m_unread.size()) + n - m_nRoom;
            m_unread.clear();
            p += n - m_nRoom;
            n = m_nRoom;
        } else if (static_cast<int>(m_unread.size()) + n > m_nRoom) {
            nDropped = static_cast<int>(m_unread.size()) + n - m_nRoom;
            m_unread.erase(m_unread.begin(), m_unread.begin() + nDropped);
        }
        m_unread.insert(m_unread.end(), p, p + n);
        m_qwDropped += static_cast<uint64_t>(nDropped);
        if (nDropped > 0 && m_bBreakOnDrop)
            m_passedOver.clear();
        return nDropped;
    }

    static int FrameLength(uint8_t code)
    {
        switch (code) {
        case 0x31: return 8;
        case 0x32: return 21;
        case 0x33: return 4;
        case 0x3A: return 8;
        default: return 0;
        }
    }

    void Decode(std::vector<Event>& out)
    {
        while (m_unread.size() >= 4) {
            const int nLen = FrameLength(m_unread[3]);
            if (m_unread[0] != 0xF0 || m_unread[1] != 0x1F || nLen == 0) {
                PassOver(m_unread.front());
                m_unread.pop_front();
                ++m_stats.skipped;
                continue;
            }
            if (static_cast<int>(m_unread.size()) < nLen)
                return;
            Event e;
            e.code = m_unread[3];
            std::copy(m_unread.begin() + 4, m_unread.begin() + nLen, e.payload.begin());
            if (e.code == 0x32) {
                unsigned sum = 0;
                for (int i = 0; i < 16; ++i)
                    sum += e.payload[i];
                e.checkOk = (sum & 0xFF) == e.payload[16];
                m_stats.badCheck += e.checkOk ? 0 : 1;
            }
            ++m_stats.frames;
            m_passedOver.clear();
            m_unread.erase(m_unread.begin(), m_unread.begin() + nLen);
            out.push_back(e);
        }
    }

    const std::deque<uint8_t>& Unread() const { return m_unread; }
    DecodeStats m_stats;
    uint64_t m_qwDropped = 0;
    bool m_bBreakOnDrop = false;  // dropped bytes part the bytes passed over (as the link has it)

private:
    // A data frame whose header was hit: the last 21 bytes passed over in a row, sync, address
    // and code off by one byte at most, the block's check good. Its bytes count once.
    void PassOver(uint8_t b)
    {
        m_passedOver.push_back(b);
        if (m_passedOver.size() < 21)
            return;
        const uint8_t* w = m_passedOver.data() + m_passedOver.size() - 21;
        const int nOff = (w[0] != 0xF0) + (w[1] != 0x1F) + (w[3] != 0x32);
        unsigned sum = 0;
        for (int i = 4; i < 20; ++i)
            sum += w[i];
        if (nOff <= 1 && (sum & 0xFF) == w[20]) {
            ++m_stats.destroyed;
            m_passedOver.clear();
        } else if (m_passedOver.size() > 64) {
            m_passedOver.erase(m_passedOver.begin(), m_passedOver.end() - 20);
        }
    }

    int m_nRoom;
    std::deque<uint8_t> m_unread;
    std::vector<uint8_t> m_passedOver;  // since the last frame
};

} // namespace fuzzmodel
