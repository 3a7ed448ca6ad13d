#pragma once
// Watchers of the device link's traffic: recording, analysis and diagnostics hang here without
// the link knowing what they are. Plain C++, no Qt; every call comes on the link's thread, in
// the order the link sees things happen. The default bodies do nothing, so a watcher overrides
// only what it needs.
#include <cstdint>
#include <string>

class ILinkObserver {
public:
    virtual ~ILinkObserver() = default;
    // The port opened: its number (COMn), device path and line settings ("256000,n,8,1").
    virtual void OnPortOpened(int /*nPort*/, const std::string& /*strPath*/, const std::string& /*strSettings*/) {}
    // The port closed, by the console or because the device went away.
    virtual void OnPortClosed() {}
    // Bytes taken out of the serial layer, before the ring and the decoder see them.
    virtual void OnBytesReceived(const uint8_t* /*pBytes*/, int /*nCount*/) {}
    // A command frame handed to the serial layer (only when the write was accepted).
    virtual void OnBytesSent(const uint8_t* /*pBytes*/, int /*nCount*/) {}
    // The ring was full and dropped this many unread bytes.
    virtual void OnRingOverflow(int /*nDropped*/) {}
    // A data frame was decoded; checkOk tells whether its check byte matched.
    virtual void OnDataFrame(const uint8_t /*block*/[17], bool /*checkOk*/) {}
    // The sensor acknowledged a stop: observing has ended.
    virtual void OnStopAck() {}
    // The decoder passed over this many bytes while looking for a frame start; told before the
    // frame that ended the run, or after the drain for bytes left over.
    virtual void OnBytesSkipped(int /*nCount*/) {}
    // Data frames whose header was hit on the line, found among the bytes passed over
    // (IsDestroyedDataFrame): their samples are lost. Told right after OnBytesSkipped, whose
    // count holds their bytes.
    virtual void OnFramesDestroyed(int /*nCount*/) {}
    // The command frame just sent (OnBytesSent) repeats one that had no answer.
    virtual void OnCommandResent() {}
    // The pending command had no answer after its last attempt; the link tries no more.
    virtual void OnCommandUnanswered() {}
};
