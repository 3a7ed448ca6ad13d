// A replay into the console says what it is and runs on the capture's own clock: the title
// with the capture, its progress and speed, "回放结束" and a grey light at its end, the
// recorded heart rate and frame rate at four times the pace, and starting again from the
// beginning.
#include <gtest/gtest.h>

#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>

#include <fstream>

#include "capture/capture_builder.h"
#include "link_light.h"
#include "modal.h"
#include "replay_status.h"
#include "resource_ids.h"
#include "review_feature.h"
#include "sensor_dlg.h"
#include "sensor_model.h"
#include "sensor_sim.h"
#include "signal_link.h"
#include "support/pty_pair.h"

TEST(ReplayConsole, TitleLightAndFiguresOnTheCapturesClock)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // 12 s of the simulated sensor at 500 frames a second and 72 beats a minute, read ten
    // frames at a time.
    CSensorModel model(500, 72, 5);
    CaptureBuilder b;
    b.Sent(0, Command(proto::CODE_START, proto::ADDR_SENSOR));
    for (int r = 0; r < 600; ++r) {
        Bytes read;
        for (int i = 0; i < 10; ++i) {
            uint8_t f[proto::DATA_FRAME_LEN];
            model.NextDataFrame(f);
            read.insert(read.end(), f, f + sizeof f);
        }
        b.Recv(5000 + int64_t(r) * 20000, read);
    }
    const std::string path = dir.filePath(QStringLiteral("r.vcap")).toStdString();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.Get().data()), std::streamsize(b.Size()));

    SensorSimOptions opts;
    opts.replayPath = path;
    opts.replaySpeed = 4;
    SensorSim sim(opts);
    std::string strError;
    ASSERT_TRUE(sim.Start(&strError)) << strError;
    CMSComm::MapPort(1, QString::fromStdString(sim.SlavePath()));
    std::vector<QString> boxes;
    ScopedModalHook hook([&](QDialog& box) {
        boxes.push_back(box.windowTitle());
        return 0;
    });
    {
        CSensorDlg dlg;
        dlg.show();
        auto* pStatus = new CReplayStatus(dlg, QString::fromStdString(path), 4, [&sim] { return sim.Replay(); });
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("脉象传感器演示 · 回放 r.vcap · 00:00 / 00:11 · ×4"));
        auto* pLink = dlg.findChild<CSignalLinkFeature*>();
        auto* pReview = dlg.findChild<CReviewFeature*>();
        auto click = [&](int nID) { qobject_cast<QPushButton*>(dlg.GetDlgItem(nID))->click(); };
        click(IDC_BTN_OPEN);
        click(IDC_BTN_START);
        ASSERT_TRUE(WaitUntil([&] { return sim.Replay().ended; }, 10000));
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_bObserving == 0; }, 3000));
        // At four times the pace, the figures are those of the recording.
        const analysis::CLinkMonitor& monitor = pLink->Monitor();
        const analysis::SignalFigures sig = monitor.Signal(monitor.Now());
        ASSERT_TRUE(sig.heartRate);
        EXPECT_NEAR(*sig.heartRate, 72, 3);
        const analysis::LinkFigures link = monitor.Link(monitor.Now());
        ASSERT_TRUE(link.frameRateSinceObserving);
        EXPECT_NEAR(*link.frameRateSinceObserving, 500, 25);
        EXPECT_NEAR(pReview->Store().SampleRate(), 500, 10);
        EXPECT_EQ(pReview->Store().End(), 6000u);

        pStatus->Refresh();
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("脉象传感器演示 · 回放 r.vcap · 00:11 / 00:11 · ×4 · 回放结束"));
        const QImage light = pLink->Light()->grab().toImage();
        EXPECT_EQ(light.pixelColor(light.width() / 2, light.height() / 2), CLinkLight::ColorOf(analysis::LinkLight::Closed));

        // Starting again plays it from the beginning.
        click(IDC_BTN_START);
        ASSERT_TRUE(WaitUntil([&] { return !sim.Replay().ended && pReview->Store().End() > 6000; }, 5000));
        EXPECT_LT(sim.Replay().positionUs, 6000000);
        pStatus->Refresh();
        EXPECT_FALSE(dlg.windowTitle().contains(QStringLiteral("回放结束"))) << qPrintable(dlg.windowTitle());
        dlg.done(0);
    }
    CMSComm::ClearPortMap();
    sim.Stop();
    EXPECT_TRUE(boxes.empty());
}
