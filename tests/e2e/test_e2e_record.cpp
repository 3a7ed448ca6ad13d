// Recording, export and replay end to end: the console records a session with the simulated
// sensor over a real pseudo-terminal, sensor-decode exports it, and a replay of it reaches the
// console's display.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <edflib.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "byte_source.h"
#include "capture/capture_builder.h"
#include "capture_reader.h"
#include "console_app.h"
#include "decode_tool.h"
#include "modal.h"
#include "resource_ids.h"
#include "sensor_dlg.h"
#include "sensor_model.h"
#include "sensor_sim.h"
#include "spin_button.h"
#include "support/pty_pair.h"

namespace {

using Block = std::array<int, proto::BLOCK_WORDS>;
constexpr int LONG_WAIT_MS = 8000;

class DisplayDlg : public CSensorDlg {
public:
    // The blocks handed to the waveform control, in wire order as far as the display shows them.
    void AddSamples(int ch0, int ch1, int ch2, int ch3, int ch4) override
    {
        m_blocks.push_back({m_nStaticPressure1, ch0, m_nStaticPressure2, ch1, m_nStaticPressure3, ch2, ch3, ch4});
        CSensorDlg::AddSamples(ch0, ch1, ch2, ch3, ch4);
    }
    std::vector<Block> m_blocks;
};

// CSV rows without their sample number and times: the eight counts in wire order.
std::vector<Block> CsvBlocks(const std::string& csv)
{
    std::vector<Block> out;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<int> v;
        std::istringstream fields(line);
        std::string f;
        for (int i = 0; std::getline(fields, f, ','); ++i)
            if (i >= 2 && i < 10)
                v.push_back(std::stoi(f));
        if (v.size() != 8)
            continue;
        // pressure1,2,3, pulse1,2,3, ecg, volume -> static1, pulse1, static2, pulse2, ...
        out.push_back({v[0], v[3], v[1], v[4], v[2], v[5], v[6], v[7]});
    }
    return out;
}

// The frame rate the sensor kept by its own clock: from the times at which it wrote the frames
// (the CSV of its own log), over each run from its first to its last frame.
double SensorRate(const std::string& csv)
{
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    double frames = 0, seconds = 0;
    long long firstSample = -1, lastSample = -1;
    double firstTime = 0, lastTime = 0;
    auto endRun = [&] {
        if (firstSample >= 0 && lastTime > firstTime) {
            frames += double(lastSample - firstSample);
            seconds += lastTime - firstTime;
        }
    };
    while (std::getline(in, line)) {
        const long long sample = std::stoll(line.substr(0, line.find(',')));
        const double time = std::stod(line.substr(line.find(',') + 1));
        if (firstSample < 0 || time - lastTime > 0.3) {
            endRun();
            firstSample = sample;
            firstTime = time;
        }
        lastSample = sample;
        lastTime = time;
    }
    endRun();
    return seconds > 0 ? frames / seconds : 0;
}

struct Decoded {
    int code = -1;
    std::string out, err;
};

Decoded RunDecode(const std::vector<std::string>& args)
{
    std::vector<uint8_t> none;
    CMemorySource in(none);
    std::ostringstream out, err;
    Decoded d;
    d.code = RunSensorDecode(args, in, out, err);
    d.out = out.str();
    d.err = err.str();
    return d;
}

// Every byte a capture received, in order.
std::vector<uint8_t> ReceivedBytes(const std::string& path)
{
    std::vector<uint8_t> out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return out;
    CFileSource src(f);
    capture::CCaptureReader reader(src);
    capture::CaptureRecord rec;
    if (reader.ReadHeader())
        while (reader.Next(rec) == capture::ReadResult::Record)
            if (rec.dir == capture::Direction::Received)
                out.insert(out.end(), rec.bytes.begin(), rec.bytes.end());
    std::fclose(f);
    return out;
}

std::string Slurp(const QString& path)
{
    std::ifstream f(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

class RecordTest : public ::testing::Test {
protected:
    ~RecordTest() override
    {
        m_dlg.reset();
        m_sim.reset();
        CMSComm::ClearPortMap();
    }
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString File(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    void StartSim(const SensorSimOptions& opts)
    {
        m_sim = std::make_unique<SensorSim>(opts);
        std::string strError;
        ASSERT_TRUE(m_sim->Start(&strError)) << strError;
        CMSComm::MapPort(1, QString::fromStdString(m_sim->SlavePath()));
        m_dlg = std::make_unique<DisplayDlg>();
        m_dlg->show();
    }
    void Click(int nID) { qobject_cast<QPushButton*>(m_dlg->GetDlgItem(nID))->click(); }
    static void Pause(int ms) { WaitUntil([] { return false; }, ms); }
    bool Acknowledged() const { return m_dlg->m_byPendingCode == 0 && m_dlg->m_nSendCount == 0; }
    void Observe(int ms)
    {
        Click(IDC_BTN_START);
        ASSERT_TRUE(WaitUntil([&] { return m_dlg->m_bObserving != 0; }, LONG_WAIT_MS));
        Pause(ms);
    }
    void StopObserving()
    {
        Click(IDC_BTN_STOP);
        ASSERT_TRUE(WaitUntil([&] { return m_dlg->m_bObserving == 0 && Acknowledged(); }, LONG_WAIT_MS));
    }

    QTemporaryDir m_dir;
    QString m_strAnswerFile;                 // what the file dialog is answered with
    QString m_strProposed;                   // what it proposed
    std::vector<QString> m_boxes;            // texts of the message boxes
    ScopedModalHook m_hook{[this](QDialog& dlg) {
        if (auto* pFiles = qobject_cast<QFileDialog*>(&dlg)) {
            m_strProposed = QDir(pFiles->directory()).filePath(pFiles->selectedFiles().value(0).section('/', -1));
            if (m_strAnswerFile.isEmpty())
                return int(QDialog::Rejected);
            pFiles->selectFile(m_strAnswerFile);
            return int(QDialog::Accepted);
        }
        if (auto* pBox = qobject_cast<QMessageBox*>(&dlg))
            m_boxes.push_back(pBox->text());
        return 0;
    }};
    std::unique_ptr<SensorSim> m_sim;
    std::unique_ptr<DisplayDlg> m_dlg;
};

TEST_F(RecordTest, SessionRecordedAtTheFullLineRateExportsEveryFrameTheSensorSent)
{
    SensorSimOptions opts;
    opts.rate = SIM_MAX_RATE;
    opts.seed = 5;
    opts.corrupt = 0.02;
    opts.garbage = 0.01;
    opts.logPath = File("sensor.vcap").toStdString();  // what the sensor put on the line
    ASSERT_NO_FATAL_FAILURE(StartSim(opts));
    const QString strBase = m_dlg->windowTitle();

    // "开始记录..." with the port still closed: the file dialog proposes a dated name in the
    // documents folder; the recording waits for the port.
    const QString strCapture = File("session.vcap");
    m_strAnswerFile = strCapture;
    EXPECT_TRUE(m_dlg->OnSysCommand(IDM_RECORD, 0));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("/veltrin-\\d{8}-\\d{6}\\.vcap$")).match(m_strProposed).hasMatch())
        << qPrintable(m_strProposed);
    EXPECT_TRUE(m_dlg->m_record.IsActive());
    EXPECT_TRUE(m_dlg->windowTitle().startsWith(strBase + QStringLiteral(" · 记录")));
#ifndef _WIN32
    const QList<QAction*> acts = m_dlg->SystemMenu()->actions();
    const auto item = std::find_if(acts.begin(), acts.end(), [](QAction* a) { return a->data().toUInt() == IDM_RECORD; });
    ASSERT_NE(item, acts.end());
    EXPECT_EQ((*item)->text(), QStringLiteral("停止记录"));
#endif

    // Two runs with commands between and in them, then the port closes.
    Click(IDC_BTN_OPEN);
    ASSERT_TRUE(m_dlg->m_comm.GetPortOpen());
    ASSERT_NO_FATAL_FAILURE(Observe(1200));
    m_dlg->m_spinGain1->Step(+1);
    Pause(300);
    Click(IDC_BTN_ZERO1);
    Pause(800);
    m_dlg->m_record.UpdateTitle();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^%1 · 记录 00:00:0\\d · \\d+\\.\\d (KB|MB)$").arg(strBase))
                    .match(m_dlg->windowTitle()).hasMatch())
        << qPrintable(m_dlg->windowTitle());
    ASSERT_NO_FATAL_FAILURE(StopObserving());
    Pause(700);
    ASSERT_NO_FATAL_FAILURE(Observe(1000));
    ASSERT_NO_FATAL_FAILURE(StopObserving());
    Click(IDC_BTN_OPEN);
    EXPECT_FALSE(m_dlg->m_record.IsActive()) << "the recording ends with the port";
    EXPECT_EQ(m_dlg->windowTitle(), strBase);
#ifndef _WIN32
    EXPECT_EQ((*item)->text(), QStringLiteral("开始记录..."));
#endif
    EXPECT_TRUE(m_boxes.empty());
    const SensorSimStats st = m_sim->Stats();
    m_dlg.reset();
    m_sim->Stop();
    ASSERT_GT(st.corrupted, 0u);

    // The console's capture holds every byte the sensor put on the line, in order, and its
    // rows are the rows of what the sensor sent: none lost, none invented, the corrupted ones
    // (counted by the sensor) absent.
    EXPECT_EQ(ReceivedBytes(strCapture.toStdString()), ReceivedBytes(opts.logPath));
    const std::string csv = File("session.csv").toStdString();
    const Decoded console = RunDecode({"-q", "--csv", csv, strCapture.toStdString()});
    ASSERT_EQ(console.code, 0) << console.err;
    const std::vector<Block> rows = CsvBlocks(Slurp(QString::fromStdString(csv)));
    const std::string sentCsv = File("sensor.csv").toStdString();
    const Decoded sensor = RunDecode({"-q", "--csv", sentCsv, opts.logPath});
    ASSERT_EQ(sensor.code, 0);
    EXPECT_EQ(rows, CsvBlocks(Slurp(QString::fromStdString(sentCsv))));
    EXPECT_EQ(console.err, sensor.err);
    EXPECT_GT(rows.size(), 2000u);
    EXPECT_LE(rows.size(), st.framesSent - st.corrupted / 2);
    EXPECT_GE(rows.size() + st.corrupted, st.framesSent);

    // The EDF+ file: the same counts where no sample is missing, the sample rate within 1 % of
    // the sensor's, missing samples, pause and commands marked.
    const std::string edfPath = File("session.edf").toStdString();
    // Each stretch of missing samples marked apart, so that they tell exactly which are missing.
    const Decoded ex = RunDecode({"-q", "--merge-bad", "0", "--edf", edfPath, strCapture.toStdString()});
    ASSERT_EQ(ex.code, 0) << ex.err;
    edf_hdr_struct hdr{};
    ASSERT_EQ(edfopen_file_readonly(edfPath.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS), 0);
    const double rate = hdr.signalparam[0].smp_in_datarecord * 1e7 / double(hdr.datarecord_duration);
    EXPECT_NEAR(rate, SensorRate(Slurp(QString::fromStdString(sentCsv))), SIM_MAX_RATE * 0.01);
    const size_t nSamples = static_cast<size_t>(hdr.signalparam[0].smp_in_file);
    std::vector<bool> missing(nSamples, false);
    std::vector<std::string> texts;
    for (long long i = 0; i < hdr.annotations_in_file; ++i) {
        edf_annotation_struct a{};
        edf_get_annotation(hdr.handle, int(i), &a);
        texts.push_back(a.annotation);
        if (std::strncmp(a.annotation, "BAD", 3) != 0)
            continue;
        const long long from = std::llround(a.onset * rate / 1e7);
        const long long n = std::llround(a.duration_l * rate / 1e7);
        for (long long k = from; k < from + n && k < static_cast<long long>(nSamples); ++k)
            missing[static_cast<size_t>(k)] = true;
    }
    std::vector<std::vector<int>> sig(8, std::vector<int>(nSamples));
    for (int s = 0; s < 8; ++s)
        edfread_digital_samples(hdr.handle, s, int(nSamples), sig[s].data());
    edfclose_file(hdr.handle);
    std::vector<Block> kept;
    for (size_t i = 0; i < nSamples; ++i)
        if (!missing[i])
            kept.push_back({sig[0][i] + 32768, sig[3][i] + 32768, sig[1][i] + 32768, sig[4][i] + 32768,
                            sig[2][i] + 32768, sig[5][i] + 32768, sig[6][i] + 32768, sig[7][i] + 32768});
    EXPECT_EQ(kept.size(), rows.size());
    EXPECT_TRUE(kept == rows);
    auto has = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) != texts.end(); };
    EXPECT_TRUE(has("BAD missing sample: check byte"));
    EXPECT_TRUE(has("BAD pause between data runs"));
    EXPECT_TRUE(has("gain pulse 1 = 4"));
    EXPECT_TRUE(has("zero channel 1"));
    EXPECT_TRUE(has("stop"));
    EXPECT_TRUE(has("start (before data)"));
    EXPECT_TRUE(has("start"));
    EXPECT_TRUE(has("data run 2 end"));
}

TEST_F(RecordTest, ReplayAtFourTimesThePaceReachesTheDisplayInOrder)
{
    // A session of the simulated sensor, recorded by the console.
    SensorSimOptions opts;
    opts.seed = 9;
    ASSERT_NO_FATAL_FAILURE(StartSim(opts));
    const QString strCapture = File("replay.vcap");
    ASSERT_TRUE(m_dlg->m_record.Start(strCapture));
    Click(IDC_BTN_OPEN);
    ASSERT_NO_FATAL_FAILURE(Observe(2000));
    ASSERT_NO_FATAL_FAILURE(StopObserving());
    Click(IDC_BTN_OPEN);
    m_dlg.reset();
    m_sim.reset();
    const std::string csv = File("replay.csv").toStdString();
    ASSERT_EQ(RunDecode({"-q", "--csv", csv, strCapture.toStdString()}).code, 0);
    const std::vector<Block> recorded = CsvBlocks(Slurp(QString::fromStdString(csv)));
    ASSERT_GT(recorded.size(), 500u);

    // Replayed four times as fast: the console shows every recorded block, in order, and the
    // sensor stops by itself at the end.
    SensorSimOptions replay;
    replay.replayPath = strCapture.toStdString();
    replay.replaySpeed = 4;
    ASSERT_NO_FATAL_FAILURE(StartSim(replay));
    Click(IDC_BTN_OPEN);
    Click(IDC_BTN_START);
    ASSERT_TRUE(WaitUntil([&] { return m_dlg->m_blocks.size() >= recorded.size(); }, LONG_WAIT_MS));
    ASSERT_TRUE(WaitUntil([&] { return m_dlg->m_bObserving == 0; }, LONG_WAIT_MS));
    EXPECT_TRUE(m_dlg->m_blocks == recorded);
    EXPECT_GE(m_dlg->m_waveChart.m_nCount, 1);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(RecordTest, FilesThatCannotBeWrittenAreReportedAndTheConsoleRunsOn)
{
    ASSERT_NO_FATAL_FAILURE(StartSim(SensorSimOptions()));
    const QString strTitle = m_dlg->windowTitle();
    const QString strMissing = File("no-such-folder/x.vcap");
    EXPECT_FALSE(m_dlg->m_record.Start(strMissing));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].contains(strMissing)) << qPrintable(m_boxes[0]);
    EXPECT_TRUE(m_boxes[0].contains(QString::fromLocal8Bit(std::strerror(ENOENT)))) << qPrintable(m_boxes[0]);
    EXPECT_FALSE(m_dlg->m_record.IsActive());
    EXPECT_EQ(m_dlg->windowTitle(), strTitle);

    // The file dialog cancelled: nothing starts.
    m_strAnswerFile.clear();
    m_dlg->OnSysCommand(IDM_RECORD, 0);
    EXPECT_FALSE(m_dlg->m_record.IsActive());

#ifdef __linux__
    // A disk that is full when the port opens: the box comes once the link is done, the port
    // stays open and the data keep coming.
    ASSERT_TRUE(m_dlg->m_record.Start(QStringLiteral("/dev/full")));
    Click(IDC_BTN_OPEN);
    ASSERT_TRUE(m_dlg->m_comm.GetPortOpen());
    ASSERT_TRUE(WaitUntil([&] { return m_boxes.size() == 2; }));
    EXPECT_TRUE(m_boxes[1].contains(QStringLiteral("/dev/full"))) << qPrintable(m_boxes[1]);
    EXPECT_TRUE(m_boxes[1].contains(QString::fromLocal8Bit(std::strerror(ENOSPC)))) << qPrintable(m_boxes[1]);
    EXPECT_FALSE(m_dlg->m_record.IsActive());
    EXPECT_EQ(m_dlg->windowTitle(), strTitle);
    ASSERT_NO_FATAL_FAILURE(Observe(300));
    EXPECT_GT(m_dlg->m_blocks.size(), 10u);
#endif
}

TEST_F(RecordTest, FileDeletedWhileRecordingIsSavedAgainAndTheUserTold)
{
    ASSERT_NO_FATAL_FAILURE(StartSim(SensorSimOptions()));
    const QString strCapture = File("deleted.vcap");
    ASSERT_TRUE(m_dlg->m_record.Start(strCapture));
    Click(IDC_BTN_OPEN);
    ASSERT_NO_FATAL_FAILURE(Observe(1000));
    ASSERT_TRUE(QFile::remove(strCapture));
    // Within the second's check: the box names the file, which holds the recording again.
    ASSERT_TRUE(WaitUntil([&] { return !m_boxes.empty(); }, 3000));
    EXPECT_TRUE(m_boxes[0].contains(strCapture) && m_boxes[0].contains(QStringLiteral("已保存到"))) << qPrintable(m_boxes[0]);
    EXPECT_TRUE(QFile::exists(strCapture));
    const std::string path = strCapture.toStdString();
    const Decoded before = RunDecode({"-q", "--partial", path});  // still being written
    ASSERT_EQ(before.code, 0) << before.err;
    ASSERT_NO_FATAL_FAILURE(Observe(500));
    ASSERT_NO_FATAL_FAILURE(StopObserving());
    Click(IDC_BTN_OPEN);
    EXPECT_FALSE(m_dlg->m_record.HasFailed());
    // The whole session is in it, from before the deletion to the end.
    const Decoded after = RunDecode({"-q", path});
    ASSERT_EQ(after.code, 0) << after.err;
    const auto frames = [](const Decoded& d) { return std::atoi(d.err.c_str() + d.err.rfind("frames ") + 7); };
    EXPECT_GT(frames(before), 200);
    EXPECT_GT(frames(after), frames(before) + 100);
    EXPECT_EQ(m_boxes.size(), 1u);
}

// Starts the sensor at path, reads its stream for ms milliseconds and stops it.
void DriveSensor(const std::string& path, int ms)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    const uint8_t start[4] = {0xF0, 0x2F, 0x01, 0x32};
    const uint8_t stop[4] = {0xF0, 0x2F, 0x01, 0x33};
    ASSERT_EQ(::write(fd, start, 4), 4);
    QElapsedTimer t;
    t.start();
    uint8_t buf[4096];
    while (t.elapsed() < ms) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 5);
        while (::read(fd, buf, sizeof buf) > 0) {}
    }
    ASSERT_EQ(::write(fd, stop, 4), 4);
    while (t.elapsed() < ms + 200) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 5);
        while (::read(fd, buf, sizeof buf) > 0) {}
    }
    ::close(fd);
}

ConsoleOptions Parse(const QStringList& args)
{
    return ParseConsoleArguments(QStringList{QStringLiteral("Veltrin")} + args);
}

TEST(RecordOptions, AcceptedAndRefused)
{
    ConsoleOptions o = Parse({"--record", "a.vcap", "--replay", "b.vcap", "--speed", "4", "--screenshot", "s.png", "--caption"});
    EXPECT_TRUE(o.strError.isEmpty()) << qPrintable(o.strError);
    EXPECT_EQ(o.strRecord, QStringLiteral("a.vcap"));
    EXPECT_EQ(o.strReplay, QStringLiteral("b.vcap"));
    EXPECT_EQ(o.dReplaySpeed, 4.0);
    EXPECT_TRUE(o.bCaption);
    EXPECT_EQ(Parse({"--replay", "b.vcap"}).dReplaySpeed, 1.0);
    const QStringList refused[] = {
        {"--record", ""}, {"--replay", ""}, {"--speed", "2"}, {"--replay", "b", "--speed", "0.05"},
        {"--replay", "b", "--speed", "25"}, {"--replay", "b", "--speed", "fast"}, {"--replay", "b", "--demo"},
        {"--caption"},
    };
    for (const QStringList& args : refused)
        EXPECT_FALSE(Parse(args).strError.isEmpty()) << qPrintable(args.join(' '));
}

TEST(RecordOptions, ProgramReplaysRecordsAndShowsTheTitleInItsScreenshot)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A short capture to replay, made by the simulated sensor's own log.
    const QString strSource = dir.filePath(QStringLiteral("source.vcap"));
    {
        SensorSimOptions opts;
        opts.logPath = strSource.toStdString();
        SensorSim sim(opts);
        ASSERT_TRUE(sim.Start());
        DriveSensor(sim.SlavePath(), 1000);
    }
    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    proc.setProcessEnvironment(env);
    const QString strProgram = qEnvironmentVariable("VELTRIN_BINARY_DIR") + QStringLiteral("/console/Veltrin");
    const QString strShot = dir.filePath(QStringLiteral("shot.png"));
    const QString strRecord = dir.filePath(QStringLiteral("again.vcap"));
    proc.start(strProgram, {"--replay", strSource, "--speed", "2", "--record", strRecord, "--screenshot", strShot,
                            "--caption", "--after", "2500"});
    ASSERT_TRUE(proc.waitForFinished(60000));
    EXPECT_EQ(proc.exitCode(), 0) << proc.readAllStandardError().constData();
    const QImage img(strShot);
    CSensorDlg dlg;
    EXPECT_EQ(img.width(), dlg.width());
    EXPECT_GT(img.height(), dlg.height()) << "the title strip is above the window";
    const Decoded again = RunDecode({"-q", strRecord.toStdString()});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.err.find("frames "), std::string::npos);
    EXPECT_EQ(again.err.rfind("frames 0,", 0), std::string::npos) << again.err;

    proc.start(strProgram, {"--replay", dir.filePath(QStringLiteral("missing.vcap"))});
    ASSERT_TRUE(proc.waitForFinished(60000));
    EXPECT_NE(proc.exitCode(), 0);
    EXPECT_TRUE(proc.readAllStandardError().contains("missing.vcap"));
}

TEST(RecordOptions, ProgramRefusesHostileCapturesAndRecordingsThatFail)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString strProgram = qEnvironmentVariable("VELTRIN_BINARY_DIR") + QStringLiteral("/console/Veltrin");
    QProcess proc;
    auto run = [&](const QStringList& args) {
        proc.start(strProgram, args);
        EXPECT_TRUE(proc.waitForFinished(60000));
        return proc.exitCode();
    };
    const QString strFile = dir.filePath(QStringLiteral("hostile.vcap"));
    for (const HostileCapture& h : HostileCaptures()) {
        const QByteArray bytes(reinterpret_cast<const char*>(h.bytes.data()), int(h.bytes.size()));
        QFile f(strFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        EXPECT_EQ(run({"--replay", strFile, "--screenshot", dir.filePath(QStringLiteral("s.png"))}), 2) << h.name;
        const QByteArray err = proc.readAllStandardError();
        EXPECT_TRUE(err.contains(strFile.toUtf8()) && err.contains(h.reason)) << h.name << ": " << err.constData();
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), bytes) << h.name;
        f.close();
    }
    // Recording onto the capture being replayed would destroy it; a recording that cannot be
    // made fails an unattended run.
    EXPECT_EQ(run({"--replay", strFile, "--record", strFile}), 2);
    EXPECT_EQ(run({"--demo", "--record", dir.filePath(QStringLiteral("no-dir/x.vcap")), "--screenshot",
                   dir.filePath(QStringLiteral("s.png")), "--after", "300"}),
              2);
    EXPECT_TRUE(proc.readAllStandardError().contains("no-dir/x.vcap"));
}

} // namespace
