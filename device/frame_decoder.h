#pragma once
// Finds frames in the receive ring. Deciding what the unread bytes hold is a pure function
// (ScanFrame); what a frame does to the console is the sink's business.
#include <cstdint>

#include "byte_ring.h"
#include "protocol.h"

enum class ScanResult {
    NeedMore,  // fewer bytes than the header or the recognised frame needs: wait
    NotFrame,  // the read position is no frame start: pass over one byte
    Frame,     // a whole recognised frame starts at the read position
};

struct FrameScan {
    ScanResult result = ScanResult::NeedMore;
    uint8_t code = 0;
    int length = 0;  // total frame length when result is Frame or a recognised NeedMore
};

// Looks at the unread bytes only; changes nothing. A frame start is F0 1F ?? code, with
// code one of 0x31, 0x32, 0x33, 0x3A; byte 2 is never looked at.
FrameScan ScanFrame(const CByteRing& ring);

// What the decoder reports, frame by frame, in arrival order.
class IFrameSink {
public:
    virtual ~IFrameSink() = default;
    virtual void OnInfoReply(const uint8_t info[4]) = 0;
    // Called for every data frame after its 21 bytes are consumed; checkOk tells whether
    // block byte 16 matched the sum of bytes 0..15.
    virtual void OnDataFrame(const uint8_t block[17], bool checkOk) = 0;
    virtual void OnStopAck() = 0;
    virtual void OnDateReply(const uint8_t date[4]) = 0;
};

// A data frame whose header was hit on the line is passed over byte by byte like garbage, but
// its block came through: 21 bytes passed over in a row, whose last 17 pass the check and whose
// bytes 0, 1 and 3 differ from F0, 1F and 32 in one byte at most (byte 2 is never looked at).
// Random bytes pass this about once in 5.6 million windows (1/256 for the check, 766/2^24 for
// the header).
bool IsDestroyedDataFrame(const uint8_t window[proto::DATA_FRAME_LEN]);

// Finds destroyed data frames among the bytes the decoder passes over, fed in stream order. A
// window found takes its 21 bytes with it: the next one starts after it.
class CDestroyedFrameFinder {
public:
    // The next byte passed over; true when it ends a destroyed data frame.
    bool PassedOver(uint8_t by);
    // What was passed over so far does not run on into what comes next (a frame was
    // recognised, or bytes between were dropped).
    void Break() { m_nHave = 0; }
private:
    // The last bytes passed over, each stored twice so that the last 21 read as one run.
    uint8_t m_window[2 * proto::DATA_FRAME_LEN] = {};
    int m_nNext = 0;  // where the next byte goes (0..20)
    int m_nHave = 0;  // bytes in a row since the last break or find, up to 21
};

struct DecodeStats {
    uint64_t frames = 0;    // every recognised frame, bad checks included
    uint64_t badCheck = 0;  // data frames dropped by their check byte
    uint64_t skipped = 0;   // bytes passed over one at a time
    uint64_t destroyed = 0; // destroyed data frames among them (IsDestroyedDataFrame)
    CDestroyedFrameFinder passedOver;  // the search for those, across calls
};

// Decodes every complete frame in the ring and leaves an incomplete one (from its first
// byte) for the next call. Destroyed data frames are counted only with stats, which carry the
// search from one call to the next.
void DecodeFrames(CByteRing& ring, IFrameSink& sink, DecodeStats* stats = nullptr);
