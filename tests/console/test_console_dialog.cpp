// The console dialog against its template, its initial state, the rendered readouts and
// waveform field, the system-menu commands and the About box.
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "about_dlg.h"
#include "console_fixture.h"
#include "frame_decoder.h"
#include "protocol.h"
#include "resource_ids.h"
#include "spin_button.h"
#include "support/pty_pair.h"

namespace {

const char* KindName(const QWidget* w)
{
    if (qobject_cast<const SpinButton*>(w)) return "spin";
    if (qobject_cast<const QPushButton*>(w)) return "button";
    if (qobject_cast<const QGroupBox*>(w)) return "group";
    if (qobject_cast<const QComboBox*>(w)) return "combo";
    if (qobject_cast<const QLineEdit*>(w)) return "edit";
    if (qobject_cast<const QLabel*>(w)) return "label";
    if (qobject_cast<const QFrame*>(w)) return "frame";
    return "?";
}

const char* KindName(CtlKind k)
{
    switch (k) {
    case CtlKind::PushButton: case CtlKind::DefPushButton: return "button";
    case CtlKind::GroupBox: return "group";
    case CtlKind::ComboBox: return "combo";
    case CtlKind::Frame: return "frame";
    case CtlKind::Edit: return "edit";
    case CtlKind::Label: case CtlKind::Icon: return "label";
    case CtlKind::SpinButton: return "spin";
    case CtlKind::SerialControl: return "none";
    }
    return "?";
}

QString CaptionOf(const QWidget* w)
{
    if (auto* b = qobject_cast<const QPushButton*>(w)) return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    return QString();
}

bool UmingInUse(const CDialogLayout& layout)
{
    return QFontInfo(layout.Font()).family() == QLatin1String(DIALOG_FONT_FALLBACK);
}

// Feeds one data frame with these static pressures through the ring and the decoder.
void FeedPressures(CSensorDlg& dlg, uint16_t p1, uint16_t p2, uint16_t p3)
{
    const uint16_t words[proto::BLOCK_WORDS] = {p1, 400, p2, 500, p3, 600, 450, 300};
    uint8_t frame[proto::DATA_FRAME_LEN] = {proto::SYNC, proto::INBOUND_ADDR, 0x12, proto::CODE_DATA};
    proto::BuildSampleBlock(words, frame + proto::HEADER_LEN);
    dlg.m_ring.Append(frame, proto::DATA_FRAME_LEN);
    DecodeFrames(dlg.m_ring, dlg);
}

// Bounding box of the white pixels of img inside rc (empty when none).
QRect WhiteBox(const QImage& img, const QRect& rc)
{
    QRect box;
    for (int y = rc.top(); y <= rc.bottom(); ++y)
        for (int x = rc.left(); x <= rc.right(); ++x)
            if (img.pixelColor(x, y) == QColor(255, 255, 255))
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero)
{
    struct { int a, b, c, want; } rows[] = {
        {381, 12, 8, 572},   // 571.5
        {-381, 12, 8, -572},
        {7, 3, 2, 11},       // 10.5
        {558, 6, 4, 837},
        {5, 1, 0, -1},       // division by zero
        {0x7FFFFFFF, 2, 2, 0x7FFFFFFF},  // no overflow in the product
    };
    for (const auto& r : rows)
        EXPECT_EQ(MulDiv(r.a, r.b, r.c), r.want) << r.a << "*" << r.b << "/" << r.c;
}

TEST(DialogUnits, EachEdgeConvertedOnItsOwn)
{
    // Widths come from converted edges: adjoining rectangles stay adjoining.
    const DlgBaseUnits u{6, 12};
    EXPECT_EQ(MapDialogRect(QRect(558, 381, 48, 13), u), QRect(837, 572, 72, 19));
    EXPECT_EQ(MapDialogRect(QRect(552, 266, 108, 80), u), QRect(828, 399, 162, 120));
    EXPECT_EQ(MapDialogRect(QRect(0, 0, 676, 462), u), QRect(0, 0, 1014, 693));
    const QRect a = MapDialogRect(QRect(1, 1, 1, 1), u), b = MapDialogRect(QRect(2, 2, 1, 1), u);
    EXPECT_EQ(a.right() + 1, b.left());
    EXPECT_EQ(a.bottom() + 1, b.top());
}

TEST_F(ConsoleTest, ControlsMatchTheTemplate)
{
    CSensorDlg dlg;
    const CDialogLayout& layout = dlg.Layout();
    const DlgTemplate& t = SensorDialogTemplate();
    ASSERT_EQ(layout.Items().size(), t.nItems);
    if (UmingInUse(layout)) {
        EXPECT_EQ(layout.BaseUnits().cx, 6);
        EXPECT_EQ(layout.BaseUnits().cy, 12);
        EXPECT_EQ(dlg.size(), QSize(1014, 693));
    }
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("脉象传感器演示"));
    for (int i = 0; i < t.nItems; ++i) {
        const DlgItemTemplate& item = t.pItems[i];
        QWidget* w = layout.Items()[i];
        SCOPED_TRACE(testing::Message() << "item " << i << " id " << item.nID);
        if (item.kind == CtlKind::SerialControl) {
            EXPECT_EQ(w, nullptr);  // the serial layer draws nothing
            continue;
        }
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(KindName(w), KindName(item.kind));
        if (item.nID != -1) {
            EXPECT_EQ(dlg.GetDlgItem(item.nID), w);
        }
        if (item.pszText) {
            EXPECT_EQ(CaptionOf(w), QString::fromUtf8(item.pszText));
        }
        const QRect rc = layout.MapDialogRect(QRect(item.x, item.y, item.cx, item.cy));
        if (item.kind == CtlKind::ComboBox) {
            // The template's height is the dropped list's; the closed field is shorter.
            EXPECT_EQ(w->geometry().topLeft(), rc.topLeft());
            EXPECT_EQ(w->width(), rc.width());
            EXPECT_LE(w->height(), rc.height());
        } else {
            EXPECT_EQ(w->geometry(), rc);
        }
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            EXPECT_EQ(e->isReadOnly(), bool(item.nStyle & CS_READONLY));
            EXPECT_EQ(e->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        }
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            EXPECT_FALSE(b->autoDefault() || b->isDefault());
        }
        EXPECT_EQ(bool(w->focusPolicy() & Qt::TabFocus), bool(item.nStyle & CS_TABSTOP));
    }
    auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_COMBO_PORT));
    ASSERT_EQ(combo->count(), 16);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("COM1"));
    EXPECT_EQ(combo->itemText(15), QStringLiteral("COM16"));
    EXPECT_TRUE(combo->isEditable());
    EXPECT_TRUE(dlg.GetDlgItem(IDC_FRAME_PRESSURE_AREA)->isHidden());
    // The waveform control is child 100 over frame 1005, which stays.
    EXPECT_EQ(dlg.GetDlgItem(IDC_WAVECHART), &dlg.m_waveChart);
    EXPECT_EQ(dlg.m_waveChart.geometry(), dlg.GetDlgItem(IDC_FRAME_WAVE)->geometry());
    EXPECT_FALSE(dlg.GetDlgItem(IDC_FRAME_WAVE)->isHidden());
}

TEST_F(ConsoleTest, StatusLabelCoversNoControl)
{
    CSensorDlg dlg;
    const QRect rc = dlg.m_stStatus->geometry();
    for (QWidget* w : dlg.Layout().Items())
        if (w && !qobject_cast<QGroupBox*>(w) && !w->isHidden()) {
            EXPECT_FALSE(rc.intersects(w->geometry())) << w->objectName().toStdString();
        }
}

TEST_F(ConsoleTest, TabOrderIsTemplateOrderAndFocusStartsOnOpen)
{
    CSensorDlg dlg;
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    EXPECT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(IDC_BTN_OPEN));
    const int want[] = {IDC_BTN_START, IDC_BTN_STOP, IDC_COMBO_PORT, IDC_BTN_EXIT, IDC_EDIT_GAIN1,
                        IDC_EDIT_GAIN2, IDC_EDIT_GAIN3, IDC_EDIT_ECG_GAIN, IDC_EDIT_VOLUME_GAIN,
                        IDC_EDIT_COEF1, IDC_BTN_ZERO1, IDC_BTN_CALIBRATE1, IDC_EDIT_COEF2, IDC_BTN_ZERO2,
                        IDC_BTN_CALIBRATE2, IDC_EDIT_COEF3, IDC_BTN_ZERO3, IDC_BTN_CALIBRATE3, IDC_BTN_OPEN};
    for (int nID : want) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* f = QApplication::focusWidget();
        // The combo's field counts as the combo.
        while (f && ControlIdOf(f) == 0)
            f = f->parentWidget();
        EXPECT_EQ(ControlIdOf(f), nID);
    }
    dlg.done(0);
}

TEST_F(ConsoleTest, InitialState)
{
    CSensorDlg dlg;
    auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_COMBO_PORT));
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(combo->currentText(), QStringLiteral("COM1"));
    const std::pair<int, const char*> texts[] = {
        {IDC_EDIT_GAIN1, "3"}, {IDC_EDIT_GAIN2, "3"}, {IDC_EDIT_GAIN3, "3"}, {IDC_EDIT_ECG_GAIN, "3"},
        {IDC_EDIT_VOLUME_GAIN, "4"}, {IDC_EDIT_COEF1, "100"}, {IDC_EDIT_COEF2, "100"},
        {IDC_EDIT_COEF3, "100"}, {IDC_BTN_OPEN, "打开设备"}};
    for (const auto& [nID, pszText] : texts)
        EXPECT_EQ(dlg.GetDlgItemText(nID), QString::fromUtf8(pszText)) << nID;
    for (int nID : {IDC_SPIN_GAIN1, IDC_SPIN_GAIN2, IDC_SPIN_GAIN3, IDC_SPIN_ECG_GAIN, IDC_SPIN_VOLUME_GAIN})
        EXPECT_FALSE(dlg.GetDlgItem(nID)->isEnabled()) << nID;
    for (int nID : {IDC_BTN_OPEN, IDC_BTN_START, IDC_BTN_STOP, IDC_BTN_EXIT, IDC_BTN_ZERO1, IDC_BTN_CALIBRATE3})
        EXPECT_TRUE(dlg.GetDlgItem(nID)->isEnabled()) << nID;
    int lo = 0, hi = 0;
    dlg.m_spinVolumeGain->GetRange(lo, hi);
    EXPECT_EQ(hi, 8);
    dlg.m_spinGain1->GetRange(lo, hi);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 5);
    EXPECT_EQ(dlg.m_nStaticPressure1 + dlg.m_nStaticPressure2 + dlg.m_nStaticPressure3, 0);
    EXPECT_TRUE(dlg.m_stStatus->text().isEmpty());
    // Nothing sent, nothing pending, nothing shown.
    EXPECT_TRUE(m_platform.m_strDebug.empty());
    EXPECT_EQ(dlg.m_byPendingCode, 0);
    EXPECT_EQ(dlg.m_nSendCount, 0);
    EXPECT_TRUE(m_modals.empty());
    EXPECT_TRUE(dlg.IsWindow());
}

TEST_F(ConsoleTest, TypingIntoThePortFieldLeavesNoSelection)
{
    CSensorDlg dlg;
    auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_COMBO_PORT));
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("COM3"));
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->currentText(), QStringLiteral("COM3"));
    qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_BTN_OPEN))->click();
    ASSERT_EQ(m_modals.size(), 1u);
    EXPECT_EQ(m_modals[0].strText, QStringLiteral("请选择串口号!"));
    EXPECT_EQ(m_modals[0].strTitle, QCoreApplication::applicationName());
    EXPECT_EQ(m_modals[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(m_modals[0].nButtons, 1);
    EXPECT_FALSE(dlg.m_comm.GetPortOpen());
}

TEST_F(ConsoleTest, SerialErrorShownInStopBox)
{
    CMSComm::MapPort(1, QStringLiteral("/nonexistent/veltrin-console-tty"));
    CSensorDlg dlg;
    qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_BTN_OPEN))->click();
    CMSComm::ClearPortMap();
    ASSERT_EQ(m_modals.size(), 1u);
    EXPECT_EQ(m_modals[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(m_modals[0].strText.isEmpty());
    EXPECT_EQ(dlg.GetDlgItemText(IDC_BTN_OPEN), QStringLiteral("打开设备"));
}

TEST_F(ConsoleTest, RenderedReadoutsAndWaveField)
{
    CSensorDlg dlg;
    dlg.show();
    FeedPressures(dlg, 65535, 0, 1234);
    const QImage img = dlg.grab().toImage();
    const QColor navy(0, 0, 128);
    const char* digits[] = {"65535 ", "0 ", "1234"};
    QFrame* frames[] = {dlg.m_framePressure1, dlg.m_framePressure2, dlg.m_framePressure3};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(digits[i]);
        const QRect rc = frames[i]->geometry();
        // The navy field covers the whole frame, border included.
        EXPECT_EQ(img.pixelColor(rc.topLeft()), navy);
        EXPECT_EQ(img.pixelColor(rc.bottomRight()), navy);
        EXPECT_EQ(img.pixelColor(rc.left() + 3, rc.top() + 30), navy);
        const QRect box = WhiteBox(img, rc);
        ASSERT_FALSE(box.isEmpty());
        // Text top 25 px down; glyphs start a little below the line's top.
        EXPECT_GE(box.top(), rc.top() + READOUT_TEXT_TOP);
        EXPECT_LE(box.top(), rc.top() + READOUT_TEXT_TOP + 12);
        EXPECT_GE(box.height(), 18);  // 28-px characters: digits about 20 px tall
        // Centred; a trailing blank moves the digits left of centre by half its width.
        const int nOffset = (box.left() + box.right() + 1) / 2 - (rc.left() + rc.right() + 1) / 2;
        if (i < 2) {
            EXPECT_LE(nOffset, -2);
            EXPECT_GE(nOffset, -8);
        } else {
            EXPECT_LE(std::abs(nOffset), 1);
        }
    }
    // Five digits are wider than one.
    EXPECT_GT(WhiteBox(img, frames[0]->geometry()).width(), 3 * WhiteBox(img, frames[1]->geometry()).width());
    // The waveform field fills frame 1005's place.
    const QRect rcWave = dlg.GetDlgItem(IDC_FRAME_WAVE)->geometry();
    EXPECT_EQ(img.pixelColor(rcWave.left() + 2, rcWave.top() + 2), QColor(0, 0, 192));
    EXPECT_EQ(img.pixelColor(rcWave.right() - 2, rcWave.top() + 40), QColor(0, 0, 192));
    dlg.done(0);
}

TEST_F(ConsoleTest, PaintsPaceThePressureRepaints)
{
    CSensorDlg dlg;
    dlg.show();
    struct Counter : QObject {
        int n = 0;
        bool eventFilter(QObject*, QEvent* e) override { n += e->type() == QEvent::Paint; return false; }
    } counters[3];
    QFrame* frames[] = {dlg.m_framePressure1, dlg.m_framePressure2, dlg.m_framePressure3};
    ASSERT_TRUE(WaitUntil([&] { return dlg.m_dwLastPaintTick == m_platform.m_dwTick; }));
    for (int i = 0; i < 3; ++i)
        frames[i]->installEventFilter(&counters[i]);
    auto painted = [&] { return counters[0].n > 0 && counters[1].n > 0 && counters[2].n > 0; };

    // Within 200 ms of the last paint a frame asks for no repaint.
    m_platform.Advance(PRESSURE_REPAINT_MS);
    FeedPressures(dlg, 11, 22, 33);
    WaitUntil([] { return false; }, 100);
    EXPECT_FALSE(painted());
    // Past it, the column is invalidated, all three readouts repaint and the paint time moves on.
    m_platform.Advance(1);
    FeedPressures(dlg, 44, 55, 66);
    EXPECT_TRUE(WaitUntil(painted));
    EXPECT_EQ(dlg.m_dwLastPaintTick, m_platform.m_dwTick);
    dlg.done(0);
}

TEST_F(ConsoleTest, SystemCommands)
{
    CSensorDlg dlg;
    struct { unsigned nID; bool bAbout; } rows[] = {{16, true}, {31, true}, {15, false}, {32, false}, {0xF010, false}};
    for (const auto& r : rows) {
        m_modals.clear();
        const int nPassed = dlg.m_nDefaultSysCommands;
        EXPECT_EQ(dlg.OnSysCommand(r.nID, 0), r.bAbout) << r.nID;
        if (r.bAbout) {
            ASSERT_EQ(m_modals.size(), 1u);
            EXPECT_EQ(m_modals[0].strClass, QStringLiteral("CAboutDlg"));
            EXPECT_EQ(m_modals[0].strTitle, QStringLiteral("关于 Veltrin"));
            EXPECT_EQ(dlg.m_nDefaultSysCommands, nPassed);
        } else {
            EXPECT_TRUE(m_modals.empty()) << r.nID;
            EXPECT_EQ(dlg.m_nLastDefaultSysCommand, r.nID);
            EXPECT_EQ(dlg.m_nDefaultSysCommands, nPassed + 1);
        }
    }
}

#ifndef _WIN32
TEST_F(ConsoleTest, BackgroundMenuCarriesTheAboutItem)
{
    CSensorDlg dlg;
    dlg.show();
    QMenu* menu = dlg.SystemMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> acts = menu->actions();
    ASSERT_GE(acts.size(), 2);
    EXPECT_TRUE(acts[acts.size() - 2]->isSeparator());
    QAction* about = acts.last();
    EXPECT_EQ(about->text(), QStringLiteral("关于 Veltrin(&A)..."));
    EXPECT_EQ(about->data().toUInt(), 16u);
    about->trigger();
    ASSERT_EQ(m_modals.size(), 1u);
    EXPECT_EQ(m_modals[0].strClass, QStringLiteral("CAboutDlg"));

    // A right click on the background opens it; one over the waveform control does not.
    const QPoint onWave = dlg.m_waveChart.geometry().center();
    QContextMenuEvent waveClick(QContextMenuEvent::Mouse, onWave, dlg.mapToGlobal(onWave));
    QApplication::sendEvent(&dlg, &waveClick);
    EXPECT_FALSE(menu->isVisible());
    const QPoint background(dlg.width() - 3, dlg.height() - 3);
    QContextMenuEvent bgClick(QContextMenuEvent::Mouse, background, dlg.mapToGlobal(background));
    QApplication::sendEvent(&dlg, &bgClick);
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
    dlg.done(0);
}
#endif

TEST_F(ConsoleTest, AboutBoxFollowsTemplate100)
{
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("关于 Veltrin"));
    EXPECT_EQ(about.size(), about.Layout().MapDialogRect(QRect(0, 0, 235, 55)).size());
    const QList<QWidget*>& items = about.Layout().Items();
    ASSERT_EQ(items.size(), 4);
    auto* icon = qobject_cast<QLabel*>(items[0]);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(qobject_cast<QLabel*>(items[1])->text(), QStringLiteral("Veltrin 1.0 版"));
    auto* ok = qobject_cast<QPushButton*>(about.Layout().GetDlgItem(1));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), QStringLiteral("确定"));
    EXPECT_TRUE(ok->isDefault());
    ok->click();
    EXPECT_EQ(about.result(), QDialog::Accepted);
}
