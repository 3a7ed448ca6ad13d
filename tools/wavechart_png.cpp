// Renders the waveform control alone, filled with synthetic pulse-like samples, to a PNG.
//   wavechart-png [-o file.png] [--scroll] [--zoom-x N] [--zoom-y N] [--samples N] [--size WxH]
#include <QApplication>
#include <QCommandLineParser>
#include <QImage>

#include <cstdio>

#include "pulse_synth.h"
#include "resource_ids.h"
#include "wave_chart.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription("Renders the waveform control with synthetic samples to a PNG.");
    parser.addHelpOption();
    const QCommandLineOption optOut({ "o", "output" }, "PNG file to write.", "file", "wavechart.png");
    const QCommandLineOption optScroll("scroll", "Scrolling mode (default: page-flip mode).");
    const QCommandLineOption optZoomX("zoom-x", "X zoom in percent, 10..200.", "percent", "60");
    const QCommandLineOption optZoomY("zoom-y", "Y zoom in percent, 10..200.", "percent", "15");
    const QCommandLineOption optSamples("samples",
        "Samples to add (default: one page, or a page and a half in scrolling mode).", "n");
    const QCommandLineOption optSize("size", "Control size in pixels.", "WxH", "890x507");
    parser.addOptions({ optOut, optScroll, optZoomX, optZoomY, optSamples, optSize });
    parser.process(app);

    const QStringList size = parser.value(optSize).split('x');
    const int w = size.size() == 2 ? size[0].toInt() : 0;
    const int h = size.size() == 2 ? size[1].toInt() : 0;
    const int zx = parser.value(optZoomX).toInt();
    const int zy = parser.value(optZoomY).toInt();
    if (w < 1 || h < 1 || zx < WAVE_ZOOM_MIN || zx > 200 || zy < WAVE_ZOOM_MIN || zy > 200) {
        std::fprintf(stderr, "wavechart-png: size must be WxH and zoom factors 10..200\n");
        return 2;
    }

    CWaveChart chart;
    chart.Create(nullptr, QRect(0, 0, w, h), IDC_WAVECHART);
    chart.m_nZoomX = zx;
    chart.m_nZoomY = zy;
    chart.UpdateCapacity();
    if (parser.isSet(optScroll))
        chart.OnScrolling();

    int nSamples = chart.m_bScroll ? chart.m_nCapacity * 3 / 2 : chart.m_nCapacity;
    if (parser.isSet(optSamples))
        nSamples = parser.value(optSamples).toInt();
    for (int n = 0; n < nSamples; ++n) {
        int v[5];
        SynthPulseSample(n, v);
        chart.AddSamples(v[0], v[1], v[2], v[3], v[4]);
    }

    QImage image(w, h, QImage::Format_RGB32);
    chart.render(&image);
    const QString strOut = parser.value(optOut);
    if (!image.save(strOut, "PNG")) {
        std::fprintf(stderr, "wavechart-png: cannot write %s\n", qPrintable(strOut));
        return 1;
    }
    std::printf("%s: %dx%d, %s mode, X %d%%, Y %d%%, %d samples (capacity %d)\n",
                qPrintable(strOut), w, h, chart.m_bScroll ? "scrolling" : "page-flip", zx, zy,
                nSamples, chart.m_nCapacity);
    return 0;
}
