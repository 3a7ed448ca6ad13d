// The report from the console: Veltrin --report as a program (a report in Chinese or English,
// exit 2 with the file named and nothing left for a bad capture, an unwritable place or a bad
// field), and "生成报告..." on the system menu proposing the last recording of the run, asking
// for the fields and the file, opening the report, and saying so when no viewer opens it.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

#include "modal.h"
#include "report_ctl.h"
#include "resource_ids.h"
#include "sensor_dlg.h"
#include "sim_capture.h"
#include "support/pty_pair.h"

namespace {

QString Capture(const QTemporaryDir& dir)
{
    SimCaptureOptions opts;
    opts.seconds = 12;
    const QString strPath = dir.filePath(QStringLiteral("session.vcap"));
    std::string error;
    EXPECT_TRUE(WriteSimulatedCapture(QFile::encodeName(strPath).toStdString(), opts, &error)) << error;
    return strPath;
}

QString PdfText(const QString& strPdf)
{
    QProcess proc;
    proc.start(QStringLiteral("pdftotext"), {strPdf, QStringLiteral("-")});
    proc.waitForFinished(60000);
    return QString::fromUtf8(proc.readAllStandardOutput());
}

} // namespace

TEST(ReportCli, MakesTheReportOrRefusesWithNothingLeft)
{
    QTemporaryDir dir;
    const QString strCapture = Capture(dir);
    QFile text(dir.filePath(QStringLiteral("notes.vcap")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly) && text.write("no capture\n") > 0);
    text.close();
    const QString strOut = dir.filePath(QStringLiteral("r.pdf"));
    const struct {
        QStringList args;
        const char* lang;
        int nExit;
        const char* inText;  // in the PDF's text, or in standard error when refused
    } cases[] = {
        {{"--report", strOut, strCapture, "--field", "name=张三", "--field", "notes=复诊"}, "zh_CN.UTF-8", 0, "张三"},
        {{"--report", strOut, strCapture}, "en_US.UTF-8", 0, "Pulse Examination Report"},
        {{"--report", strOut, text.fileName()}, "zh_CN.UTF-8", 2, "notes.vcap"},
        {{"--report", dir.filePath(QStringLiteral("none/r.pdf")), strCapture}, "zh_CN.UTF-8", 2, "none/r.pdf"},
        {{"--report", strOut, strCapture, "--field", "height=180"}, "zh_CN.UTF-8", 2, "--field"},
        {{"--report", strOut}, "zh_CN.UTF-8", 2, "capture"},
        {{"--field", "name=x"}, "zh_CN.UTF-8", 2, "--report"},
    };
    for (const auto& c : cases) {
        QFile::remove(strOut);
        QProcess proc;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));  // --report needs no display
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("LANG"), QString::fromLatin1(c.lang));
        env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(c.lang));
        proc.setProcessEnvironment(env);
        proc.start(qEnvironmentVariable("VELTRIN_BINARY_DIR") + QStringLiteral("/console/Veltrin"), c.args);
        ASSERT_TRUE(proc.waitForFinished(60000)) << qPrintable(c.args.join(' '));
        const QString strErr = QString::fromUtf8(proc.readAllStandardError());
        EXPECT_EQ(proc.exitCode(), c.nExit) << qPrintable(c.args.join(' ')) << ": " << qPrintable(strErr);
        const QString strWhere = c.nExit == 0 ? PdfText(strOut) : strErr;
        EXPECT_TRUE(strWhere.contains(QString::fromUtf8(c.inText))) << qPrintable(strWhere);
        if (c.nExit != 0) {
            EXPECT_FALSE(QFileInfo::exists(c.args.value(1))) << qPrintable(c.args.join(' '));
            EXPECT_FALSE(QFileInfo::exists(c.args.value(1) + QStringLiteral(".part")));
        }
    }
}

class ReportMenuTest : public ::testing::Test {
protected:
    ReportMenuTest()
    {
        CMSComm::MapPort(1, QString::fromStdString(m_pty.SlavePath()));
        m_pControl = m_dlg.findChild<CReportControl*>();
        m_prevOpener = CReportControl::SetOpener([this](const QString& strPath) {
            m_opened << strPath;
            return m_bViewerOpens;
        });
    }
    ~ReportMenuTest() override
    {
        CReportControl::SetOpener(m_prevOpener);
        CMSComm::ClearPortMap();
    }

    // Runs the menu command and waits for the report's end; true when it was written.
    bool RunCommand()
    {
        bool bOk = false;
        QEventLoop loop;
        const auto conn = QObject::connect(m_pControl, &CReportControl::Finished, [&](bool b) {
            bOk = b;
            loop.quit();
        });
        m_dlg.OnSysCommand(IDM_REPORT, 0);
        if (m_pControl->IsRunning()) {
            QTimer::singleShot(60000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        QObject::disconnect(conn);
        return bOk;
    }

    QTemporaryDir m_dir;
    PtyPair m_pty;
    CSensorDlg m_dlg;
    CReportControl* m_pControl = nullptr;
    CReportControl::Opener m_prevOpener;
    QStringList m_opened;
    bool m_bViewerOpens = true;
    bool m_bUseLast = true;     // the answer to the proposal of the last recording
    QString m_strPickCapture;   // what the open dialog is answered with
    QString m_strSaveAs;        // and the save dialog
    QString m_strProposedSave;
    std::vector<std::pair<QString, QMessageBox::Icon>> m_boxes;
    ScopedModalHook m_hook{[this](QDialog& dlg) {
        if (auto* pFiles = qobject_cast<QFileDialog*>(&dlg)) {
            const bool bSave = pFiles->acceptMode() == QFileDialog::AcceptSave;
            if (bSave)
                m_strProposedSave = pFiles->selectedFiles().value(0);
            pFiles->selectFile(bSave ? m_strSaveAs : m_strPickCapture);
            return int(QDialog::Accepted);
        }
        if (auto* pFields = qobject_cast<CReportFieldsDlg*>(&dlg)) {
            pFields->m_editName->setText(QStringLiteral("李四"));
            pFields->m_comboSex->setCurrentText(QStringLiteral("女"));
            return int(QDialog::Accepted);
        }
        if (auto* pBox = qobject_cast<QMessageBox*>(&dlg)) {
            m_boxes.emplace_back(pBox->text(), pBox->icon());
            const QString strAnswer = m_bUseLast ? QStringLiteral("使用此记录") : QStringLiteral("选择其他记录...");
            for (QAbstractButton* pButton : pBox->buttons())
                if (pButton->text() == strAnswer)
                    pButton->click();
        }
        return 0;
    }};
};

TEST_F(ReportMenuTest, LastRecordingProposedReportOpenedOrWhereaboutsSaid)
{
    ASSERT_NE(m_pControl, nullptr);
    // A recording of this run: the port opened, recorded, stopped.
    const QString strRecording = m_dir.filePath(QStringLiteral("rec.vcap"));
    qobject_cast<QPushButton*>(m_dlg.GetDlgItem(IDC_BTN_OPEN))->click();
    ASSERT_TRUE(m_dlg.m_record.Start(strRecording));
    m_dlg.m_record.Stop();
    ASSERT_EQ(m_dlg.m_record.LastRecording(), strRecording);

    m_strSaveAs = m_dir.filePath(QStringLiteral("rec.pdf"));
    ASSERT_TRUE(RunCommand());
    ASSERT_EQ(m_boxes.size(), 1u);  // the proposal, nothing else
    EXPECT_TRUE(m_boxes.front().first.contains(QStringLiteral("rec.vcap"))) << qPrintable(m_boxes.front().first);
    EXPECT_TRUE(QFileInfo(m_strProposedSave).fileName().contains(QRegularExpression(QStringLiteral("^veltrin-report-\\d{8}-\\d{6}\\.pdf$"))))
        << qPrintable(m_strProposedSave);
    EXPECT_EQ(m_opened, QStringList{m_strSaveAs});
    const QString strText = PdfText(m_strSaveAs);
    EXPECT_TRUE(strText.contains(QStringLiteral("李四")) && strText.contains(QStringLiteral("女"))) << qPrintable(strText);

    // A recording in progress is not proposed, the last finished one is; another capture is
    // chosen instead, and no viewer opens the report: where it is is said, as a plain message.
    m_boxes.clear();
    ASSERT_TRUE(m_dlg.m_record.Start(m_dir.filePath(QStringLiteral("active.vcap"))));
    m_bUseLast = false;
    m_strPickCapture = Capture(m_dir);
    m_strSaveAs = m_dir.filePath(QStringLiteral("picked.pdf"));
    m_bViewerOpens = false;
    ASSERT_TRUE(RunCommand());
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_TRUE(m_boxes.front().first.contains(QStringLiteral("rec.vcap"))) << qPrintable(m_boxes.front().first);
    EXPECT_EQ(m_boxes.back().second, QMessageBox::NoIcon);
    EXPECT_TRUE(m_boxes.back().first.contains(QStringLiteral("picked.pdf"))) << qPrintable(m_boxes.back().first);
    EXPECT_TRUE(PdfText(m_strSaveAs).contains(QStringLiteral("session.vcap")));
    m_dlg.m_record.Stop();

    // A file that is no capture: an error box naming it, and no report.
    m_boxes.clear();
    m_strPickCapture = m_strSaveAs;  // the PDF just made
    m_strSaveAs = m_dir.filePath(QStringLiteral("bad.pdf"));
    EXPECT_FALSE(RunCommand());
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes.back().second, QMessageBox::Critical);
    EXPECT_TRUE(m_boxes.back().first.contains(QStringLiteral("picked.pdf"))) << qPrintable(m_boxes.back().first);
    EXPECT_FALSE(QFileInfo::exists(m_strSaveAs));
}

TEST(ReportCli, GivesThePressuresInTheUnitsTheConsoleKeeps)
{
    QTemporaryDir dir;
    const QString strCapture = Capture(dir), strOut = dir.filePath(QStringLiteral("u.pdf"));
    QDir(dir.path()).mkpath(QStringLiteral("config/Veltrin"));
    QFile conf(dir.filePath(QStringLiteral("config/Veltrin/Veltrin.conf")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly) && conf.write("[units]\nunit1=kPa\nscale1=7.5\nunit2=kPa\nscale2=7.5\nunit3=kPa\nscale3=7.5\n") > 0);
    conf.close();
    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("zh_CN.UTF-8"));
    proc.setProcessEnvironment(env);
    proc.start(qEnvironmentVariable("VELTRIN_BINARY_DIR") + QStringLiteral("/console/Veltrin"), {"--report", strOut, strCapture});
    ASSERT_TRUE(proc.waitForFinished(60000));
    EXPECT_EQ(proc.exitCode(), 0) << proc.readAllStandardError().toStdString();
    const QString strText = PdfText(strOut);
    EXPECT_TRUE(strText.contains(QStringLiteral("最佳取脉压力（kPa）")) && strText.contains(QStringLiteral("通道 3（kPa，计数）")))
        << qPrintable(strText);
}
