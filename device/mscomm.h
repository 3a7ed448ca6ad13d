#pragma once
// The serial-control layer: a numbered serial port with the property model the console's
// port handling is written against (CommPort, Settings, PortOpen, Input, Output, OnComm ...),
// built on QSerialPort. Received bytes are announced by OnComm on the thread that owns the
// object (the user-interface thread), RECEIVE_COLLECT_MS after the first of them arrived: at
// the full line rate one event carries the frames of those milliseconds, not one frame.
//
// Errors take one of two routes and never a third: whatever fails inside a call (a refused
// property, an open, a write) throws CommError from that call; whatever fails between calls,
// while the port's notifications run, is the loss of the device, closed and reported once by
// PortLost.
#include <QBasicTimer>
#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

#include <stdexcept>
#include <vector>

class QSerialPort;
class QSocketNotifier;

// A property write the layer refuses: a port that does not exist or is busy, a malformed
// settings string, an operation on a closed port. Carries the layer's own description.
class CommError : public std::runtime_error {
public:
    explicit CommError(const QString& description)
        : std::runtime_error(description.toStdString()), m_strDescription(description) {}
    QString Description() const { return m_strDescription; }
private:
    QString m_strDescription;
};

class CMSComm : public QObject {
    Q_OBJECT
public:
    // CommEvent values.
    enum { comEvReceive = 2, comEvSend = 1, comEventRxOver = 1006, comEventBreak = 1001,
           comEventFrame = 1004, comEventRxParity = 1009, comEventDeviceLost = 1100 };

    explicit CMSComm(QObject* parent = nullptr);
    ~CMSComm() override;  // closes the port

    void SetCommPort(short nPort);  // 1..16 (any positive number with a mapping)
    short GetCommPort() const { return m_nCommPort; }
    void SetInBufferSize(short nBytes);
    short GetInBufferSize() const { return m_nInBufferSize; }
    void SetOutBufferSize(short nBytes);
    short GetOutBufferSize() const { return m_nOutBufferSize; }
    void SetInputMode(long nMode);  // 0 text, 1 binary
    long GetInputMode() const { return m_nInputMode; }
    // "baud,parity,data,stop", e.g. "256000,n,8,1"; a malformed string throws CommError.
    void SetSettings(const QString& strSettings);
    QString GetSettings() const { return m_strSettings; }
    void SetRThreshold(short n);
    short GetRThreshold() const { return m_nRThreshold; }
    void SetSThreshold(short n);
    short GetSThreshold() const { return m_nSThreshold; }
    void SetInputLen(short n);  // 0: Input takes every waiting byte
    short GetInputLen() const { return m_nInputLen; }
    void SetDTREnable(bool b);
    bool GetDTREnable() const { return m_bDTREnable; }
    void SetRTSEnable(bool b);
    bool GetRTSEnable() const { return m_bRTSEnable; }

    // put true opens the port with the settings above, false closes it; a refusal throws.
    void SetPortOpen(bool bOpen);
    bool GetPortOpen() const;

    // Writes one whole frame before returning; throws when the port is closed or the write
    // fails. A device that takes nothing holds the call up for at most WRITE_TIMEOUT_MS; what
    // it did not take is discarded, so it never goes out late.
    void SetOutput(const QByteArray& bytes);
    static constexpr int WRITE_TIMEOUT_MS = 100;
    // Received bytes are collected this long after the first of a burst arrived before OnComm
    // announces them, so the thread wakes once for the frames of these milliseconds rather than
    // once a frame; a lone reply waits no longer than this.
    static constexpr int RECEIVE_COLLECT_MS = 3;
    short GetCommEvent() const { return m_nCommEvent; }
    // Bytes waiting, as a signed 16-bit count (never more than InBufferSize).
    short GetInBufferCount() const;
    // Takes the waiting bytes (InputLen of them, or all for 0) out of the buffer. The array
    // reuses the layer's storage once the caller has let go of the one returned before.
    QByteArray GetInput();

    // Device path of port n: COMn on Windows, /dev/ttyS(n-1) elsewhere, unless mapped.
    static QString PortDevicePath(int nPort);
    // Maps port n to a device path for this process (the console's --com N=PATH).
    static void MapPort(int nPort, const QString& strPath);
    static void ClearPortMap();
    // Parses "N=PATH"; false when malformed.
    static bool MapPortFromArg(const QString& strArg);
    // "N=PATH" split into its number and path; false when malformed. N is not range-checked.
    static bool ParsePortArg(const QString& strArg, int* pPort, QString* pPath);
    // What port n opens when nothing maps it.
    static QString DefaultDevicePath(int nPort);

signals:
    // Raised on the owner's thread after bytes arrive (CommEvent 2, at RThreshold or more
    // bytes waiting) and when the output drains below SThreshold (CommEvent 1).
    void OnComm();
    // The open port went away underneath (a USB adapter pulled out). The layer has already
    // closed the port; description is the layer's own text.
    void PortLost(const QString& strDescription);

protected:
    void timerEvent(QTimerEvent* e) override;

private:
    // Marks a call in progress: errors QSerialPort signals meanwhile belong to that call.
    struct CallScope {
        explicit CallScope(CMSComm& comm) : m_comm(comm) { ++m_comm.m_nCallDepth; }
        ~CallScope() { --m_comm.m_nCallDepth; }
        CMSComm& m_comm;
    };

    void OnReadyRead();
    // Own reading (Unix): the descriptor became readable.
    void OnReadable();
    // The collect delay is over: read what came meanwhile and announce it.
    void OnCollected();
    // Takes the reading of the open port over from QSerialPort where it can (see the .cpp).
    void StartOwnReading();
    void StopOwnReading();
    // Closes the port, its own reading and the bytes waiting in it.
    void ClosePortDevice();
    // Reads what the descriptor holds into m_inBuf, up to InBufferSize; the bytes read, or -1
    // with m_strReadError set when the read failed.
    int ReadDescriptor();
    // A read that failed or found nothing on a readable descriptor; false once the device was
    // reported lost.
    bool ReadFailed(const QString& strWhy);
    int InCount() const { return m_nInEnd - m_nInStart; }
    // OnComm for received bytes, when RThreshold of them wait.
    void AnnounceReceived();
    void OnErrorOccurred(int error);
    void ConnectPort();
    bool DeviceHungUp() const;
    void ReportDeviceLost(const QString& strWhy);
    // Writes all of bytes within WRITE_TIMEOUT_MS; false with the reason otherwise.
    bool WriteAll(const QByteArray& bytes, QString& strWhy);

    static constexpr int MAX_READ_ERRORS = 8;  // failed reads in a row taken as a lost device

    QSerialPort* m_pPort = nullptr;
    short m_nCommPort = 1;
    short m_nInBufferSize = 1024;
    short m_nOutBufferSize = 512;
    long m_nInputMode = 0;
    QString m_strSettings = QStringLiteral("9600,n,8,1");
    short m_nRThreshold = 0;
    short m_nSThreshold = 0;
    short m_nInputLen = 0;
    bool m_bDTREnable = false;
    bool m_bRTSEnable = false;
    short m_nCommEvent = 0;
    bool m_bLostPending = false;  // device loss seen, the port's close is queued
    int m_nReadErrors = 0;        // failed reads since the last successful one
    int m_nCallDepth = 0;         // calls of this layer in progress (CallScope)
    QBasicTimer m_collectTimer;   // runs while received bytes are being collected
    QByteArray m_input;           // what GetInput hands out, storage reused
    // Own reading: the layer's notifier and buffer (bytes m_nInStart..m_nInEnd wait).
    bool m_bOwnRead = false;
    QSocketNotifier* m_pReadNotifier = nullptr;
    std::vector<char> m_inBuf;
    int m_nInStart = 0;
    int m_nInEnd = 0;
    bool m_bWoken = false;        // the collect delay began with a readable descriptor
    QString m_strReadError;
    static QMap<int, QString> s_portMap;
};
