#pragma once
// A real pseudo-terminal standing in for the sensor: the console opens the slave path through
// QSerialPort; the test reads and writes the master side.
#include <fcntl.h>
#include <poll.h>
#ifdef __APPLE__
#include <util.h>  // macOS: openpty lives here
#else
#include <pty.h>
#endif
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
public:
    PtyPair()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return;
        m_slavePath = name;
        termios tio{};
        ::tcgetattr(slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
        // Keep one slave descriptor open so the master does not see a hang-up between opens.
        m_keepSlave = slave;
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair() { Close(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return m_master >= 0; }
    const std::string& SlavePath() const { return m_slavePath; }
    int MasterFd() const { return m_master; }

    // Closes both sides, as an unplugged adapter would.
    void Close()
    {
        if (m_keepSlave >= 0) ::close(m_keepSlave);
        if (m_master >= 0) ::close(m_master);
        m_keepSlave = m_master = -1;
    }
    void CloseMaster()
    {
        if (m_master >= 0) ::close(m_master);
        m_master = -1;
    }

    bool Write(const std::vector<uint8_t>& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EAGAIN) { ::usleep(1000); continue; }
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads whatever arrives on the master side within timeoutMs, spinning the Qt event loop
    // so the console side can flush its writes. Stops early once `atLeast` bytes are in.
    std::vector<uint8_t> Read(int timeoutMs, size_t atLeast = SIZE_MAX)
    {
        std::vector<uint8_t> out;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs && out.size() < atLeast) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            uint8_t buf[4096];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0) {
                out.insert(out.end(), buf, buf + n);
                continue;
            }
            pollfd p{m_master, POLLIN, 0};
            ::poll(&p, 1, 2);
        }
        return out;
    }

private:
    int m_master = -1;
    int m_keepSlave = -1;
    std::string m_slavePath;
};

// Spins the Qt event loop until pred() holds or timeoutMs passes; returns pred().
template <class Pred>
bool WaitUntil(Pred pred, int timeoutMs = 2000)
{
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return pred();
}
