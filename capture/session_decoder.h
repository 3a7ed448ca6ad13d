#pragma once
// One decoding pass over a session: a capture's records or a plain byte stream go through the
// console's own receive ring and frame decoder; listeners hear every frame with the time of
// the read that completed it, every data frame destroyed on the line, and every command frame
// sent, in order.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_ring.h"
#include "frame_decoder.h"
#include "protocol.h"

namespace capture {

// Time of an event in a plain byte stream, which has none.
constexpr int64_t NO_TIME = -1;

// A command frame the console sent, as the sensor reads it.
struct SentCommand {
    uint8_t code = 0;
    uint8_t address = 0;
    uint8_t value = 0;
    bool hasValue = false;
};

// The command in plain words: "start", "stop", "gain pulse 1 = 4", "zero channel 2",
// "calibrate channel 3 = 100", "information request", ...
std::string DescribeCommand(const SentCommand& cmd);

// Reassembles command frames from sent bytes in pieces of any size; what is not a command
// frame is passed over a byte at a time.
class CSentCommandParser {
public:
    // Appends bytes; returns the commands they complete.
    std::vector<SentCommand> Feed(const uint8_t* pData, size_t n);
private:
    std::vector<uint8_t> m_buf;
};

class ISessionListener {
public:
    virtual ~ISessionListener() = default;
    virtual void OnInfoReply(const uint8_t /*info*/[4], int64_t /*timeUs*/) {}
    virtual void OnDataFrame(const uint8_t /*block*/[17], bool /*checkOk*/, int64_t /*timeUs*/) {}
    // A data frame whose header was hit on the line (IsDestroyedDataFrame): a sample the sensor
    // sent and nobody has, told before the frames after it, with the time of the read that
    // passed over its last byte.
    virtual void OnDestroyedFrame(int64_t /*timeUs*/) {}
    virtual void OnStopAck(int64_t /*timeUs*/) {}
    virtual void OnDateReply(const uint8_t /*date*/[4], int64_t /*timeUs*/) {}
    virtual void OnCommandSent(const SentCommand& /*cmd*/, int64_t /*timeUs*/) {}
    // A note record of the capture: a marker's text (UTF-8, may be empty).
    virtual void OnNote(const std::string& /*text*/, int64_t /*timeUs*/) {}
};

class CSessionDecoder : private IFrameSink {
public:
    CSessionDecoder();
    CSessionDecoder(const CSessionDecoder&) = delete;
    CSessionDecoder& operator=(const CSessionDecoder&) = delete;

    // False when the ring could not get its storage.
    bool Ok() const { return m_ring.m_nSize > 0; }
    void AddListener(ISessionListener* pListener) { m_listeners.push_back(pListener); }

    // One serial event's worth of received bytes (any size; handed to the ring in pieces it
    // can hold), completed at timeUs (NO_TIME for a plain stream).
    void Received(const uint8_t* pData, size_t n, int64_t timeUs);
    void Sent(const uint8_t* pData, size_t n, int64_t timeUs);
    void Note(const std::string& text, int64_t timeUs);

    const DecodeStats& Stats() const { return m_stats; }

private:
    void OnInfoReply(const uint8_t info[4]) override;
    void OnDataFrame(const uint8_t block[17], bool checkOk) override;
    void OnStopAck() override;
    void OnDateReply(const uint8_t date[4]) override;
    // Tells the listeners of destroyed frames found since it last did.
    void AnnounceDestroyed();

    CByteRing m_ring;
    DecodeStats m_stats;
    CSentCommandParser m_commands;
    std::vector<ISessionListener*> m_listeners;
    int64_t m_nTimeUs = NO_TIME;
    uint64_t m_qwDestroyedTold = 0;
};

// Decoding leaves less than one data frame behind, so pieces of this size never overrun the
// ring: no byte of the input is dropped whatever size the caller hands over.
constexpr size_t MAX_RING_PIECE = RING_SIZE - proto::DATA_FRAME_LEN;

} // namespace capture
