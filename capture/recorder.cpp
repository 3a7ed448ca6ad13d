#include "recorder.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "output_files.h"
#include "platform.h"

namespace capture {

bool CCaptureRecorder::Start(const std::string& strPath, int* pSystemError)
{
    Stop();
    m_strPath = strPath;
    if (m_bPortOpen) {
        if (!BeginFile(pSystemError))
            return false;
        SetState(State::Recording);
        return true;
    }
    // Made now so that an unwritable place is reported when the operator asks, not later.
    errno = 0;
    std::FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile) {
        if (pSystemError)
            *pSystemError = errno ? errno : EIO;
        return false;
    }
    std::fclose(pFile);
    SetState(State::Waiting);
    return true;
}

bool CCaptureRecorder::BeginFile(int* pSystemError)
{
    CaptureHeader header;
    header.start = NowIso8601();
    header.port = m_nPort;
    header.path = m_strPortPath;
    header.settings = m_strSettings;
    header.writer = m_strWriter;
    if (m_pListener)
        m_pListener->OnRecordingStart(header);
    m_qwStartUs = Platform().GetMicroseconds();
    m_bRescueFailTold = false;
    if (m_writer.Open(m_strPath, header))
        return true;
    if (pSystemError)
        *pSystemError = m_writer.SystemError();
    return false;
}

bool CCaptureRecorder::Stop(int* pSystemError)
{
    bool bOk = true;
    if (m_state == State::Recording) {
        bOk = m_writer.Close();
        if (!bOk && pSystemError)
            *pSystemError = m_writer.SystemError();
    } else if (m_state == State::Waiting) {
        // The empty file made at the start goes again; never anything else (a device, say).
        std::error_code ec;
        if (std::filesystem::is_regular_file(m_strPath, ec) && std::filesystem::file_size(m_strPath, ec) == 0)
            std::filesystem::remove(m_strPath, ec);
    }
    if (m_state != State::Idle)
        SetState(State::Idle);
    return bOk;
}

void CCaptureRecorder::Tick()
{
    if (m_state != State::Recording)
        return;
    if (!m_writer.Flush()) {
        FailWriting();
        return;
    }
    RescueIfGone();
}

std::string RescuePath(const std::string& strPath, int nTry)
{
    return InsertBeforeExtension(strPath, "-recovered" + (nTry > 1 ? "-" + std::to_string(nTry) : std::string()));
}

// The file deleted (or replaced) under the recording still holds everything while it is open:
// it is copied to its old path, or beside it when another file took that, and recorded on there.
void CCaptureRecorder::RescueIfGone()
{
    if (m_writer.StillAtPath())
        return;
    const std::string strOld = m_strPath;
    int nErr = 0;
    bool bSaved = false;
    for (int nTry = 0; nTry < 100 && !bSaved; ++nTry) {
        const std::string strTarget = nTry == 0 ? strOld : RescuePath(strOld, nTry);
        nErr = 0;
        bSaved = m_writer.MoveTo(strTarget, &nErr);
        if (!bSaved && nErr != EEXIST)
            break;  // taken names are passed over; anything else will not get better by another name
    }
    if (bSaved) {
        m_strPath = m_writer.Path();
        m_bRescueFailTold = false;
        if (m_pListener)
            m_pListener->OnRecordingRescued(strOld, m_strPath, 0);
    } else if (!m_bRescueFailTold) {
        m_bRescueFailTold = true;
        if (m_pListener)
            m_pListener->OnRecordingRescued(strOld, std::string(), nErr);
    }
}

// The file could not be written: the recording ends and the listener is told the system's reason.
void CCaptureRecorder::FailWriting()
{
    const int nErr = m_writer.SystemError();
    m_writer.Close();
    SetState(State::Idle);
    if (m_pListener)
        m_pListener->OnRecorderFailed(m_strPath, nErr, false);
}

int64_t CCaptureRecorder::ElapsedUs() const
{
    if (m_state != State::Recording)
        return 0;
    return static_cast<int64_t>(Platform().GetMicroseconds() - m_qwStartUs);
}

void CCaptureRecorder::SetState(State state)
{
    m_state = state;
    if (m_pListener)
        m_pListener->OnRecorderStateChanged();
}

void CCaptureRecorder::OnPortOpened(int nPort, const std::string& strPath, const std::string& strSettings)
{
    m_bPortOpen = true;
    m_nPort = nPort;
    m_strPortPath = strPath;
    m_strSettings = strSettings;
    if (m_state != State::Waiting)
        return;
    int nErr = 0;
    if (BeginFile(&nErr)) {
        SetState(State::Recording);
        return;
    }
    SetState(State::Idle);
    if (m_pListener)
        m_pListener->OnRecorderFailed(m_strPath, nErr, true);
}

void CCaptureRecorder::OnPortClosed()
{
    m_bPortOpen = false;
    if (m_state != State::Recording)
        return;
    const bool bOk = m_writer.Close();
    const int nErr = m_writer.SystemError();
    SetState(State::Idle);
    if (!bOk && m_pListener)
        m_pListener->OnRecorderFailed(m_strPath, nErr, false);
}

void CCaptureRecorder::AddNote(const std::string& strText)
{
    if (m_state == State::Recording && !m_writer.AppendNote(ElapsedUs(), strText))
        FailWriting();
}

void CCaptureRecorder::Append(Direction dir, const uint8_t* pBytes, int nCount)
{
    if (m_state != State::Recording || nCount <= 0)
        return;
    if (!m_writer.Append(dir, ElapsedUs(), pBytes, static_cast<size_t>(nCount)))
        FailWriting();
}

void CCaptureRecorder::OnBytesReceived(const uint8_t* pBytes, int nCount)
{
    Append(Direction::Received, pBytes, nCount);
}

void CCaptureRecorder::OnBytesSent(const uint8_t* pBytes, int nCount)
{
    Append(Direction::Sent, pBytes, nCount);
}

} // namespace capture
