// The "脉图分析" window in the console: on the background menu beside "信号与链路...", not modal,
// "—" before any beat; then a capture of the simulated sensor sweeping its hold-down, replayed
// through the console's own receive path at its recorded times, shown exactly as the analysis
// library gives it (an analysis of the test's own fed the same frames), drawn, copied,
// restarted and saved.
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>

#include "capture_reader.h"
#include "console_app.h"
#include "console_fixture.h"
#include "frame_decoder.h"
#include "link_monitor.h"
#include "pulse_window.h"
#include "resource_ids.h"
#include "signal_link.h"
#include "sim_capture.h"
#include "support/pty_pair.h"
#include "units_settings.h"

namespace {

using namespace analysis;

// The units a test sets are kept in a folder of this process's own, not in the user's settings.
const std::string g_configHome = [] {
    const std::string dir = (std::filesystem::temp_directory_path() / ("veltrin-pulse-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    std::atexit([] { std::filesystem::remove_all(std::getenv("XDG_CONFIG_HOME")); });
    return dir;
}();

class PulseWindowTest : public ConsoleTest {
protected:
    PulseWindowTest()
    {
        CMSComm::MapPort(1, QString::fromStdString(m_pty.SlavePath()));
        m_pFeature = m_dlg.findChild<CSignalLinkFeature*>();
    }
    ~PulseWindowTest() override { CMSComm::ClearPortMap(); }

    CPulseWindow* OpenWindow()
    {
        EXPECT_TRUE(m_dlg.OnSysCommand(IDM_PULSE_DIAGRAM, 0));
        return m_pFeature->PulseWindow();
    }
    // A capture of `seconds` of the simulated sensor at 250 frames a second sweeping its
    // hold-down over 20 s, its data records replayed at their times: through the console, and
    // into the test's own monitor.
    void Replay(double seconds)
    {
        qobject_cast<QPushButton*>(m_dlg.GetDlgItem(IDC_BTN_OPEN))->click();
        ASSERT_TRUE(m_dlg.m_comm.GetPortOpen());
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("sweep.vcap")).toStdString();
        SimCaptureOptions opts;
        opts.rate = 250;
        opts.bpm = 80;
        opts.seed = 5;
        opts.seconds = seconds;
        opts.pulse.sweepS = 20;
        std::string error;
        ASSERT_TRUE(WriteSimulatedCapture(path, opts, &error)) << error;
        std::FILE* pFile = std::fopen(path.c_str(), "rb");
        ASSERT_NE(pFile, nullptr);
        CFileSource source(pFile);
        capture::CCaptureReader reader(source);
        ASSERT_TRUE(reader.ReadHeader()) << reader.Error();
        std::vector<capture::CaptureRecord> data;
        for (capture::CaptureRecord rec; reader.Next(rec) == capture::ReadResult::Record;)
            if (rec.dir == capture::Direction::Received)
                data.push_back(rec);
        std::fclose(pFile);
        ASSERT_GT(data.size(), 2u);
        // The information reply before the data and the stop acknowledgement after it are the
        // console's own business.
        const uint64_t t0 = m_platform.GetMicroseconds();
        m_own.PortOpened(t0);
        for (size_t i = 1; i + 1 < data.size(); ++i) {
            m_platform.m_dwTick = static_cast<uint32_t>((t0 + static_cast<uint64_t>(data[i].timeUs)) / 1000);
            m_dlg.m_ring.Append(data[i].bytes.data(), static_cast<int>(data[i].bytes.size()));
            DecodeFrames(m_dlg.m_ring, m_dlg, &m_dlg.m_decodeStats);
            m_ownRing.Append(data[i].bytes.data(), static_cast<int>(data[i].bytes.size()));
            DecodeFrames(m_ownRing, m_ownSink);
        }
    }
    // Whether the columns of the widget's picture around x (one pixel either side, for the
    // rounding) hold the colour.
    static bool ColumnHas(QWidget* pWidget, double x, const QColor& color)
    {
        const QImage img = pWidget->grab().toImage();
        for (int col = static_cast<int>(x) - 1; col <= static_cast<int>(x) + 1; ++col)
            for (int y = 0; y < img.height(); ++y)
                if (img.pixelColor(std::clamp(col, 0, img.width() - 1), y) == color)
                    return true;
        return false;
    }

    // The test's own analysis of the same frames at the same times.
    struct OwnSink : IFrameSink {
        OwnSink(CLinkMonitor& monitor, IPlatform& platform) : m_monitor(monitor), m_platform(platform) {}
        void OnInfoReply(const uint8_t*) override {}
        void OnStopAck() override {}
        void OnDateReply(const uint8_t*) override {}
        void OnDataFrame(const uint8_t block[17], bool checkOk) override
        {
            m_monitor.DataFrame(m_platform.GetMicroseconds(), block, checkOk);
        }
        CLinkMonitor& m_monitor;
        IPlatform& m_platform;
    };

    PtyPair m_pty;
    CSensorDlg m_dlg;
    CSignalLinkFeature* m_pFeature = nullptr;
    CLinkMonitor m_own;
    CByteRing m_ownRing;
    OwnSink m_ownSink{m_own, m_platform};
};

} // namespace

TEST_F(PulseWindowTest, OnTheMenuBesideSignalAndLinkNotModalUnknownAtFirst)
{
#ifndef _WIN32
    const QList<QAction*> acts = m_dlg.SystemMenu()->actions();
    int nLink = -1, nPulse = -1;
    for (int i = 0; i < acts.size(); ++i) {
        nLink = acts[i]->data().toUInt() == IDM_SIGNAL_LINK ? i : nLink;
        nPulse = acts[i]->data().toUInt() == IDM_PULSE_DIAGRAM ? i : nPulse;
    }
    ASSERT_GE(nLink, 0);
    EXPECT_EQ(nPulse, nLink + 1);
    EXPECT_EQ(acts[nPulse]->text(), QStringLiteral("脉图分析..."));
    EXPECT_EQ(acts.last()->data().toUInt(), unsigned(IDM_ABOUTBOX));
#endif
    CPulseWindow* pWnd = OpenWindow();
    ASSERT_NE(pWnd, nullptr);
    EXPECT_TRUE(pWnd->isVisible());
    EXPECT_TRUE(pWnd->isWindow());
    EXPECT_EQ(pWnd->windowModality(), Qt::NonModal);
    EXPECT_EQ(pWnd->windowTitle(), QStringLiteral("脉图分析"));
    for (int c = 0; c < PULSE_CHANNELS; ++c)
        for (const char* pszRow : {"h1 主波幅度", "t4 收缩期（毫秒）", "谐波 C10", "最佳取法压力", "浮沉系数", "脉位"})
            EXPECT_EQ(pWnd->ValueOf(QString::fromUtf8(pszRow), c), QStringLiteral("—")) << pszRow;
    pWnd->close();
    EXPECT_FALSE(pWnd->isVisible());
    EXPECT_EQ(OpenWindow(), pWnd);  // the same window again
    m_dlg.done(0);
}

TEST_F(PulseWindowTest, ShowsTheLibrarysFiguresOfAReplayedSweep)
{
    Replay(66);
    CPulseWindow* pWnd = OpenWindow();
    ASSERT_NE(pWnd, nullptr);
    pWnd->Refresh();
    const uint64_t now = m_platform.GetMicroseconds();
    int nKnownBest = 0;
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        const PulseDiagram d = m_own.Analysis().PulseDiagramOf(c, now);
        const PressureCurve curve = m_own.Analysis().PressureCurveOf(c);
        const auto shown = [&](const char* pszRow) { return pWnd->ValueOf(QString::fromUtf8(pszRow), c); };
        const auto figure = [&](int id) {
            return d.median[id] ? QString::number(*d.median[id], 'f', FigureInfo(id).decimals) : QStringLiteral("—");
        };
        EXPECT_EQ(shown("h1 主波幅度"), figure(PF_H1)) << c;
        EXPECT_EQ(shown("h4/h1 降中峡"), figure(PF_H4_H1)) << c;
        EXPECT_EQ(shown("t5 舒张期（毫秒）"), figure(PF_T5)) << c;
        EXPECT_EQ(shown("谐波 C3"), figure(PF_C3)) << c;
        EXPECT_EQ(shown("搏数（计入/有效/剔除）"), QStringLiteral("%1 / %2 / %3").arg(d.used).arg(d.beats).arg(d.rejected));
        EXPECT_EQ(shown("最佳取法压力"), curve.bestPressure ? QString::number(*curve.bestPressure, 'f', 0) : QStringLiteral("—"));
        EXPECT_EQ(shown("浮沉系数"), curve.depth ? QString::number(*curve.depth, 'f', 3) : QStringLiteral("—"));
        EXPECT_EQ(shown("脉位"), CPulseWindow::PositionText(curve.position, curve.peakEnd));

        // Drawn: the averaged beat where there is one, the best pressure where it is known.
        CBeatPlot* pBeat = pWnd->BeatPlot(c);
        const QRectF beatData = pBeat->DataRange();
        if (d.averaged.periodMs > 0) {
            const QPointF peak = PlotPoint(beatData, pBeat->PlotArea(), d.averaged.points.t1, d.averaged.points.h1);
            EXPECT_TRUE(ColumnHas(pBeat, peak.x(), CBeatPlot::MARK_COLOR)) << c;
            EXPECT_TRUE(ColumnHas(pBeat, pBeat->width() / 4, CBeatPlot::WAVE_COLOR)) << c;
        }
        CPressurePlot* pCurve = pWnd->PressurePlot(c);
        if (curve.bestPressure) {
            ++nKnownBest;
            const QPointF best = PlotPoint(pCurve->DataRange(), pCurve->PlotArea(), *curve.bestPressure, 0);
            EXPECT_TRUE(ColumnHas(pCurve, best.x(), CPressurePlot::BEST_COLOR)) << c;
        }
    }
    EXPECT_GE(nKnownBest, 2);  // a minute of 80 beats a minute covers most of the bins

    // Copy: the table as tab-separated text.
    for (QPushButton* pButton : pWnd->findChildren<QPushButton*>())
        if (pButton->text() == QStringLiteral("复制"))
            pButton->click();
    const QString strCopied = QApplication::clipboard()->text();
    EXPECT_EQ(strCopied, pWnd->TableText());
    EXPECT_TRUE(strCopied.startsWith(QStringLiteral("\t通道1\t通道2\t通道3\n"))) << strCopied.left(40).toStdString();
    EXPECT_TRUE(strCopied.contains(QStringLiteral("\n最佳取法压力\t"))) << strCopied.toStdString();

    // Save image: the window as a PNG, where the save box says.
    QTemporaryDir dir;
    const QString strPng = dir.filePath(QStringLiteral("pulse.png"));
    ScopedModalHook answer([&](QDialog& box) {
        auto* pFiles = qobject_cast<QFileDialog*>(&box);
        if (!pFiles)
            return 0;
        pFiles->selectFile(strPng);
        return int(QDialog::Accepted);
    });
    for (QPushButton* pButton : pWnd->findChildren<QPushButton*>())
        if (pButton->text() == QStringLiteral("保存图像..."))
            pButton->click();
    const QImage saved(strPng);
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.size(), pWnd->size() * pWnd->devicePixelRatio());

    // 重新测量: the curves start again, the pulse diagram goes on.
    const QString strH1 = pWnd->ValueOf(QStringLiteral("h1 主波幅度"), 1);
    for (QPushButton* pButton : pWnd->findChildren<QPushButton*>())
        if (pButton->text() == QStringLiteral("重新测量"))
            pButton->click();
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        EXPECT_TRUE(m_pFeature->Monitor().Analysis().PressurePointsOf(c).empty());
        EXPECT_EQ(pWnd->ValueOf(QStringLiteral("最佳取法压力"), c), QStringLiteral("—"));
    }
    EXPECT_EQ(pWnd->ValueOf(QStringLiteral("h1 主波幅度"), 1), strH1);
    m_dlg.done(0);
}

TEST_F(PulseWindowTest, BestPressureFollowsTheUnitsSet)
{
    Replay(66);
    CPulseWindow* pWnd = OpenWindow();
    auto* pUnits = m_dlg.findChild<CUnitSettings*>();
    ASSERT_TRUE(pWnd && pUnits);
    // The unit in the label when the channels share it, else after each value; counts again last.
    const struct {
        const char* units;
        const char* label;
        const char* after[PULSE_CHANNELS];
    } cases[] = {
        {"1=mmHg:12.5,2=mmHg:12.5,3=mmHg:12.5", "最佳取法压力（mmHg）", {"", "", ""}},
        {"1=kPa:93.75,3=g:3", "最佳取法压力", {" kPa", " 计数", " g"}},
        {"1=counts:1", "最佳取法压力", {"", "", ""}},
    };
    for (const auto& c : cases) {
        units::PressureUnits u;
        ASSERT_TRUE(units::ParseUnits(c.units, u) && pUnits->Set(u));
        for (int ch = 0; ch < PULSE_CHANNELS; ++ch) {
            const std::optional<double> best = m_own.Analysis().PressureCurveOf(ch).bestPressure;
            EXPECT_EQ(pWnd->ValueOf(QString::fromUtf8(c.label), ch),
                      best ? QString::number(*best / u.ch[ch].scale, 'f', u.ch[ch].Digits(0)) + QString::fromUtf8(c.after[ch])
                           : QStringLiteral("—"))
                << c.units << ", channel " << ch + 1;
        }
        EXPECT_TRUE(pWnd->TableText().contains(QStringLiteral("\n%1\t").arg(QString::fromUtf8(c.label)))) << c.units;
    }
    m_dlg.done(0);
}

TEST(PulseWindowDemo, DemoSweepTakesSecondsAndNeedsTheDemo)
{
    const auto parse = [](const QStringList& args) {
        return ParseConsoleArguments(QStringList{QStringLiteral("Veltrin")} + args);
    };
    const ConsoleOptions o = parse({"--demo", "--demo-sweep", "30"});
    EXPECT_TRUE(o.strError.isEmpty()) << qPrintable(o.strError);
    EXPECT_EQ(o.dDemoSweepS, 30.0);
    EXPECT_EQ(parse({"--demo"}).dDemoSweepS, 0.0);
    for (const QStringList& args : {QStringList{"--demo-sweep", "30"}, QStringList{"--demo", "--demo-sweep", "4"},
                                    QStringList{"--demo", "--demo-sweep", "601"}, QStringList{"--demo", "--demo-sweep", "slow"}})
        EXPECT_FALSE(parse(args).strError.isEmpty()) << qPrintable(args.join(' '));
}
