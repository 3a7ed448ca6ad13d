#pragma once
// A console window for the device link's tests: records everything the link asks of it.
#include <QMap>
#include <QStringList>

#include <array>
#include <vector>

#include "sensor_link.h"

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
    std::vector<std::array<int, 5>> m_samples;  // every AddSamples call
    int m_nInvalidate = 0;
    std::vector<uint32_t> m_timerDelays;  // every StartPressureRepaintTimer call
    bool m_bWindow = true;

    // EnableGainSpins calls, that is UpdateControlStates runs.
    int EnableCalls() const { return static_cast<int>(m_spinStates.size()); }

    void EnableGainSpins(bool bEnable) override { m_spinStates.push_back(bEnable); }
    void AddSamples(int a, int b, int c, int d, int e) override { m_samples.push_back({a, b, c, d, e}); }
    bool IsWindow() const override { return m_bWindow; }
    void InvalidatePressureArea() override { ++m_nInvalidate; }
    void StartPressureRepaintTimer(uint32_t nDelayMs) override { m_timerDelays.push_back(nDelayMs); }
    int GetPortSelection() const override { return m_nSelection; }
    void SetOpenButtonText(const QString& strText) override { m_captions << strText; }
    void SetDlgItemInt(int nID, int nValue) override { m_ints[nID] = nValue; }
    QString GetDlgItemText(int nID) const override { return m_texts.value(nID); }
    void MessageBox(const QString& strText) override { m_messages << strText; }
    void ShowErrorBox(const QString& strText) override { m_errors << strText; }
    void SetStatusLabelText(const QString& strText) override { m_strStatus = strText; }
    void ShowStatusLabel(bool bShow) override { m_statusShown.push_back(bShow); }
};
