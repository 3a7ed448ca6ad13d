// The link light and the "信号与链路" window in the console: where the light sits, its colours
// over time on a fake clock, the window from the system menu with its figures, not modal,
// refreshed while open and back where it was closed.
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "console_fixture.h"
#include "frame_decoder.h"
#include "link_light.h"
#include "protocol.h"
#include "resource_ids.h"
#include "sensor_model.h"
#include "signal_link.h"
#include "signal_link_window.h"
#include "support/pty_pair.h"

namespace {

using analysis::LinkLight;

class SignalLinkTest : public ConsoleTest {
protected:
    SignalLinkTest()
    {
        CMSComm::MapPort(1, QString::fromStdString(m_pty.SlavePath()));
        m_pFeature = m_dlg.findChild<CSignalLinkFeature*>();
    }
    ~SignalLinkTest() override { CMSComm::ClearPortMap(); }

    void Open() { qobject_cast<QPushButton*>(m_dlg.GetDlgItem(IDC_BTN_OPEN))->click(); }
    void Frames(const std::vector<uint8_t>& bytes)
    {
        m_dlg.m_ring.Append(bytes.data(), static_cast<int>(bytes.size()));
        DecodeFrames(m_dlg.m_ring, m_dlg, &m_dlg.m_decodeStats);
    }
    static std::vector<uint8_t> Frame(bool good)
    {
        const uint16_t words[8] = {1000, 200, 1000, 200, 1000, 200, 650, 150};
        std::vector<uint8_t> f = {0xF0, 0x1F, 0x12, 0x32};
        f.resize(21);
        proto::BuildSampleBlock(words, f.data() + 4);
        if (!good)
            f[20] ^= 1;
        return f;
    }
    // The light's colour as drawn, at its centre.
    QColor Drawn()
    {
        m_pFeature->RefreshLight();
        CLinkLight* pLight = m_pFeature->Light();
        const QImage img = pLight->grab().toImage();
        return img.pixelColor(img.width() / 2, img.height() / 2);
    }

    PtyPair m_pty;
    CSensorDlg m_dlg;
    CSignalLinkFeature* m_pFeature = nullptr;
};

} // namespace

TEST_F(SignalLinkTest, LightSitsInTheDeviceGroupBesideTheStatusText)
{
    ASSERT_NE(m_pFeature, nullptr);
    const QRect rc = m_pFeature->Light()->geometry();
    const QRect rcStatus = m_dlg.m_stStatus->geometry();
    EXPECT_FALSE(rc.intersects(rcStatus));
    EXPECT_LT(rc.right(), rcStatus.left());
    EXPECT_TRUE(rc.top() <= rcStatus.center().y() && rcStatus.center().y() <= rc.bottom());
    for (QWidget* w : m_dlg.Layout().Items()) {
        auto* pGroup = qobject_cast<QGroupBox*>(w);
        if (pGroup && pGroup->title() == QStringLiteral("设备")) {
            EXPECT_TRUE(pGroup->geometry().contains(rc));
        } else if (w && !pGroup && !w->isHidden()) {
            EXPECT_FALSE(rc.intersects(w->geometry())) << ControlIdOf(w);
        }
    }
}

TEST_F(SignalLinkTest, LightColoursOverTime)
{
    EXPECT_EQ(Drawn(), CLinkLight::ColorOf(LinkLight::Closed));
    Open();
    ASSERT_TRUE(m_dlg.m_comm.GetPortOpen());
    EXPECT_EQ(Drawn(), CLinkLight::ColorOf(LinkLight::Quiet));
    m_platform.Advance(2000);
    EXPECT_EQ(Drawn(), CLinkLight::ColorOf(LinkLight::Stalled));

    Frames(Frame(true));
    EXPECT_EQ(Drawn(), CLinkLight::ColorOf(LinkLight::Receiving));
    m_platform.Advance(999);
    EXPECT_EQ(Drawn(), CLinkLight::ColorOf(LinkLight::Receiving));
    m_platform.Advance(1);
    EXPECT_EQ(Drawn(), CLinkLight::ColorOf(LinkLight::Quiet));

    Frames(Frame(false));
    EXPECT_EQ(Drawn(), CLinkLight::ColorOf(LinkLight::BadCheck));
    m_platform.Advance(600);
    Frames(Frame(true));
    EXPECT_EQ(Drawn(), CLinkLight::ColorOf(LinkLight::BadCheck));
    m_platform.Advance(400);
    EXPECT_EQ(Drawn(), CLinkLight::ColorOf(LinkLight::Receiving));
    EXPECT_TRUE(m_pFeature->Light()->toolTip().contains(QStringLiteral("校验错误帧：1")))
        << m_pFeature->Light()->toolTip().toStdString();

    Open();  // closes
    EXPECT_EQ(Drawn(), CLinkLight::ColorOf(LinkLight::Closed));
    EXPECT_TRUE(m_modals.empty());
}

TEST_F(SignalLinkTest, WindowFromTheSystemMenuShowsTheFigures)
{
#ifndef _WIN32
    const QList<QAction*> acts = m_dlg.SystemMenu()->actions();
    QAction* pItem = nullptr;
    for (QAction* a : acts)
        if (a->data().toUInt() == IDM_SIGNAL_LINK)
            pItem = a;
    ASSERT_NE(pItem, nullptr);
    EXPECT_EQ(pItem->text(), QStringLiteral("信号与链路..."));
    EXPECT_EQ(acts.last()->data().toUInt(), unsigned(IDM_ABOUTBOX));
    pItem->trigger();
#else
    m_dlg.OnSysCommand(IDM_SIGNAL_LINK, 0);
#endif
    CSignalLinkWindow* pWnd = m_pFeature->Window();
    ASSERT_NE(pWnd, nullptr);
    EXPECT_TRUE(pWnd->isVisible());
    EXPECT_TRUE(pWnd->isWindow());
    EXPECT_EQ(pWnd->windowModality(), Qt::NonModal);
    EXPECT_EQ(pWnd->windowTitle(), QStringLiteral("信号与链路"));
    EXPECT_EQ(pWnd->ValueOf(QStringLiteral("串口")), QStringLiteral("已关闭"));
    EXPECT_EQ(pWnd->ValueOf(QStringLiteral("心率")), QStringLiteral("—"));
    EXPECT_EQ(pWnd->ValueOf(QStringLiteral("脉搏传导时间（通道3）")), QStringLiteral("—"));
    EXPECT_EQ(pWnd->ValueOf(QStringLiteral("距上一数据帧")), QStringLiteral("—"));

    // The simulated sensor's frames at 250 a second for 14 s, arriving every 20 ms.
    Open();
    CSensorModel model(250, 90, 2);
    for (int burst = 0; burst < 700; ++burst) {
        m_platform.Advance(20);
        std::vector<uint8_t> bytes;
        for (int i = 0; i < 5; ++i) {
            uint8_t f[proto::DATA_FRAME_LEN];
            model.NextDataFrame(f);
            bytes.insert(bytes.end(), f, f + sizeof f);
        }
        Frames(bytes);
    }
    // Refreshed by its own timer, once a second.
    ASSERT_TRUE(WaitUntil([&] { return pWnd->ValueOf(QStringLiteral("心率")) != QStringLiteral("—"); }, 2500));
    EXPECT_EQ(pWnd->ValueOf(QStringLiteral("串口")), QStringLiteral("已打开"));
    EXPECT_EQ(pWnd->ValueOf(QStringLiteral("数据帧")), QStringLiteral("3500"));
    EXPECT_EQ(pWnd->ValueOf(QStringLiteral("数据帧速率（最近1秒）")), QStringLiteral("250 帧/秒"));
    const QString hr = pWnd->ValueOf(QStringLiteral("心率"));
    ASSERT_TRUE(hr.endsWith(QStringLiteral(" 次/分"))) << hr.toStdString();
    EXPECT_NEAR(hr.section(' ', 0, 0).toDouble(), 90, 3);
    const QString ptt = pWnd->ValueOf(QStringLiteral("脉搏传导时间（通道2）"));
    ASSERT_TRUE(ptt.endsWith(QStringLiteral(" 毫秒"))) << ptt.toStdString();
    EXPECT_NEAR(ptt.section(' ', 0, 0).toDouble(), 150, 10);
    EXPECT_TRUE(m_modals.empty());
}

TEST_F(SignalLinkTest, ClosingHidesAndReopensWhereItWas)
{
    m_dlg.show();
    EXPECT_TRUE(m_dlg.OnSysCommand(IDM_SIGNAL_LINK, 0));
    CSignalLinkWindow* pWnd = m_pFeature->Window();
    ASSERT_NE(pWnd, nullptr);
    pWnd->move(pWnd->pos() + QPoint(37, 23));
    const QPoint where = pWnd->pos();
    pWnd->close();
    EXPECT_FALSE(pWnd->isVisible());
    EXPECT_TRUE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.m_nDefaultSysCommands, 0);

    m_dlg.OnSysCommand(IDM_SIGNAL_LINK, 0);
    EXPECT_EQ(m_pFeature->Window(), pWnd);  // the same window again
    EXPECT_TRUE(pWnd->isVisible());
    EXPECT_EQ(pWnd->pos(), where);
    m_dlg.done(0);
}
