// The console dialog's own share of two faults: readouts left showing older values when a
// stream ends right after a paint, and handlers reachable while the dialog is torn down.
#include <QAction>
#include <QEvent>
#include <QFrame>
#include <QMenu>

#include "console_fixture.h"
#include "protocol.h"
#include "resource_ids.h"
#include "support/pty_pair.h"

namespace {

void ReceiveDataFrame(CSensorDlg& dlg, uint16_t p1, uint16_t p2, uint16_t p3)
{
    const uint16_t words[proto::BLOCK_WORDS] = {p1, 400, p2, 500, p3, 600, 450, 300};
    uint8_t frame[proto::DATA_FRAME_LEN] = {proto::SYNC, proto::INBOUND_ADDR, 0x12, proto::CODE_DATA};
    proto::BuildSampleBlock(words, frame + proto::HEADER_LEN);
    dlg.ReceiveBytes(frame, proto::DATA_FRAME_LEN);
}

struct PaintCounter : QObject {
    int n = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        n += e->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

TEST_F(ConsoleTest, ReadoutsShowTheLastFrameOfAStreamEndingRightAfterAPaint)
{
    CSensorDlg dlg;
    dlg.show();
    ASSERT_TRUE(WaitUntil([&] { return dlg.m_dwLastPaintTick == m_platform.m_dwTick; }));
    ReceiveDataFrame(dlg, 1, 2, 3);

    // A caption change repaints the dialog around the button, not the readouts.
    m_platform.Advance(1000);
    dlg.SetOpenButtonText(QStringLiteral("关闭串口"));
    ASSERT_TRUE(WaitUntil([&] { return dlg.m_dwLastPaintTick == m_platform.m_dwTick; }));
    PaintCounter counters[3];
    QFrame* frames[] = {dlg.m_framePressure1, dlg.m_framePressure2, dlg.m_framePressure3};
    for (int i = 0; i < 3; ++i)
        frames[i]->installEventFilter(&counters[i]);

    // The last frame of the stream arrives 50 ms later, and nothing follows it.
    m_platform.Advance(50);
    ReceiveDataFrame(dlg, 11, 22, 33);
    ASSERT_EQ(dlg.m_nStaticPressure1, 11);
    EXPECT_TRUE(WaitUntil([&] { return counters[0].n > 0 && counters[1].n > 0 && counters[2].n > 0; }, 3000))
        << "the readouts were never repainted with the last values";
    dlg.done(0);
}

TEST_F(ConsoleTest, NothingReachesTheDialogWhileItIsDestroyed)
{
    auto* pDlg = new CSensorDlg;
    QMenu* pMenu = pDlg->SystemMenu();
    ASSERT_NE(pMenu, nullptr);
    QAction* pAbout = nullptr;
    for (QAction* pAction : pMenu->actions())
        if (pAction->data().toUInt() == IDM_ABOUTBOX)
            pAbout = pAction;
    ASSERT_NE(pAbout, nullptr);

    // A child that makes the still-living menu fire as the child is deleted, after the
    // dialog's device part and members are already gone.
    struct Emitter : QObject {
        Emitter(QObject* pParent, QMenu* pM, QAction* pA) : QObject(pParent), m_pMenu(pM), m_pAction(pA) {}
        ~Emitter() override { emit m_pMenu->triggered(m_pAction); }
        QMenu* m_pMenu;
        QAction* m_pAction;
    };
    new Emitter(pDlg, pMenu, pAbout);
    // Children are deleted in the order they were added: the menu goes after the emitter.
    pMenu->setParent(nullptr);
    pMenu->setParent(pDlg, Qt::Popup);
    delete pDlg;
    EXPECT_TRUE(m_modals.empty()) << "a handler ran on a dialog being destroyed";
}
