#pragma once
// A device link wired as the console wires it (OnComm → OnCommEvent, PortLost → OnPortLost,
// every handler in Guard), with port 1 on a pseudo-terminal, a fake clock and a window that
// records what the link asks of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "fake_view.h"
#include "sensor_link.h"
#include "support/pty_pair.h"

using Bytes = std::vector<uint8_t>;

class LinkTest : public ::testing::Test {
protected:
    LinkTest()
    {
        m_platform.m_dwTick = 10000;
        CMSComm::MapPort(1, QString::fromStdString(m_pty.SlavePath()));
        QObject::connect(&m_link.m_comm, &CMSComm::OnComm, &m_link.m_comm,
                         [this] { m_link.Guard([this] { m_link.OnCommEvent(); }); });
        QObject::connect(&m_link.m_comm, &CMSComm::PortLost, &m_link.m_comm,
                         [this](const QString& s) { m_link.Guard([&] { m_link.OnPortLost(s); }); });
    }
    ~LinkTest() override { CMSComm::ClearPortMap(); }

    // Opens port 1 through the open/close button and forgets what that did to the view.
    void Open()
    {
        ASSERT_TRUE(m_pty.Ok());
        m_link.Guard([this] { m_link.OnOpenDevice(); });
        ASSERT_TRUE(m_link.m_comm.GetPortOpen()) << m_view.m_errors.join(' ').toStdString();
        m_view = FakeView();
        m_platform.m_strDebug.clear();
        m_platform.m_dwSlept = 0;
    }
    // Runs a handler as the dialog does and moves the clock past the send spacing first.
    template <class F>
    void Act(F&& f)
    {
        m_platform.Advance(SEND_SPACING_MS + 50);
        m_link.Guard(f);
    }
    Bytes Wire(size_t n, int timeoutMs = 2000) { return m_pty.Read(timeoutMs, n); }
    // Whatever reaches the far side within a short while (expected: nothing).
    Bytes Quiet() { return m_pty.Read(200); }
    // The sensor answers; the bytes arrive through OnComm.
    void Reply(const Bytes& bytes)
    {
        ASSERT_TRUE(m_pty.Write(bytes));
        ASSERT_TRUE(WaitUntil([this] { return m_link.m_byPendingCode == 0 && m_link.m_nSendCount == 0; }));
    }
    // A data frame with an all-zero sample block: starts an observation run.
    void StreamOneDataFrame()
    {
        Bytes frame = {0xF0, 0x1F, 0x12, 0x32};
        frame.resize(21, 0);
        ASSERT_TRUE(m_pty.Write(frame));
        ASSERT_TRUE(WaitUntil([this] { return m_link.m_bObserving != 0; }));
    }
    int TraceLines() const
    {
        return static_cast<int>(std::count(m_platform.m_strDebug.begin(), m_platform.m_strDebug.end(), '\n'));
    }

    PtyPair m_pty;
    FakePlatform m_platform;
    ScopedPlatform m_scoped{m_platform};
    FakeView m_view;
    CSensorLink m_link{m_view};
};
