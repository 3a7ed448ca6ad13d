// The session report: where its strip is taken (scripted seconds), the page geometry, and the
// PDF of simulator captures read back with poppler (pdftotext, pdftoppm, pdffonts): two pages,
// the fonts embedded, every figure of sensor-decode --stats in its place, pages that render and
// are not blank, "—" where the session is too short; bad captures and unwritable places
// refused with nothing left behind.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <map>
#include <sstream>

#include "byte_source.h"
#include "channel_units.h"
#include "decode_tool.h"
#include "report_layout.h"
#include "report_pdf.h"
#include "sim_capture.h"

namespace {

using report::SecondStats;

// Runs a poppler tool; its standard output, and the exit code in *pExit.
QString Tool(const QString& strProgram, const QStringList& args, int* pExit = nullptr)
{
    QProcess proc;
    proc.start(strProgram, args);
    if (!proc.waitForFinished(60000)) {
        ADD_FAILURE() << qPrintable(strProgram) << " did not run: " << qPrintable(proc.errorString())
                      << " (scripts/setup installs poppler-utils)";
        return QString();
    }
    if (pExit)
        *pExit = proc.exitCode();
    return QString::fromUtf8(proc.readAllStandardOutput());
}

std::map<std::string, std::string> Stats(const QString& strCapture, const std::string& strUnits = std::string())
{
    CMemorySource none(nullptr, 0);
    std::ostringstream out, err;
    std::vector<std::string> args{"--stats", QFile::encodeName(strCapture).toStdString()};
    if (!strUnits.empty())
        args.insert(args.begin(), {"--units", strUnits});
    EXPECT_EQ(RunSensorDecode(args, none, out, err), 0) << err.str();
    std::map<std::string, std::string> f;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);)
        f[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    return f;
}

QString Capture(const QTemporaryDir& dir, const char* name, double seconds, double faults)
{
    SimCaptureOptions opts;
    opts.seconds = seconds;
    opts.corrupt = opts.garbage = faults;
    opts.hrvLfMs = 40;
    opts.hrvHfMs = 30;
    opts.seed = 7;
    const QString strPath = dir.filePath(QString::fromLatin1(name));
    std::string error;
    EXPECT_TRUE(WriteSimulatedCapture(QFile::encodeName(strPath).toStdString(), opts, &error)) << error;
    return strPath;
}

QString MakeReport(const QString& strCapture, const QString& strOut, const units::PressureUnits& u = {})
{
    report::ReportFields fields;
    fields.strName = QStringLiteral("张三");
    QString strError;
    EXPECT_TRUE(report::WriteSessionReport(strCapture, strOut, fields, &strError, {}, u)) << qPrintable(strError);
    return Tool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), strOut, QStringLiteral("-")});
}

// A label followed by the texts given, space apart, somewhere in text.
bool HasRow(const QString& strText, const QString& strLabel, const QStringList& values)
{
    QString strPattern = QRegularExpression::escape(strLabel);
    for (const QString& v : values)
        strPattern += QStringLiteral("\\s+") + QRegularExpression::escape(v);
    return strText.contains(QRegularExpression(strPattern + QStringLiteral("(\\s|$)")));
}

// Seconds of one run with frames, their static pressures level(s) all through each second.
std::vector<SecondStats> Seconds(int from, int to, int run, double (*level)(int))
{
    std::vector<SecondStats> v;
    for (int s = from; s < to; ++s) {
        SecondStats st;
        st.nSecond = s;
        st.nRun = run;
        st.nFrames = 500;
        for (int c = 0; c < 3; ++c) {
            st.sum[c] = 500 * level(s);
            st.sumSq[c] = 500 * level(s) * level(s);
        }
        v.push_back(st);
    }
    return v;
}

double RampUntil15(int s) { return s < 15 ? 1000 + 20 * s : 1300; }
double Steady(int) { return 1200; }

} // namespace

TEST(Report, StripIsTheSteadiestFaultlessStretchOfOneRun)
{
    struct Case {
        const char* name;
        std::vector<SecondStats> seconds;
        int64_t nFirst;
        bool bClean;
    } cases[] = {
        {"pressed down, then held", Seconds(0, 40, 1, RampUntil15), 15, true},
        {"a failed frame in the held part", [] { auto v = Seconds(0, 40, 1, RampUntil15); v[17].nFaults = 1; return v; }(), 18, true},
        {"a steadier first run too short for a strip",
         [] { auto v = Seconds(0, 7, 1, Steady), w = Seconds(7, 30, 2, RampUntil15); v.insert(v.end(), w.begin(), w.end()); return v; }(),
         15, true},
        {"six seconds in all", Seconds(0, 6, 1, Steady), 0, false},
    };
    for (const Case& c : cases) {
        const auto choice = report::ChooseStrip(c.seconds);
        ASSERT_TRUE(choice) << c.name;
        EXPECT_EQ(choice->nFirstSecond, c.nFirst) << c.name;
        EXPECT_EQ(choice->bClean, c.bClean) << c.name;
    }
    EXPECT_FALSE(report::ChooseStrip({}));
}

TEST(Report, PageGeometryAndScales)
{
    const report::PageTwoLayout l = report::LayoutPageTwo();
    std::vector<QRectF> boxes{l.heartRate, l.strip};
    for (int ch = 0; ch < analysis::PULSE_CHANNELS; ++ch)
        boxes.insert(boxes.end(), {l.beat[ch], l.curve[ch]});
    for (int k = 0; k < report::STRIP_TRACES; ++k) {
        const QRectF lane = report::StripLane(l.strip, k);
        EXPECT_TRUE(l.strip.contains(lane)) << k;
        if (k > 0) {
            EXPECT_FALSE(lane.intersects(report::StripLane(l.strip, k - 1))) << k;
        }
    }
    for (size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_TRUE(report::ContentRect().contains(boxes[i])) << i;
        EXPECT_GT(boxes[i].height(), 300) << i;
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(boxes[i].intersects(boxes[j])) << i << " overlaps " << j;
    }
    const struct {
        double lo, hi;
        int n;
        double step;
    } ticks[] = {{0, 10, 5, 2}, {0, 7, 10, 1}, {60, 80, 4, 5}, {0, 0.3, 3, 0.1}, {5, 5, 4, 1}, {0, 95, 10, 10}};
    for (const auto& t : ticks)
        EXPECT_DOUBLE_EQ(report::TickStep(t.lo, t.hi, t.n), t.step) << t.lo << ".." << t.hi;
    const auto medians = report::WindowMedians({{1, 70}, {2, 80}, {3, 90}, {22, 60}}, 10);
    ASSERT_EQ(medians.size(), 2u);
    EXPECT_EQ(std::make_pair(medians[0].x, medians[0].y), std::make_pair(5.0, 80.0));
    EXPECT_EQ(std::make_pair(medians[1].x, medians[1].y), std::make_pair(25.0, 60.0));
    EXPECT_EQ(report::ValueRange({3, 3}, 10), std::make_pair(-2.0, 8.0));
    EXPECT_EQ(report::ValueRange({1, 40, 7}, 10), std::make_pair(1.0, 40.0));
    EXPECT_EQ(report::FigureText(std::nullopt), QStringLiteral("\u2014"));
    EXPECT_EQ(report::FigureText(1.804, 2), QStringLiteral("1.80"));
    EXPECT_EQ(report::DurationText(3725), QStringLiteral("1:02:05"));
    EXPECT_EQ(report::StartText("2025-03-01T09:30:00.125+01:00"), QStringLiteral("2025-03-01 09:30:00 (UTC+01:00)"));
}

TEST(Report, PdfOfASimulatorCaptureHoldsTheFiguresOfStats)
{
    QTemporaryDir dir;
    const QString strCapture = Capture(dir, "long.vcap", 150, 0.02);
    const QString strPdf = dir.filePath(QStringLiteral("long.pdf"));
    const QString strText = MakeReport(strCapture, strPdf);
    const auto stats = Stats(strCapture);

    EXPECT_TRUE(Tool(QStringLiteral("pdfinfo"), {strPdf}).contains(QRegularExpression(QStringLiteral("Pages:\\s+2\\n"))));
    // Every font in the file is embedded (the column after the encoding says yes).
    const QStringList fonts = Tool(QStringLiteral("pdffonts"), {strPdf}).split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
    EXPECT_FALSE(fonts.isEmpty());
    const QRegularExpression columns(QStringLiteral("\\s(yes|no)\\s+(yes|no)\\s+(yes|no)\\s+\\d+\\s+\\d+$"));
    for (const QString& line : fonts)
        EXPECT_EQ(columns.match(line).captured(1), QStringLiteral("yes")) << qPrintable(line);
    EXPECT_TRUE(strText.contains(QStringLiteral("脉象检测报告")));
    EXPECT_TRUE(strText.contains(QStringLiteral("张三")));
    EXPECT_TRUE(strText.contains(QStringLiteral("5 分钟")));

    // Each label followed by the figures --stats gives, "—" for unknown.
    const struct {
        const char* label;
        std::vector<std::string> keys;
    } rows[] = {
        {"心率（次/分）", {"heart_rate_bpm"}},
        {"脉率（次/分）", {"pulse_rate_bpm_1", "pulse_rate_bpm_2", "pulse_rate_bpm_3"}},
        {"脉搏传导时间（毫秒）", {"ptt_ms_1", "ptt_ms_2", "ptt_ms_3"}},
        {"NN 间期数", {"nn_count"}}, {"SDNN（毫秒）", {"sdnn_ms"}}, {"RMSSD（毫秒）", {"rmssd_ms"}},
        {"pNN50（%）", {"pnn50_pct"}}, {"LF（毫秒²）", {"lf_ms2"}}, {"HF（毫秒²）", {"hf_ms2"}}, {"LF/HF", {"lf_hf"}},
        {"数据帧", {"frames"}}, {"帧率（帧/秒）", {"frame_rate_hz"}}, {"校验错误", {"badcheck"}},
        {"跳过的字节", {"skipped_bytes"}},
    };
    for (const auto& row : rows) {
        QString strPattern = QRegularExpression::escape(QString::fromUtf8(row.label));
        for (const std::string& key : row.keys) {
            ASSERT_TRUE(stats.count(key)) << key;
            const std::string& v = stats.at(key);
            EXPECT_NE(v, "unknown") << key;  // a session long enough for every figure
            strPattern += QStringLiteral("\\s+") + QRegularExpression::escape(QString::fromStdString(v));
        }
        EXPECT_TRUE(strText.contains(QRegularExpression(strPattern + QStringLiteral("(\\s|$)")))) << qPrintable(strPattern);
    }

    // Both pages render, each with ink on a good part of it.
    Tool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("20"), QStringLiteral("-png"), strPdf, dir.filePath(QStringLiteral("page"))});
    for (int nPage = 1; nPage <= 2; ++nPage) {
        const QImage img(dir.filePath(QStringLiteral("page-%1.png").arg(nPage)));
        ASSERT_FALSE(img.isNull()) << nPage;
        int nInk = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                nInk += qGray(img.pixel(x, y)) < 200 ? 1 : 0;
        EXPECT_GT(nInk, img.width() * img.height() / 50) << "page " << nPage;
    }
}

TEST(Report, TooShortForVariabilityShowsDashes)
{
    QTemporaryDir dir;
    const QString strCapture = Capture(dir, "short.vcap", 40, 0);
    const QString strText = MakeReport(strCapture, dir.filePath(QStringLiteral("short.pdf")));
    const auto stats = Stats(strCapture);
    EXPECT_TRUE(strText.contains(QRegularExpression(QStringLiteral("心率（次/分）\\s+") + QString::fromStdString(stats.at("heart_rate_bpm")))));
    for (const char* label : {"SDNN（毫秒）", "RMSSD（毫秒）", "pNN50（%）", "LF（毫秒²）", "HF（毫秒²）", "LF/HF"})
        EXPECT_TRUE(strText.contains(QRegularExpression(QRegularExpression::escape(QString::fromUtf8(label)) + QStringLiteral("\\s+\u2014"))))
            << label;
}

TEST(Report, RefusedInputLeavesNoFile)
{
    QTemporaryDir dir;
    const QString strGood = Capture(dir, "good.vcap", 5, 0);
    QFile good(strGood);
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();
    auto write = [&](const char* name, const QByteArray& data) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(data) == data.size());
        return f.fileName();
    };
    const QString strText = write("notes.vcap", "a text file, not a capture\n");
    const QString strCut = write("cut.vcap", bytes.left(bytes.size() - 7));
    const QString strOut = dir.filePath(QStringLiteral("out.pdf"));
    const QString strStale = dir.filePath(QStringLiteral("stale.pdf"));
    write("stale.pdf.part", "left by a run that was killed");
    QDir(dir.path()).mkdir(QStringLiteral("folder.pdf"));
    const struct {
        QString strCapture, strOut;
        const char* reason;
    } cases[] = {
        {dir.filePath(QStringLiteral("missing.vcap")), strOut, "missing.vcap"},
        {strText, strOut, "not a capture"},
        {strCut, strOut, "cut short"},
        {strGood, dir.filePath(QStringLiteral("no/such/folder/out.pdf")), "no/such/folder/out.pdf"},
        {strGood, dir.filePath(QStringLiteral("folder.pdf")), "folder"},
        {strGood, strGood, "capture itself"},
        {strGood, strStale, "stale.pdf.part"},
    };
    for (const auto& c : cases) {
        QString strError;
        EXPECT_FALSE(report::WriteSessionReport(c.strCapture, c.strOut, {}, &strError)) << qPrintable(c.strOut);
        EXPECT_TRUE(strError.contains(QString::fromLatin1(c.reason))) << qPrintable(strError);
        EXPECT_FALSE(QFileInfo(c.strOut).isFile() && c.strOut != strGood) << qPrintable(c.strOut);
        EXPECT_EQ(QFileInfo::exists(c.strOut + QStringLiteral(".part")), c.strOut == strStale) << qPrintable(c.strOut);
    }
    QFile again(strGood);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), bytes);  // the capture named as the output is untouched
}

TEST(Report, PulseReadingOfASweepIsThatOfStatsInTheSameUnits)
{
    // The simulated hold-down sweeps from 200 to 3200 counts; the pulse is largest near the light
    // end on channel 1, in the middle on 2, near the heavy end on 3.
    QTemporaryDir dir;
    SimCaptureOptions opts;
    opts.rate = 250;
    opts.bpm = 80;
    opts.seed = 7;
    opts.seconds = 45;
    opts.pulse.sweepS = 20;
    const double best[3] = {250, 1700, 3150};
    std::copy(best, best + 3, opts.pulse.bestPressure);
    const QString strCapture = dir.filePath(QStringLiteral("sweep.vcap")), strPdf = dir.filePath(QStringLiteral("sweep.pdf"));
    std::string error;
    ASSERT_TRUE(WriteSimulatedCapture(QFile::encodeName(strCapture).toStdString(), opts, &error)) << error;

    const struct {
        const char* units;
        const char* bestLabel;
        const char* bestKeys[3];
        QStringList unitAfter;  // after each best pressure, when the channels' units differ
        const char* curveUnit;  // in the third curve box's title
    } cases[] = {
        {"", "最佳取脉压力", {"best_pressure_1", "best_pressure_2", "best_pressure_3"}, {}, "计数"},
        {"1=mmHg:12.5,2=mmHg:12.5,3=mmHg:12.5", "最佳取脉压力（mmHg）",
         {"best_pressure_mmHg_1", "best_pressure_mmHg_2", "best_pressure_mmHg_3"}, {}, "mmHg"},
        {"1=mmHg:12.5,3=g:3", "最佳取脉压力", {"best_pressure_mmHg_1", "best_pressure_2", "best_pressure_g_3"},
         {" mmHg", " 计数", " g"}, "g"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.units);
        units::PressureUnits u;
        ASSERT_TRUE(units::ParseUnits(c.units, u));
        QFile::remove(strPdf);
        const QString strText = MakeReport(strCapture, strPdf, u);
        const auto stats = Stats(strCapture, c.units);
        const auto values = [&](const std::string& prefix, const char* const* keys = nullptr) {
            QStringList list;
            for (int ch = 0; ch < 3; ++ch) {
                const std::string key = keys ? keys[ch] : prefix + std::to_string(ch + 1);
                EXPECT_NE(stats.count(key) ? stats.at(key) : "unknown", "unknown") << key;
                list << QString::fromStdString(stats.count(key) ? stats.at(key) : key);
            }
            return list;
        };
        QStringList bestPressures = values("", c.bestKeys);
        for (int ch = 0; ch < c.unitAfter.size(); ++ch)
            bestPressures[ch] += c.unitAfter[ch];
        EXPECT_TRUE(HasRow(strText, QString::fromUtf8(c.bestLabel), bestPressures)) << qPrintable(bestPressures.join('|'));
        EXPECT_EQ(values("position_"), QStringList({"floating", "middle", "deep"}));
        EXPECT_EQ(stats.at("peak_end_1") + stats.at("peak_end_3"), "lowhigh");
        EXPECT_TRUE(HasRow(strText, QStringLiteral("脉位"), {QStringLiteral("浮（峰在扫描低端）"), QStringLiteral("中"),
                                                            QStringLiteral("沉（峰在扫描高端）")}));
        for (const auto& [label, key] : {std::pair("h1", "h1_"), {"h3/h1", "h3_h1_"}, {"h4/h1", "h4_h1_"}, {"h5/h1", "h5_h1_"},
                                         {"t1（毫秒）", "t1_ms_"}, {"t4（毫秒）", "t4_ms_"}, {"t5（毫秒）", "t5_ms_"}, {"w/t", "w_t_"}})
            EXPECT_TRUE(HasRow(strText, QString::fromUtf8(label), values(key))) << label;
        // Page 2: every averaged beat with its points marked, the curves' pressure axes in the unit.
        const QString strPageTwo = strText.section(QLatin1Char('\f'), 1);
        EXPECT_GE(strPageTwo.count(QRegularExpression(QStringLiteral("\\bh4\\b"))), 3);
        EXPECT_TRUE(strPageTwo.contains(QStringLiteral("压力-幅度曲线 · 通道 3（%1，计数）").arg(QString::fromUtf8(c.curveUnit))));
        EXPECT_FALSE(strPageTwo.left(strPageTwo.indexOf(QStringLiteral("心率趋势"))).contains(QStringLiteral("\u2014")));
    }
}
