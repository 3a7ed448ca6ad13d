#include "mscomm.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimerEvent>

#include <algorithm>
#include <cstring>

#include "logging.h"
#include "port_diagnostics.h"

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif

QMap<int, QString> CMSComm::s_portMap;

namespace {

struct ParsedSettings {
    qint32 nBaud = 0;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// "baud,parity,data,stop" as in "256000,n,8,1"; false when any part is malformed.
bool ParseSettings(const QString& strSettings, ParsedSettings& out)
{
    const QStringList parts = strSettings.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    bool ok = false;
    const qlonglong baud = parts[0].trimmed().toLongLong(&ok);
    if (!ok || baud <= 0 || baud > 0x7FFFFFFF)
        return false;
    out.nBaud = static_cast<qint32>(baud);

    const QString parity = parts[1].trimmed().toLower();
    if (parity == QLatin1String("n")) out.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e")) out.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o")) out.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m")) out.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s")) out.parity = QSerialPort::SpaceParity;
    else return false;

    const QString data = parts[2].trimmed();
    if (data == QLatin1String("5")) out.dataBits = QSerialPort::Data5;
    else if (data == QLatin1String("6")) out.dataBits = QSerialPort::Data6;
    else if (data == QLatin1String("7")) out.dataBits = QSerialPort::Data7;
    else if (data == QLatin1String("8")) out.dataBits = QSerialPort::Data8;
    else return false;

    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1")) out.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5")) out.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2")) out.stopBits = QSerialPort::TwoStop;
    else return false;
    return true;
}

// Refuses a property value below its minimum, naming the property.
void RequireAtLeast(int nValue, int nMin, const char* pszWhat)
{
    if (nValue < nMin)
        throw CommError(CMSComm::tr("%1 %2 无效。").arg(CMSComm::tr(pszWhat)).arg(nValue));
}

// Applies parsed settings; on an open port each setter reconfigures the line at once.
bool ApplySettings(QSerialPort& port, const ParsedSettings& s)
{
    return port.setBaudRate(s.nBaud) && port.setParity(s.parity) && port.setDataBits(s.dataBits)
        && port.setStopBits(s.stopBits) && port.setFlowControl(QSerialPort::NoFlowControl);
}

} // namespace

CMSComm::CMSComm(QObject* parent) : QObject(parent), m_pPort(new QSerialPort(this)) { ConnectPort(); }

void CMSComm::ConnectPort()
{
    connect(m_pPort, &QSerialPort::readyRead, this, &CMSComm::OnReadyRead);
    connect(m_pPort, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { OnErrorOccurred(static_cast<int>(error)); });
}

CMSComm::~CMSComm()
{
    // No signal may reach this object while the port goes down.
    m_pPort->disconnect(this);
    ClosePortDevice();
}

void CMSComm::ClosePortDevice()
{
    StopOwnReading();
    m_bOwnRead = false;
    m_nInStart = m_nInEnd = 0;
    if (m_pPort->isOpen())
        m_pPort->close();
}

QString CMSComm::PortDevicePath(int nPort)
{
    const auto it = s_portMap.constFind(nPort);
    if (it != s_portMap.constEnd())
        return it.value();
    return DefaultDevicePath(nPort);
}

QString CMSComm::DefaultDevicePath(int nPort)
{
#ifdef _WIN32
    return QStringLiteral("COM%1").arg(nPort);
#else
    // macOS: there is no /dev/ttyS*; its adapters are /dev/cu.* devices, reached through a mapping.
    return QStringLiteral("/dev/ttyS%1").arg(nPort - 1);
#endif
}

void CMSComm::MapPort(int nPort, const QString& strPath) { s_portMap.insert(nPort, strPath); }

void CMSComm::ClearPortMap() { s_portMap.clear(); }

bool CMSComm::ParsePortArg(const QString& strArg, int* pPort, QString* pPath)
{
    const int nEq = strArg.indexOf(QLatin1Char('='));
    if (nEq <= 0)
        return false;
    bool bOk = false;
    *pPort = strArg.left(nEq).trimmed().toInt(&bOk);
    *pPath = strArg.mid(nEq + 1);
    return bOk && !pPath->isEmpty();
}

bool CMSComm::MapPortFromArg(const QString& strArg)
{
    int nPort = 0;
    QString strPath;
    if (!ParsePortArg(strArg, &nPort, &strPath) || nPort < 1 || nPort > 0x7FFF)
        return false;
    MapPort(nPort, strPath);
    return true;
}

void CMSComm::SetCommPort(short nPort)
{
    if (GetPortOpen())
        throw CommError(tr("端口已打开：请先关闭 COM%1，再选择其他端口。")
                            .arg(m_nCommPort));
    if (nPort < 1)
        throw CommError(tr("端口号 %1 无效。").arg(nPort));
    m_nCommPort = nPort;
}

void CMSComm::SetInBufferSize(short nBytes)
{
    RequireAtLeast(nBytes, 1, QT_TRANSLATE_NOOP("CMSComm", "输入缓冲区大小"));
    m_nInBufferSize = nBytes;
    if (!m_bOwnRead)
        m_pPort->setReadBufferSize(nBytes);  // this would switch QSerialPort's reading back on
    else if (m_inBuf.size() < static_cast<size_t>(nBytes))
        m_inBuf.resize(static_cast<size_t>(nBytes));
}

void CMSComm::SetOutBufferSize(short nBytes)
{
    RequireAtLeast(nBytes, 1, QT_TRANSLATE_NOOP("CMSComm", "输出缓冲区大小"));
    m_nOutBufferSize = nBytes;
}

void CMSComm::SetInputMode(long nMode)
{
    if (nMode != 0 && nMode != 1)
        throw CommError(tr("输入模式 %1 无效（0 为文本，1 为二进制）。").arg(nMode));
    m_nInputMode = nMode;
}

void CMSComm::SetSettings(const QString& strSettings)
{
    CallScope call(*this);
    ParsedSettings parsed;
    if (!ParseSettings(strSettings, parsed))
        throw CommError(tr("设置“%1”无效：应为“波特率,校验,数据位,停止位”，如“256000,n,8,1”"
                           "（校验为 n、e、o、m 或 s；数据位 5 至 8；停止位 1、1.5 或 2）。")
                            .arg(strSettings));
    if (GetPortOpen() && !ApplySettings(*m_pPort, parsed)) {
        const QString strWhy = m_pPort->errorString();
        ParsedSettings previous;
        if (ParseSettings(m_strSettings, previous))
            ApplySettings(*m_pPort, previous);  // leave the line as it was
        m_pPort->clearError();
        throw CommError(tr("无法将设置“%1”应用于端口 COM%2（%3）：%4")
                            .arg(strSettings).arg(m_nCommPort).arg(PortDevicePath(m_nCommPort), strWhy));
    }
    m_strSettings = strSettings;
}

void CMSComm::SetRThreshold(short n)
{
    RequireAtLeast(n, 0, QT_TRANSLATE_NOOP("CMSComm", "接收阈值"));
    m_nRThreshold = n;
}

void CMSComm::SetSThreshold(short n)
{
    RequireAtLeast(n, 0, QT_TRANSLATE_NOOP("CMSComm", "发送阈值"));
    m_nSThreshold = n;
}

void CMSComm::SetInputLen(short n)
{
    RequireAtLeast(n, 0, QT_TRANSLATE_NOOP("CMSComm", "输入长度"));
    m_nInputLen = n;
}

void CMSComm::SetDTREnable(bool b)
{
    CallScope call(*this);
    m_bDTREnable = b;
    if (GetPortOpen() && !m_pPort->setDataTerminalReady(b))
        m_pPort->clearError();  // no modem lines (a pseudo-terminal): nothing to assert
}

void CMSComm::SetRTSEnable(bool b)
{
    CallScope call(*this);
    m_bRTSEnable = b;
    if (GetPortOpen() && !m_pPort->setRequestToSend(b))
        m_pPort->clearError();
}

bool CMSComm::GetPortOpen() const { return m_pPort->isOpen(); }

void CMSComm::SetPortOpen(bool bOpen)
{
    CallScope call(*this);
    if (m_bLostPending) {
        // The owner acts before the queued loss report ran: finish the close it would do.
        m_bLostPending = false;
        ClosePortDevice();
        m_pPort->clearError();
        ConnectPort();
    }
    m_nReadErrors = 0;
    if (!bOpen) {
        if (m_pPort->isOpen()) {
            ClosePortDevice();
            qCDebug(lcSerial, "COM%d closed", m_nCommPort);
        }
        m_pPort->clearError();
        return;
    }
    if (m_pPort->isOpen())
        return;

    ParsedSettings parsed;
    if (!ParseSettings(m_strSettings, parsed))
        throw CommError(tr("设置“%1”无效。").arg(m_strSettings));
    const QString strPath = PortDevicePath(m_nCommPort);
    m_pPort->setPortName(strPath);
    m_pPort->setReadBufferSize(m_nInBufferSize);
    ApplySettings(*m_pPort, parsed);  // stored only while closed; checked by open()
    m_pPort->clearError();
    if (!m_pPort->open(QIODevice::ReadWrite)) {
        const QString strWhy = m_pPort->errorString();
        const QString strRemedy = ExplainPortFailure(ProbePortFailure(strPath, m_pPort->error()));
        m_pPort->clearError();
        qCDebug(lcSerial, "COM%d (%s) refused: %s", m_nCommPort, qUtf8Printable(strPath), qUtf8Printable(strWhy));
        QString strText = tr("无法打开端口 COM%1（%2）：%3").arg(m_nCommPort).arg(strPath, strWhy);
        if (!strRemedy.isEmpty())
            strText += QStringLiteral("\n\n") + strRemedy;
        throw CommError(strText);
    }
    qCDebug(lcSerial, "COM%d (%s) opened at %s", m_nCommPort, qUtf8Printable(strPath), qUtf8Printable(m_strSettings));
    // A pseudo-terminal has no modem lines; failing to set them must not fail the open.
    if (!m_pPort->setDataTerminalReady(m_bDTREnable))
        m_pPort->clearError();
    if (!m_pPort->setRequestToSend(m_bRTSEnable))
        m_pPort->clearError();
    m_nCommEvent = 0;
    m_input.reserve(m_nInBufferSize);
    StartOwnReading();
}

void CMSComm::SetOutput(const QByteArray& bytes)
{
    CallScope call(*this);
    // A device found lost is closed at the next event-loop turn; until then it is closed here.
    if (!GetPortOpen() || m_bLostPending)
        throw CommError(tr("端口未打开：无法在 COM%1 上发送。").arg(m_nCommPort));
    if (bytes.isEmpty())
        return;
    QString strWhy;
    if (!WriteAll(bytes, strWhy)) {
        // What the driver still holds would go out whenever the line moves again, long after
        // the caller was told the send failed.
        if (!m_pPort->clear(QSerialPort::Output))
            m_pPort->clearError();
        throw CommError(tr("无法在端口 COM%1（%2）上发送：%3")
                            .arg(m_nCommPort).arg(PortDevicePath(m_nCommPort), strWhy));
    }
    if (m_nSThreshold > 0) {
        // SThreshold n: OnComm (send event) once fewer than n bytes wait, which is now.
        QMetaObject::invokeMethod(this, [this] {
            if (!GetPortOpen())
                return;
            m_nCommEvent = comEvSend;
            emit OnComm();
        }, Qt::QueuedConnection);
    }
}

bool CMSComm::WriteAll(const QByteArray& bytes, QString& strWhy)
{
    // The wait is bounded on the real clock: it holds up the thread that owns the port.
    const QDeadlineTimer deadline(WRITE_TIMEOUT_MS);
#ifdef _WIN32
    if (m_pPort->write(bytes) != bytes.size() || !m_pPort->waitForBytesWritten(WRITE_TIMEOUT_MS)) {
        strWhy = m_pPort->errorString();
        m_pPort->clearError();
        return false;
    }
    return true;
#else
    // Written straight to the descriptor rather than through QSerialPort's buffer, whose flush
    // waits for the line to drain and whose failures surface later, away from the caller.
    const int fd = static_cast<int>(m_pPort->handle());
    const char* p = bytes.constData();
    size_t nLeft = static_cast<size_t>(bytes.size());
    while (nLeft > 0) {
        const ssize_t n = ::write(fd, p, nLeft);
        if (n > 0) {
            p += n;
            nLeft -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            strWhy = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        // The driver's queue is full: wait for room until the deadline.
        const qint64 nRemaining = deadline.remainingTime();
        pollfd pfd{fd, POLLOUT, 0};
        if (nRemaining <= 0 || ::poll(&pfd, 1, static_cast<int>(nRemaining)) == 0) {
            strWhy = tr("设备在 %1 毫秒内未接收任何数据").arg(WRITE_TIMEOUT_MS);
            return false;
        }
    }
    return true;
#endif
}

short CMSComm::GetInBufferCount() const
{
    if (!GetPortOpen())
        return 0;
    const qint64 nWaiting = m_bOwnRead ? InCount() : m_pPort->bytesAvailable();
    return static_cast<short>(std::min<qint64>(nWaiting, 0x7FFF));
}

QByteArray CMSComm::GetInput()
{
    if (!GetPortOpen())
        return QByteArray();
    if (!m_bOwnRead)
        return m_nInputLen > 0 ? m_pPort->read(m_nInputLen) : m_pPort->readAll();
    const int n = m_nInputLen > 0 ? std::min<int>(m_nInputLen, InCount()) : InCount();
    if (n <= 0)
        return QByteArray();
    const bool bWasFull = InCount() >= m_nInBufferSize;
    m_input.resize(n);  // new storage only while a caller still holds the last result
    std::memcpy(m_input.data(), m_inBuf.data() + m_nInStart, static_cast<size_t>(n));
    m_nInStart += n;
    if (m_nInStart == m_nInEnd)
        m_nInStart = m_nInEnd = 0;
    // A full buffer held the reading back; what waits in the driver follows now.
    if (bWasFull && m_pReadNotifier && !m_collectTimer.isActive())
        m_collectTimer.start(RECEIVE_COLLECT_MS, Qt::PreciseTimer, this);
    return m_input;
}

void CMSComm::StartOwnReading()
{
#ifndef _WIN32
    // QSerialPort wakes the thread at every arrival and reads into storage it allocates anew
    // each time. The layer reads the descriptor itself instead: woken by the first bytes of a
    // burst, then once per collect delay while bytes keep coming, into storage it keeps.
    // QSerialPort's read notifier is its only enabled child notifier for input; the layer
    // switches it off and never calls QSerialPort's read functions, which would switch it back
    // on. A Qt without such a child goes on reading through QSerialPort.
    QSocketNotifier* pPortNotifier = nullptr;
    for (QSocketNotifier* p : m_pPort->findChildren<QSocketNotifier*>())
        if (p->type() == QSocketNotifier::Read && p->isEnabled() && p->socket() == m_pPort->handle())
            pPortNotifier = p;
    if (!pPortNotifier)
        return;
    pPortNotifier->setEnabled(false);
    m_bOwnRead = true;
    m_nInStart = m_nInEnd = 0;
    if (m_inBuf.size() < static_cast<size_t>(m_nInBufferSize))
        m_inBuf.resize(static_cast<size_t>(m_nInBufferSize));
    m_pReadNotifier = new QSocketNotifier(m_pPort->handle(), QSocketNotifier::Read, this);
    connect(m_pReadNotifier, &QSocketNotifier::activated, this, &CMSComm::OnReadable);
#endif
}

void CMSComm::StopOwnReading()
{
    m_collectTimer.stop();
    m_bWoken = false;
    delete m_pReadNotifier;
    m_pReadNotifier = nullptr;
}

int CMSComm::ReadDescriptor()
{
#ifdef _WIN32
    return 0;
#else
    if (m_nInStart > 0) {
        std::memmove(m_inBuf.data(), m_inBuf.data() + m_nInStart, static_cast<size_t>(InCount()));
        m_nInEnd -= m_nInStart;
        m_nInStart = 0;
    }
    const int fd = static_cast<int>(m_pPort->handle());
    int nTotal = 0;
    for (;;) {
        const int nRoom = std::min<int>(m_nInBufferSize, static_cast<int>(m_inBuf.size())) - m_nInEnd;
        if (nRoom <= 0)
            return nTotal;
        const ssize_t n = ::read(fd, m_inBuf.data() + m_nInEnd, static_cast<size_t>(nRoom));
        if (n > 0) {
            m_nInEnd += static_cast<int>(n);
            nTotal += static_cast<int>(n);
            if (n < nRoom)
                return nTotal;  // the driver holds no more
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // The port is non-blocking with no minimum count: nothing waiting reads as 0 or EAGAIN.
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK)
            return nTotal;
        m_strReadError = QString::fromLocal8Bit(std::strerror(errno));
        return nTotal > 0 ? nTotal : -1;
    }
#endif
}

void CMSComm::OnReadable()
{
    // Nothing is read now: the bytes of the next few milliseconds are read with these.
    m_pReadNotifier->setEnabled(false);
    m_bWoken = true;
    if (!m_collectTimer.isActive())
        m_collectTimer.start(RECEIVE_COLLECT_MS, Qt::PreciseTimer, this);
}

void CMSComm::OnReadyRead()
{
    m_nReadErrors = 0;
    if (!m_collectTimer.isActive())
        m_collectTimer.start(RECEIVE_COLLECT_MS, Qt::PreciseTimer, this);
}

void CMSComm::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == m_collectTimer.timerId())
        OnCollected();
    else
        QObject::timerEvent(e);
}

void CMSComm::OnCollected()
{
    m_collectTimer.stop();
    if (!GetPortOpen() || m_bLostPending)
        return;
    if (!m_bOwnRead) {
        AnnounceReceived();
        return;
    }
    const bool bWoken = m_bWoken;
    m_bWoken = false;
    const bool bRoom = InCount() < m_nInBufferSize;
    const int n = ReadDescriptor();
    if (n < 0 || (n == 0 && bWoken && bRoom)) {
        // Readable, yet the read failed or found nothing: what QSerialPort reports as ReadError.
        if (!ReadFailed(n < 0 ? m_strReadError : tr("设备已挂断或被拔出")))
            return;
    } else if (n > 0) {
        m_nReadErrors = 0;
        AnnounceReceived();  // the owner may close or reopen the port meanwhile
    }
    if (!m_pReadNotifier || m_bLostPending || m_collectTimer.isActive() || InCount() >= m_nInBufferSize)
        return;  // closed, lost, restarted, or held until GetInput makes room
    // While bytes keep coming, the next read is one collect delay away; once the line is
    // quiet, the descriptor wakes the layer again.
    if (n > 0)
        m_collectTimer.start(RECEIVE_COLLECT_MS, Qt::PreciseTimer, this);
    else
        m_pReadNotifier->setEnabled(true);
}

bool CMSComm::ReadFailed(const QString& strWhy)
{
    // A tty that hangs up (adapter pulled, pty master closed) stays readable and every read
    // fails; an odd failed read alone is no loss.
    if (DeviceHungUp())
        ReportDeviceLost(tr("设备已挂断或被拔出"));
    else if (++m_nReadErrors >= MAX_READ_ERRORS)
        ReportDeviceLost(strWhy);
    else
        return true;
    return false;
}

void CMSComm::AnnounceReceived()
{
    const qint64 nWaiting = m_bOwnRead ? InCount() : m_pPort->bytesAvailable();
    if (m_nRThreshold <= 0 || nWaiting < m_nRThreshold)
        return;
    m_nCommEvent = comEvReceive;
    emit OnComm();
}

void CMSComm::OnErrorOccurred(int error)
{
    // Clearing an error signals NoError; modem lines and line settings a pty lacks are refused
    // with UnsupportedOperationError, which the calls setting them tolerate.
    if (error == QSerialPort::NoError || error == QSerialPort::UnsupportedOperationError)
        return;
    // Inside a call of this layer the call itself reports the failure, from errorString().
    if (m_nCallDepth > 0)
        return;
    if (error == QSerialPort::ReadError) {
        // A tty that hangs up (adapter pulled, pty master closed) stays readable and every read
        // fails: QSerialPort then reports ReadError over and over. Treat it as the loss it is;
        // an odd failed read alone is not.
        if (DeviceHungUp())
            ReportDeviceLost(tr("设备已挂断或被拔出"));
        else if (++m_nReadErrors >= MAX_READ_ERRORS)
            ReportDeviceLost(m_pPort->errorString());
        else
            m_pPort->clearError();
        return;
    }
    // Anything else between calls (ResourceError above all) means the device is gone.
    ReportDeviceLost(m_pPort->errorString());
}

bool CMSComm::DeviceHungUp() const
{
#ifdef _WIN32
    return false;
#else
    pollfd p{static_cast<int>(m_pPort->handle()), POLLIN, 0};
    if (p.fd < 0 || ::poll(&p, 1, 0) < 0)
        return true;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#endif
}

void CMSComm::ReportDeviceLost(const QString& strWhy)
{
    if (m_bLostPending || !m_pPort->isOpen())
        return;
    m_bLostPending = true;
    // Reading stops at once, so the failing notifications cannot spin; the close itself runs
    // from the event loop, not from inside the port's own notification.
    m_pPort->disconnect(this);
    StopOwnReading();
    qCDebug(lcSerial, "COM%d lost: %s", m_nCommPort, qUtf8Printable(strWhy));
    const QString strDescription = tr("端口 COM%1（%2）的设备已丢失：%3")
                                       .arg(m_nCommPort)
                                       .arg(PortDevicePath(m_nCommPort), strWhy);
    QMetaObject::invokeMethod(this, [this, strDescription] {
        if (!m_bLostPending)
            return;  // closed by the owner meanwhile
        m_bLostPending = false;
        ClosePortDevice();
        m_pPort->clearError();
        ConnectPort();
        m_nCommEvent = comEventDeviceLost;
        emit PortLost(strDescription);
    }, Qt::QueuedConnection);
}
