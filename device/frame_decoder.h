#pragma once
// Finds frames in the receive ring. Deciding what the unread bytes hold is a pure function
// (ScanFrame); what a frame does to the console is the sink's business.
#include <cstdint>

#include "byte_ring.h"

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

struct DecodeStats {
    uint64_t frames = 0;    // every recognised frame, bad checks included
    uint64_t badCheck = 0;  // data frames dropped by their check byte
    uint64_t skipped = 0;   // bytes passed over one at a time
};

// Decodes every complete frame in the ring and leaves an incomplete one (from its first
// byte) for the next call.
void DecodeFrames(CByteRing& ring, IFrameSink& sink, DecodeStats* stats = nullptr);
