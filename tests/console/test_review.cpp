// The review window in the console and on a capture: values at the cursors as the CSV export
// has them, freezing and following while data come, markers by key and from the menu drawn
// where they belong, the units dialog kept where sensor-decode reads it, and Enter or Esc
// asking first while a recording runs.
#include <QCheckBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "byte_source.h"
#include "capture/capture_builder.h"
#include "console_app.h"
#include "console_fixture.h"
#include "decode_tool.h"
#include "frame_decoder.h"
#include "resource_ids.h"
#include "review_chart.h"
#include "review_feature.h"
#include "review_window.h"
#include "sensor_model.h"
#include "support/pty_pair.h"
#include "units_dlg.h"
#include "units_settings.h"

namespace {

// The user's settings of this test process live in a folder of their own.
const std::string g_configHome = [] {
    const std::string dir = (std::filesystem::temp_directory_path() / ("veltrin-review-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    std::atexit([] { std::filesystem::remove_all(std::getenv("XDG_CONFIG_HOME")); });
    return dir;
}();

// A session of the simulated sensor: nFrames at 500 a second in reads of ten, every 37th bad.
Bytes SessionCapture(int nFrames)
{
    CSensorModel model(500, 75, 3);
    CaptureBuilder b;
    b.Sent(0, Command(proto::CODE_START, proto::ADDR_SENSOR));
    Bytes read;
    for (int k = 0; k < nFrames; ++k) {
        uint8_t f[proto::DATA_FRAME_LEN];
        model.NextDataFrame(f);
        if (k % 37 == 36)
            f[proto::DATA_FRAME_LEN - 1] ^= 0x5A;
        read.insert(read.end(), f, f + sizeof f);
        if (k % 10 == 9) {
            b.Recv(10000 + int64_t(k / 10) * 20000, read);
            read.clear();
        }
    }
    return b.Get();
}

std::vector<std::string> CsvRows(const std::string& path)
{
    std::vector<std::string> rows;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line))
        rows.push_back(line);
    return rows;
}

class ReviewTest : public ConsoleTest {
protected:
    ReviewTest() { m_pFeature = m_dlg.findChild<CReviewFeature*>(); }
    // Frames k = firstK.. through the dialog's ring and decoder, a hundred at a time.
    void Frames(int n, int firstK = 0)
    {
        uint16_t w[8];
        for (int k = firstK; k < firstK + n;) {
            std::vector<uint8_t> bytes;
            for (int i = 0; i < 100 && k < firstK + n; ++i, ++k) {
                FrameWords(k, w);
                const Bytes f = DataFrame(w);
                bytes.insert(bytes.end(), f.begin(), f.end());
            }
            m_dlg.m_ring.Append(bytes.data(), static_cast<int>(bytes.size()));
            DecodeFrames(m_dlg.m_ring, m_dlg, &m_dlg.m_decodeStats);
        }
    }
    QString File(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
    CSensorDlg m_dlg;
    CReviewFeature* m_pFeature = nullptr;
};

} // namespace

TEST_F(ReviewTest, CursorValuesOnACaptureAreTheCsvExportsValues)
{
    const std::string cap = File("s.vcap").toStdString();
    const Bytes bytes = SessionCapture(3000);
    std::ofstream(cap, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    const std::string csv = File("s.csv").toStdString();
    std::ostringstream out, err;
    Bytes none;
    CMemorySource in(none);
    ASSERT_EQ(RunSensorDecode({"-q", "--csv", csv, cap}, in, out, err), 0) << err.str();
    const std::vector<std::string> rows = CsvRows(csv);

    CUnitSettings units(nullptr, File("units.conf"));
    QString strError;
    CReviewWindow* pWnd = CReviewWindow::OpenCapture(File("s.vcap"), units, &m_dlg, &strError);
    ASSERT_NE(pWnd, nullptr) << qPrintable(strError);
    EXPECT_FALSE(pWnd->IsLive());
    EXPECT_EQ(pWnd->windowTitle(), QStringLiteral("波形回顾 · s.vcap"));
    CReviewChart* pChart = pWnd->Chart();
    EXPECT_NEAR(pChart->Store()->SampleRate(), 500, 1);
    // CSV columns after sample and time: pressure1..3, pulse1..3, ecg, volume: the chart's order.
    for (const std::string& row : {rows[5], rows[1234], rows.back()}) {
        std::vector<std::string> f;
        std::stringstream fields(row);
        for (std::string x; std::getline(fields, x, ',');)
            f.push_back(x);
        ASSERT_EQ(f.size(), 11u);
        pChart->SetCursor(0, std::stoull(f[0]));
        for (int ch = 0; ch < 8; ++ch)
            EXPECT_EQ(pWnd->CursorValue(ch, 0).toStdString(), f[size_t(ch) + 2]) << row;
    }
    // A frame that failed its check has no row and no value; Δt and its rate between cursors.
    pChart->SetCursor(0, 36);
    EXPECT_EQ(pWnd->CursorValue(6, 0), QStringLiteral("—"));
    pChart->SetCursor(0, 100);
    pChart->SetCursor(1, 500);
    EXPECT_EQ(pWnd->CursorSummary(), QStringLiteral("A 0.200 秒 · B 1.000 秒 · Δt 0.800 秒 · 75.0 次/分"));

    // Unreadable captures are refused with the reader's reason.
    std::ofstream(File("bad.vcap").toStdString()) << "plain text";
    EXPECT_EQ(CReviewWindow::OpenCapture(File("bad.vcap"), units, &m_dlg, &strError), nullptr);
    EXPECT_TRUE(strError.contains(QStringLiteral("not a capture"))) << qPrintable(strError);
    pWnd->close();
}

TEST_F(ReviewTest, FreezeHoldsTheViewWhileDataComeAndFollowReturnsToTheNewest)
{
    EXPECT_TRUE(m_dlg.OnSysCommand(IDM_REVIEW, 0));
    CReviewWindow* pWnd = m_pFeature->Window();
    ASSERT_NE(pWnd, nullptr);
    EXPECT_TRUE(pWnd->isVisible());
    EXPECT_EQ(pWnd->windowModality(), Qt::NonModal);
    CReviewChart* pChart = pWnd->Chart();
    pChart->resize(800, 600);
    Frames(6000);
    pChart->Refresh();
    ASSERT_TRUE(pChart->Following());
    EXPECT_EQ(pChart->ViewStart() + pChart->ViewSpan(), 6000);
    EXPECT_EQ(pChart->ViewSpan(), 5000);  // 10 s at the rate assumed until one is measured

    QTest::keyClick(pChart, Qt::Key_Space);
    EXPECT_FALSE(pChart->Following());
    EXPECT_FALSE(pWnd->FollowButton()->isChecked());
    const double start = pChart->ViewStart();
    Frames(3000, 6000);
    pChart->Refresh();
    EXPECT_EQ(pChart->ViewStart(), start);
    // Scrolling back freezes too; following again jumps to the newest sample.
    pWnd->FollowButton()->click();
    EXPECT_TRUE(pChart->Following());
    EXPECT_EQ(pChart->ViewStart() + pChart->ViewSpan(), 9000);
    QTest::keyClick(pChart, Qt::Key_Left);
    EXPECT_FALSE(pChart->Following());
    EXPECT_EQ(pChart->ViewStart(), 9000 - 5000 - 500);
    // Zooming keeps the sample under the mouse where it is.
    const double under = pChart->IndexOfX(300);
    pChart->ZoomTime(0.5, 300);
    EXPECT_NEAR(pChart->IndexOfX(300), under, 1e-6);
    EXPECT_EQ(pChart->ViewSpan(), 2500);
    // A hidden channel gives its lane to the others.
    const int nHeight = pChart->LaneOfChannel(0).height;
    pWnd->ChannelBox(7)->setChecked(false);
    EXPECT_EQ(pChart->LaneOfChannel(7).height, 0);
    EXPECT_GT(pChart->LaneOfChannel(0).height, nHeight);
}

TEST_F(ReviewTest, MarkersByKeyAndFromTheMenuAreDrawnAtTheirSample)
{
    m_dlg.OnSysCommand(IDM_REVIEW, 0);
    CReviewWindow* pWnd = m_pFeature->Window();
    CReviewChart* pChart = pWnd->Chart();
    pChart->resize(900, 500);
    Frames(2000);
    QTest::keyClick(pChart, Qt::Key_M);
    Frames(1000, 2000);
    // From the background menu, with a text; a cancelled box adds nothing.
    ScopedModalHook answer([](QDialog& box) {
        auto* pInput = qobject_cast<QInputDialog*>(&box);
        if (!pInput)
            return 0;
        pInput->setTextValue(QStringLiteral(" 深呼吸 "));
        return int(QDialog::Accepted);
    });
    m_dlg.OnSysCommand(IDM_ADD_MARKER, 0);
    {
        ScopedModalHook cancel([](QDialog&) { return int(QDialog::Rejected); });
        m_dlg.OnSysCommand(IDM_ADD_MARKER, 0);
    }
    const auto& markers = m_pFeature->Store().Markers();
    ASSERT_EQ(markers.size(), 2u);
    EXPECT_EQ(markers[0].index, 1999u);
    EXPECT_EQ(markers[0].text, "");
    EXPECT_EQ(markers[1].index, 2999u);
    EXPECT_EQ(markers[1].text, "深呼吸");

    pChart->Refresh();
    pChart->SetCursor(0, 2500);
    const QImage img = pChart->grab().toImage();
    const QRect plot = pChart->PlotRect();
    auto columnHas = [&](double index, const QColor& c) {
        const int x = int(std::lround(pChart->XOfIndex(index)));
        for (int y = plot.top() + 1; y < plot.bottom(); ++y)
            if (img.pixelColor(x, y) == c)
                return true;
        return false;
    };
    EXPECT_TRUE(columnHas(1999, QColor(0xE0, 0x80, 0x00)));
    EXPECT_TRUE(columnHas(2500, QColor(0xD0, 0x20, 0x90)));
    EXPECT_FALSE(columnHas(2250, QColor(0xE0, 0x80, 0x00)));
    // The ECG lane holds its trace and nothing of it strays outside.
    const reviewgeo::Lane ecg = pChart->LaneOfChannel(6);
    int nInside = 0, nOutside = 0;
    for (int y = plot.top(); y < plot.bottom(); ++y)
        for (int x = plot.left() + 1; x < plot.right(); ++x)
            if (img.pixelColor(x, y) == QColor(0xC8, 0x1F, 0x2E))
                ++(y >= ecg.top && y < ecg.top + ecg.height ? nInside : nOutside);
    EXPECT_GT(nInside, 100);
    EXPECT_EQ(nOutside, 0);
}

TEST_F(ReviewTest, UnitsAreKeptWhereSensorDecodeReadsThem)
{
    auto* pUnits = m_dlg.findChild<CUnitSettings*>();
    ASSERT_NE(pUnits, nullptr);
    EXPECT_TRUE(pUnits->Units().AllCounts());
    m_dlg.OnSysCommand(IDM_REVIEW, 0);
    CReviewWindow* pWnd = m_pFeature->Window();
    Frames(10);
    pWnd->Chart()->SetCursor(0, 3);

    // A bad scale is refused and the box stays; then a good one is kept.
    std::vector<QString> warnings;
    ScopedModalHook answer([&](QDialog& box) {
        if (auto* pBox = qobject_cast<QMessageBox*>(&box)) {
            warnings.push_back(pBox->text());
            return 0;
        }
        auto* pDlg = qobject_cast<CUnitsDlg*>(&box);
        if (!pDlg)
            return 0;
        pDlg->NameEdit(0)->setText(QStringLiteral("mmHg"));
        pDlg->ScaleEdit(0)->setText(QStringLiteral("0"));
        pDlg->accept();
        EXPECT_EQ(pDlg->result(), 0);
        pDlg->ScaleEdit(0)->setText(QStringLiteral("12.5"));
        pDlg->NameEdit(2)->setText(QStringLiteral("g"));
        pDlg->ScaleEdit(2)->setText(QStringLiteral("4"));
        pDlg->accept();
        return pDlg->result();
    });
    m_dlg.OnSysCommand(IDM_UNITS, 0);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].contains(QStringLiteral("静压1"))) << qPrintable(warnings[0]);
    EXPECT_EQ(units::FormatUnits(pUnits->Units()), "1=mmHg:12.5,2=counts:1,3=g:4");

    // The open window follows at once: names and values in the unit.
    uint16_t w[8];
    FrameWords(3, w);
    EXPECT_EQ(pWnd->CursorValue(0, 0).toStdString(), units::FormatValue(w[proto::WORD_STATIC1] / 12.5));
    EXPECT_EQ(pWnd->CursorValue(2, 0).toStdString(), units::FormatValue(w[proto::WORD_STATIC3] / 4.0));
    EXPECT_EQ(pWnd->CursorValue(3, 0), QString::number(w[proto::WORD_PULSE1]));
    EXPECT_EQ(pWnd->Chart()->ChannelTitle(0), QStringLiteral("静压1 (mmHg)"));
    // What QSettings wrote reads the same without Qt, and again in a new console.
    EXPECT_EQ(units::DefaultSettingsFile(), g_configHome + "/Veltrin/Veltrin.conf");
    units::PressureUnits read;
    std::string problem;
    ASSERT_TRUE(units::ReadUnitsFromSettingsFile(units::DefaultSettingsFile(), read, &problem)) << problem;
    EXPECT_EQ(units::FormatUnits(read), "1=mmHg:12.5,2=counts:1,3=g:4");
    CSensorDlg next;
    EXPECT_EQ(units::FormatUnits(next.findChild<CUnitSettings*>()->Units()), "1=mmHg:12.5,2=counts:1,3=g:4");
    pUnits->Set(units::PressureUnits());
}

TEST_F(ReviewTest, EnterOrEscWhileRecordingAsksFirst)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    CMSComm::MapPort(1, QString::fromStdString(pty.SlavePath()));
    auto dlg = std::make_unique<CSensorDlg>();
    dlg->show();
    qobject_cast<QPushButton*>(dlg->GetDlgItem(IDC_BTN_OPEN))->click();
    ASSERT_TRUE(dlg->m_comm.GetPortOpen());
    ASSERT_TRUE(dlg->m_record.Start(File("rec.vcap")));
    struct Row {
        Qt::Key key;
        int answer;
        bool ends;
    } rows[] = {{Qt::Key_Return, QMessageBox::No, false}, {Qt::Key_Escape, QMessageBox::No, false},
                {Qt::Key_Escape, QMessageBox::Yes, true}};
    for (const Row& r : rows) {
        std::vector<QString> asked;
        ScopedModalHook answer([&](QDialog& box) {
            if (auto* pBox = qobject_cast<QMessageBox*>(&box))
                asked.push_back(pBox->text());
            return r.answer;
        });
        dlg->m_editCoef1->setFocus();
        QTest::keyClick(dlg->m_editCoef1, r.key);
        ASSERT_EQ(asked.size(), 1u) << r.key;
        EXPECT_EQ(asked[0], QStringLiteral("正在记录。停止记录并退出吗？"));
        EXPECT_EQ(dlg->isVisible(), !r.ends);
        EXPECT_EQ(dlg->m_nDestroyCount, r.ends ? 1 : 0);
        if (!r.ends) {
            EXPECT_TRUE(dlg->m_record.IsActive());
        }
    }
    dlg.reset();
    CMSComm::ClearPortMap();
}

TEST(ReviewOptions, ReviewGoesWithoutTheSerialPath)
{
    const QStringList refused[] = {
        {"--review", "a.vcap", "--demo"},
        {"--review", "a.vcap", "--replay", "b.vcap"},
        {"--review", "a.vcap", "--record", "b.vcap"},
        {"--review", "a.vcap", "--com", "1=/dev/ttyUSB0"},
        {"--review", "a.vcap", "--auto-observe"},
        {"--review", ""},
    };
    for (const QStringList& args : refused)
        EXPECT_FALSE(ParseConsoleArguments(QStringList{"Veltrin"} + args).strError.isEmpty()) << qPrintable(args.join(' '));
    const ConsoleOptions ok = ParseConsoleArguments({"Veltrin", "--review", "a.vcap", "--screenshot", "x.png", "--after", "10"});
    EXPECT_TRUE(ok.strError.isEmpty()) << qPrintable(ok.strError);
    EXPECT_EQ(ok.strReview, QStringLiteral("a.vcap"));
}

TEST_F(ReviewTest, MarkersAndTheSettingsAtStartGoIntoTheRecording)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    CMSComm::MapPort(1, QString::fromStdString(pty.SlavePath()));
    m_dlg.m_editCoef2->setText(QStringLiteral("120"));
    m_dlg.m_nGainVolume = 6;
    const std::string cap = File("m.vcap").toStdString();
    ASSERT_TRUE(m_dlg.m_record.Start(File("m.vcap")));
    qobject_cast<QPushButton*>(m_dlg.GetDlgItem(IDC_BTN_OPEN))->click();
    ASSERT_TRUE(m_dlg.m_comm.GetPortOpen());
    m_dlg.OnSysCommand(IDM_REVIEW, 0);
    CReviewChart* pChart = m_pFeature->Window()->Chart();
    auto send = [&](int from, int n) {
        Bytes bytes;
        uint16_t w[8];
        for (int k = from; k < from + n; ++k) {
            FrameWords(k, w);
            const Bytes f = DataFrame(w);
            bytes.insert(bytes.end(), f.begin(), f.end());
        }
        ASSERT_TRUE(pty.Write(bytes));
        ASSERT_TRUE(WaitUntil([&] { return m_pFeature->Store().End() == uint64_t(from + n); }));
    };
    send(0, 50);
    QTest::keyClick(pChart, Qt::Key_M);
    send(50, 50);
    {
        ScopedModalHook answer([](QDialog& box) {
            qobject_cast<QInputDialog*>(&box)->setTextValue(QStringLiteral("按压加深"));
            return int(QDialog::Accepted);
        });
        m_dlg.OnSysCommand(IDM_ADD_MARKER, 0);
    }
    send(100, 20);
    qobject_cast<QPushButton*>(m_dlg.GetDlgItem(IDC_BTN_OPEN))->click();  // closes; the recording ends
    ASSERT_FALSE(m_dlg.m_record.IsActive());
    CMSComm::ClearPortMap();

    std::ostringstream out, err;
    Bytes none;
    CMemorySource in(none);
    ASSERT_EQ(RunSensorDecode({"--dump", cap}, in, out, err), 0) << err.str();
    const std::string dump = out.str();
    EXPECT_NE(dump.find("# at start: gain pulse 1 = 3, gain pulse 2 = 3, gain pulse 3 = 3, gain ECG = 3, gain volume = 6, "
                        "coefficient 1 = 100, coefficient 2 = 120, coefficient 3 = 100\n"),
              std::string::npos)
        << dump;
    EXPECT_NE(dump.find(" note \n"), std::string::npos) << dump;
    EXPECT_NE(dump.find(" note 按压加深\n"), std::string::npos) << dump;
    // The notes land at the samples the review window marked.
    const std::string notes = File("m-notes.csv").toStdString();
    ASSERT_EQ(RunSensorDecode({"-q", "--notes", notes, cap}, in, out, err), 0) << err.str();
    const std::vector<std::string> rows = CsvRows(notes);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].substr(rows[0].find(',')), ",49,");
    EXPECT_EQ(rows[1].substr(rows[1].find(',')), ",99,按压加深");
    // Read back for review, the markers are where they were set.
    review::CaptureHistory h;
    std::string strError;
    ASSERT_TRUE(review::LoadCaptureHistory(cap, h, &strError)) << strError;
    ASSERT_EQ(h.pStore->Markers().size(), 2u);
    EXPECT_EQ(h.pStore->Markers()[0].index, 49u);
    EXPECT_EQ(h.pStore->Markers()[1].text, "按压加深");
}
