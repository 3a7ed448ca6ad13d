#pragma once
// Shared set-up for the waveform control's tests: a sized control and helpers to fill and read it.
#include <QImage>

#include <memory>
#include <vector>

#include "resource_ids.h"
#include "wave_chart.h"

// A control of w x h pixels with its capacity already fitted (the size takes effect at creation).
inline std::unique_ptr<CWaveChart> MakeChart(int w = 890, int h = 507)
{
    auto chart = std::make_unique<CWaveChart>();
    chart->Create(nullptr, QRect(0, 0, w, h), IDC_WAVECHART);
    return chart;
}

// Appends samples first .. first + n - 1, every channel holding the sample's number.
inline void AddNumbered(CWaveChart& chart, int first, int n)
{
    for (int i = first; i < first + n; ++i)
        chart.AddSamples(i, i, i, i, i);
}

// The displayed values of channel ch, oldest first, as the plot walks them.
inline std::vector<int> Displayed(const CWaveChart& chart, int ch = 0)
{
    std::vector<int> out;
    if (chart.m_nCount <= 0)
        return out;
    const wavegeo::DisplayRun run =
        wavegeo::GetDisplayRun(chart.m_nStart, chart.m_nCount, chart.m_nCapacity);
    for (int k = 0; k < run.Points(); ++k)
        out.push_back(chart.m_wData[ch][run.IndexAt(k)]);
    return out;
}

inline std::vector<int> Range(int first, int n)
{
    std::vector<int> v;
    for (int i = first; i < first + n; ++i)
        v.push_back(i);
    return v;
}

inline QImage Render(CWaveChart& chart)
{
    QImage image(chart.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta); // anything left unpainted shows up
    chart.render(&image);
    return image;
}
