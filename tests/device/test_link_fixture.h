#pragma once
// A device link wired as the console wires it (OnComm → OnCommEvent, PortLost → OnPortLost,
// every handler in Guard), with port 1 on a pseudo-terminal, a fake clock and a window that
// records what the link asks of it.
#include <gtest/gtest.h>

#include <QMap>
#include <QStringList>

#include <algorithm>
#include <vector>

#include "sensor_link.h"
#include "support/pty_pair.h"

class FakeView : public ISensorView {
public:
    std::vector<bool> m_spinStates;  // every EnableGainSpins call
    QStringList m_captions;          // every SetOpenButtonText call
    QStringList m_messages;
    QStringList m_errors;
    QMap<int, int> m_ints;
    QMap<int, QString> m_texts;
    QString m_strStatus;
    std::vector<bool> m_statusShown;  // every ShowStatusLabel call
    int m_nSelection = 0;
    int m_nSamples = 0;

    void EnableGainSpins(bool bEnable) override { m_spinStates.push_back(bEnable); }
    void AddSamples(int, int, int, int, int) override { ++m_nSamples; }
    bool IsWindow() const override { return true; }
    void InvalidatePressureArea() override {}
    int GetPortSelection() const override { return m_nSelection; }
    void SetOpenButtonText(const QString& strText) override { m_captions << strText; }
    void SetDlgItemInt(int nID, int nValue) override { m_ints[nID] = nValue; }
    QString GetDlgItemText(int nID) const override { return m_texts.value(nID); }
    void MessageBox(const QString& strText) override { m_messages << strText; }
    void ShowErrorBox(const QString& strText) override { m_errors << strText; }
    void SetStatusLabelText(const QString& strText) override { m_strStatus = strText; }
    void ShowStatusLabel(bool bShow) override { m_statusShown.push_back(bShow); }
};

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
