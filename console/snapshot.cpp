// veltrin-snapshot FILE [SAMPLES]: renders the console offscreen with data flowing and saves a
// PNG. The console opens COM1 on a pseudo-terminal, starts observing, and receives synthetic
// data frames through the real serial path and decoder.
#include <QApplication>
#include <QImage>
#include <QPushButton>

#include <cmath>
#include <cstdio>
#include <vector>

#include "console_app.h"
#include "modal.h"
#include "protocol.h"
#include "pulse_synth.h"
#include "resource_ids.h"
#include "sensor_dlg.h"
#include "support/pty_pair.h"

namespace {

std::vector<uint8_t> DataFrame(int n)
{
    int wave[5];
    SynthPulseSample(n, wave);
    // Slowly drifting contact pressures, raw counts.
    const uint16_t words[proto::BLOCK_WORDS] = {
        uint16_t(1832 + int(14 * std::sin(n / 310.0))), uint16_t(wave[0]),
        uint16_t(1467 + int(11 * std::sin(n / 270.0))), uint16_t(wave[1]),
        uint16_t(2105 + int(17 * std::sin(n / 350.0))), uint16_t(wave[2]),
        uint16_t(wave[3]), uint16_t(wave[4])};
    std::vector<uint8_t> frame = {proto::SYNC, proto::INBOUND_ADDR, 0x12, proto::CODE_DATA};
    uint8_t block[proto::BLOCK_LEN];
    proto::BuildSampleBlock(words, block);
    frame.insert(frame.end(), block, block + proto::BLOCK_LEN);
    return frame;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    CConsoleApp app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: veltrin-snapshot FILE.png [SAMPLES]\n");
        return 2;
    }
    const int nSamples = args.size() > 2 ? args[2].toInt() : 1100;

    PtyPair pty;
    if (!pty.Ok()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    CMSComm::MapPort(1, QString::fromStdString(pty.SlavePath()));
    // Any box would block an offscreen run: print it instead.
    ScopedModalHook hook([](QDialog& dlg) {
        std::fprintf(stderr, "modal box: %s\n", qPrintable(dlg.windowTitle()));
        return 0;
    });

    CSensorDlg dlg;
    dlg.show();
    qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_BTN_OPEN))->click();
    qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_BTN_START))->click();
    pty.Read(200);  // the start command

    for (int n = 0; n < nSamples;) {
        std::vector<uint8_t> chunk;
        for (int k = 0; k < 20 && n < nSamples; ++k, ++n) {
            const std::vector<uint8_t> frame = DataFrame(n);
            chunk.insert(chunk.end(), frame.begin(), frame.end());
        }
        pty.Write(chunk);
        WaitUntil([&] { return dlg.m_ring.Count() == 0 && dlg.m_comm.GetInBufferCount() == 0; }, 200);
        QCoreApplication::processEvents();
    }
    WaitUntil([] { return false; }, 300);  // let the last repaints through

    const QImage img = dlg.grab().toImage();
    if (!img.save(args[1])) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[1]));
        return 1;
    }
    std::printf("%s: %dx%d, %d samples, readouts %d %d %d\n", qPrintable(args[1]), img.width(), img.height(),
                nSamples, dlg.m_nStaticPressure1, dlg.m_nStaticPressure2, dlg.m_nStaticPressure3);
    dlg.done(0);
    return 0;
}
