// Every way of ending the console, with the sensor on a pseudo-terminal: an observing sensor
// gets the stop command exactly once, an idle one gets nothing. Also the routing of buttons and
// spins to the wire, and Enter on a focused push button.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <memory>

#include "console_fixture.h"
#include "protocol.h"
#include "resource_ids.h"
#include "spin_button.h"
#include "support/pty_pair.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes STOP = {0xF0, 0x2F, 0x01, 0x33};

class ClosingTest : public ConsoleTest {
protected:
    ClosingTest() { CMSComm::MapPort(1, QString::fromStdString(m_pty.SlavePath())); }
    ~ClosingTest() override { CMSComm::ClearPortMap(); }

    // A console with COM1 open; observing once the sensor has sent a data frame.
    std::unique_ptr<CSensorDlg> OpenConsole(bool bObserving)
    {
        auto dlg = std::make_unique<CSensorDlg>();
        dlg->show();
        Click(*dlg, IDC_BTN_OPEN);
        EXPECT_TRUE(dlg->m_comm.GetPortOpen());
        if (bObserving) {
            Bytes frame = {0xF0, 0x1F, 0x12, 0x32};
            uint8_t block[proto::BLOCK_LEN] = {};
            frame.insert(frame.end(), block, block + proto::BLOCK_LEN);
            m_pty.Write(frame);
            EXPECT_TRUE(WaitUntil([&] { return dlg->m_bObserving != 0; }));
        }
        m_platform.Advance(SEND_SPACING_MS + 50);
        return dlg;
    }
    void Click(CSensorDlg& dlg, int nID) { qobject_cast<QPushButton*>(dlg.GetDlgItem(nID))->click(); }

    PtyPair m_pty;
};

// A key pressed while w has the focus.
void KeyTo(QWidget* w, Qt::Key key)
{
    w->setFocus();
    QTest::keyClick(w->window()->focusWidget(), key);
}

struct ClosingPath {
    const char* pszName;
    std::function<void(CSensorDlg&)> close;
};

const ClosingPath g_paths[] = {
    {"Esc in a coefficient edit", [](CSensorDlg& d) { KeyTo(d.m_editCoef2, Qt::Key_Escape); }},
    {"close box", [](CSensorDlg& d) { d.close(); }},
    {"Enter in a coefficient edit", [](CSensorDlg& d) { KeyTo(d.m_editCoef1, Qt::Key_Return); }},
    {"Enter in the port field",
     [](CSensorDlg& d) { KeyTo(d.GetDlgItem(IDC_COMBO_PORT), Qt::Key_Return); }},
    {"button 1007", [](CSensorDlg& d) { qobject_cast<QPushButton*>(d.GetDlgItem(IDC_BTN_EXIT))->click(); }},
    {"window torn down", [](CSensorDlg&) {}},  // the test deletes the console
};

} // namespace

TEST_F(ClosingTest, EveryWayOutStopsAnObservingSensorOnce)
{
    ASSERT_TRUE(m_pty.Ok());
    for (bool bObserving : {true, false}) {
        for (const ClosingPath& path : g_paths) {
            SCOPED_TRACE(testing::Message() << path.pszName << (bObserving ? ", observing" : ", idle"));
            std::unique_ptr<CSensorDlg> dlg = OpenConsole(bObserving);
            path.close(*dlg);
            if (std::string(path.pszName) != "window torn down") {
                EXPECT_FALSE(dlg->isVisible());
                EXPECT_EQ(dlg->m_nDestroyCount, 1);
                EXPECT_FALSE(dlg->IsWindow());
            }
            dlg.reset();
            EXPECT_EQ(m_pty.Read(bObserving ? 1000 : 200, bObserving ? STOP.size() : 1), bObserving ? STOP : Bytes());
            // Nothing more afterwards: the destroy handling ran only once.
            EXPECT_TRUE(m_pty.Read(150).empty());
            EXPECT_TRUE(m_modals.empty());
        }
    }
}

TEST_F(ClosingTest, EnterOnAFocusedButtonPressesIt)
{
    ASSERT_TRUE(m_pty.Ok());
    std::unique_ptr<CSensorDlg> dlg = OpenConsole(false);
    QWidget* start = dlg->GetDlgItem(IDC_BTN_START);
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_EQ(m_pty.Read(1000, 4), (Bytes{0xF0, 0x2F, 0x01, 0x32}));
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->m_nDestroyCount, 0);
    // A calibrate button with a bad coefficient answers with its message, the console stays.
    dlg->m_editCoef2->setText(QStringLiteral("256"));
    QWidget* calibrate = dlg->GetDlgItem(IDC_BTN_CALIBRATE2);
    calibrate->setFocus();
    QTest::keyClick(calibrate, Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_EQ(m_modals.size(), 1u);
    EXPECT_EQ(m_modals[0].strText, QStringLiteral("请输入正确的标定系数：(1-255)"));
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(ClosingTest, ButtonsAndSpinsReachTheWire)
{
    ASSERT_TRUE(m_pty.Ok());
    std::unique_ptr<CSensorDlg> dlg = OpenConsole(false);
    EXPECT_EQ(dlg->GetDlgItemText(IDC_BTN_OPEN), QStringLiteral("关闭串口"));
    for (SpinButton* spin : {dlg->m_spinGain1, dlg->m_spinGain2, dlg->m_spinGain3, dlg->m_spinEcgGain, dlg->m_spinVolumeGain})
        EXPECT_TRUE(spin->isEnabled());
    struct { std::function<void()> act; Bytes wire; int nEdit; const char* pszEdit; } rows[] = {
        {[&] { Click(*dlg, IDC_BTN_START); }, {0xF0, 0x2F, 0x01, 0x32}, 0, nullptr},
        {[&] { Click(*dlg, IDC_BTN_STOP); }, {0xF0, 0x2F, 0x01, 0x33}, 0, nullptr},
        {[&] { dlg->m_spinGain1->Step(+1); }, {0xF0, 0x21, 0x02, 0x65, 0x04}, IDC_EDIT_GAIN1, "4"},
        {[&] { dlg->m_spinGain3->Step(-1); }, {0xF0, 0x23, 0x02, 0x65, 0x02}, IDC_EDIT_GAIN3, "2"},
        {[&] { dlg->m_spinVolumeGain->Step(+1); }, {0xF0, 0x2B, 0x02, 0x65, 0x05}, IDC_EDIT_VOLUME_GAIN, "5"},
        {[&] { Click(*dlg, IDC_BTN_ZERO2); }, {0xF0, 0x22, 0x01, 0x34}, 0, nullptr},
        {[&] { Click(*dlg, IDC_BTN_CALIBRATE3); }, {0xF0, 0x23, 0x02, 0x35, 100}, 0, nullptr},
    };
    for (auto& r : rows) {
        m_platform.Advance(SEND_SPACING_MS + 50);
        r.act();
        EXPECT_EQ(m_pty.Read(1000, r.wire.size()), r.wire);
        if (r.nEdit) {
            EXPECT_EQ(dlg->GetDlgItemText(r.nEdit), QString::fromLatin1(r.pszEdit));
        }
    }
    // The open/close button closes again, sending nothing, and the spins follow.
    Click(*dlg, IDC_BTN_OPEN);
    EXPECT_EQ(dlg->GetDlgItemText(IDC_BTN_OPEN), QStringLiteral("打开串口"));
    EXPECT_FALSE(dlg->m_spinGain1->isEnabled());
    EXPECT_TRUE(m_pty.Read(150).empty());
}

TEST_F(ClosingTest, UnpluggedDeviceIsReportedOnce)
{
    ASSERT_TRUE(m_pty.Ok());
    std::unique_ptr<CSensorDlg> dlg = OpenConsole(true);
    m_pty.Close();
    EXPECT_TRUE(WaitUntil([&] { return !dlg->m_comm.GetPortOpen(); }, 3000));
    WaitUntil([] { return false; }, 200);
    ASSERT_EQ(m_modals.size(), 1u);
    EXPECT_EQ(m_modals[0].icon, QMessageBox::Critical);
    EXPECT_EQ(dlg->GetDlgItemText(IDC_BTN_OPEN), QStringLiteral("打开串口"));
    EXPECT_FALSE(dlg->m_spinGain1->isEnabled());
}
