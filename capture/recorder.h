#pragma once
// Recording the console's serial session: a watcher of the device link that writes every byte
// read from or written to the port into a capture. A recording asked for while the port is
// closed waits for it to open; it ends when the port closes or when it is stopped. Times come
// from the platform's microsecond clock, measured from the port's opening.
#include <cstdint>
#include <string>

#include "capture_writer.h"
#include "link_observer.h"

namespace capture {

class IRecorderListener {
public:
    virtual ~IRecorderListener() = default;
    // Recording started, stopped or began to wait for the port.
    virtual void OnRecorderStateChanged() {}
    // A recording is about to begin: the listener adds what it knows (the settings in force)
    // to the header.
    virtual void OnRecordingStart(CaptureHeader& /*header*/) {}
    // The file could not be created or written; the recording has ended. Called from inside
    // the link's notifications, so a listener must not run a modal loop here.
    virtual void OnRecorderFailed(const std::string& /*strPath*/, int /*nSystemError*/, bool /*bCreating*/) {}
    // The file was deleted or replaced while recording. What was recorded is now in strNewPath
    // and the recording goes on there; or, with strNewPath empty, it could not be saved
    // (nSystemError says why) and is tried again every Tick, told only once.
    virtual void OnRecordingRescued(const std::string& /*strOldPath*/, const std::string& /*strNewPath*/,
                                    int /*nSystemError*/) {}
};

class CCaptureRecorder : public ILinkObserver {
public:
    enum class State { Idle, Waiting, Recording };

    explicit CCaptureRecorder(IRecorderListener* pListener = nullptr, std::string strWriter = "Veltrin")
        : m_pListener(pListener), m_strWriter(std::move(strWriter)) {}

    // Starts recording into strPath now when the port is open, otherwise at its opening. The
    // file is created at once, so a place that cannot be written is known here: false then,
    // with the system's error number in *pSystemError.
    bool Start(const std::string& strPath, int* pSystemError = nullptr);
    // Ends the recording (or the wait). False when the file's last bytes could not be written,
    // with the system's error number in *pSystemError.
    bool Stop(int* pSystemError = nullptr);
    // Writes out and syncs what waits in the buffer: for a timer of a second, so that a quiet
    // line reaches the disk within a second too (a busy one is written out as it comes). Also
    // checks that the file is still the one at its path, and rescues the recording if not.
    void Tick();
    // A note (a marker's text) at this moment; nothing while not recording.
    void AddNote(const std::string& strText);

    State GetState() const { return m_state; }
    const std::string& Path() const { return m_strPath; }
    // Microseconds since recording began and bytes in the file (0 while waiting).
    int64_t ElapsedUs() const;
    uint64_t BytesWritten() const { return m_state == State::Recording ? m_writer.BytesWritten() : 0; }

    // ILinkObserver
    void OnPortOpened(int nPort, const std::string& strPath, const std::string& strSettings) override;
    void OnPortClosed() override;
    void OnBytesReceived(const uint8_t* pBytes, int nCount) override;
    void OnBytesSent(const uint8_t* pBytes, int nCount) override;

private:
    bool BeginFile(int* pSystemError);
    void Append(Direction dir, const uint8_t* pBytes, int nCount);
    void FailWriting();
    void RescueIfGone();
    void SetState(State state);

    IRecorderListener* m_pListener = nullptr;
    std::string m_strWriter;
    State m_state = State::Idle;
    std::string m_strPath;
    CCaptureWriter m_writer;
    uint64_t m_qwStartUs = 0;
    // The port as last seen open, for the header of a recording started later.
    bool m_bPortOpen = false;
    int m_nPort = 0;
    std::string m_strPortPath;
    std::string m_strSettings;
    bool m_bRescueFailTold = false;  // the listener knows the file is gone and unsaved
};

// Where a recording whose file went is saved when its path is taken by another file:
// NAME-recovered.vcap, then NAME-recovered-2.vcap ... (nTry from 1).
std::string RescuePath(const std::string& strPath, int nTry);

} // namespace capture
