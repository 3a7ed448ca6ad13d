// Port handling and observation runs: opening and closing the port, start and stop of the
// sensor's stream, the gain spins' enabled state, window destroy and a vanished device.
#include "sensor_link.h"

#include <climits>

#include "protocol.h"

namespace {

constexpr short IN_BUFFER_SIZE = 20480;
constexpr short OUT_BUFFER_SIZE = 1024;
constexpr long INPUT_MODE_BINARY = 1;
const char* const PORT_SETTINGS = "256000,n,8,1";

} // namespace

bool CSensorLink::OpenPort(int nPort)
{
    // Numbers the layer's 16-bit port property cannot carry would open some other port.
    if (nPort < 1 || nPort > SHRT_MAX) {
        m_view.MessageBox(QStringLiteral("端口号错误!"));
        return false;
    }
    // The order of these writes is the one the serial layer has always been driven with.
    m_comm.SetCommPort(static_cast<short>(nPort));
    m_comm.SetInBufferSize(IN_BUFFER_SIZE);
    m_comm.SetOutBufferSize(OUT_BUFFER_SIZE);
    m_comm.SetInputMode(INPUT_MODE_BINARY);
    m_comm.SetSettings(QString::fromLatin1(PORT_SETTINGS));
    m_comm.SetRThreshold(1);
    m_comm.SetSThreshold(1);
    m_comm.SetInputMode(INPUT_MODE_BINARY);
    m_comm.SetInputLen(0);
    m_comm.SetDTREnable(true);
    m_comm.SetRTSEnable(true);
    if (!m_comm.GetPortOpen()) {
        m_comm.SetPortOpen(true);
        // Unread bytes from the previous connection (a frame cut short by a close or a lost
        // device) would swallow the first frame of this one.
        m_ring.Skip(m_ring.Count());
        m_decodeStats.passedOver.Break();
    }
    Platform().Sleep(OPEN_PAUSE_MS);
    const bool bOpen = m_comm.GetPortOpen();
    if (bOpen && !m_bPortAnnounced) {
        m_bPortAnnounced = true;
        const std::string strPath = CMSComm::PortDevicePath(nPort).toStdString();
        const std::string strSettings = m_comm.GetSettings().toStdString();
        Notify([&](ILinkObserver& o) { o.OnPortOpened(nPort, strPath, strSettings); });
    }
    return bOpen;
}

void CSensorLink::ClosePort()
{
    if (m_comm.GetPortOpen())
        m_comm.SetPortOpen(false);
    AnnouncePortClosed();
}

void CSensorLink::AnnouncePortClosed()
{
    if (!m_bPortAnnounced || m_comm.GetPortOpen())
        return;
    m_bPortAnnounced = false;
    Notify([](ILinkObserver& o) { o.OnPortClosed(); });
}

void CSensorLink::UpdateControlStates()
{
    m_view.EnableGainSpins(m_comm.GetPortOpen());
}

void CSensorLink::OnOpenDevice()
{
    m_bObserving = 0;
    if (m_comm.GetPortOpen()) {
        // Closing sends nothing to the sensor; it may go on streaming into a closed port.
        ClosePort();
        m_view.SetOpenButtonText(QStringLiteral("打开串口"));
        UpdateControlStates();
        return;
    }
    const int nSel = m_view.GetPortSelection();
    if (nSel < 0) {
        m_view.MessageBox(QStringLiteral("请选择串口号!"));
        return;
    }
    if (OpenPort(nSel + 1))
        m_view.SetOpenButtonText(QStringLiteral("关闭串口"));
    else
        m_view.MessageBox(QStringLiteral("串口打开失败!"));
    UpdateControlStates();
}

void CSensorLink::OnStartObserve()
{
    // With the port closed nothing goes out, so the status must not claim that observing began.
    const bool bOpen = m_comm.GetPortOpen();
    SendCommand(proto::CODE_START, proto::ADDR_SENSOR, 0, false);
    if (!bOpen)
        return;
    const QString strNext = QStringLiteral("监测过程中......");
    SetStatusText(QStringLiteral("开始采集数据......"), 5, &strNext);
}

void CSensorLink::OnStopObserve()
{
    const bool bOpen = m_comm.GetPortOpen();
    SendCommand(proto::CODE_STOP, proto::ADDR_SENSOR, 0, false);
    if (!bOpen)
        return;
    SetStatusText(QStringLiteral("监测过程被终止!"), 0);
}

void CSensorLink::OnDestroy()
{
    if (m_bObserving)
        OnStopObserve();
}

void CSensorLink::OnPortLost(const QString& strDescription)
{
    m_bObserving = 0;
    ClosePort();  // the layer has normally closed it already
    m_view.SetOpenButtonText(QStringLiteral("打开串口"));
    UpdateControlStates();
    // Whatever the status said, the observation is over.
    SetStatusText(QStringLiteral("监测过程被终止!"), 0);
    m_view.ShowErrorBox(strDescription.isEmpty() ? QStringLiteral("内部应用程序出错。") : strDescription);
}
