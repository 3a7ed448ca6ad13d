// Zoom commands, the context menu and the routing of commands and right-button releases.
#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <string>

#include "chart_fixture.h"
#include "zoom_menu.h"

namespace {

std::string Text(const QAction* a) { return a->text().toStdString(); }

void ZoomIn(CWaveChart& chart, int n)
{
    for (int i = 0; i < n; ++i)
        ASSERT_TRUE(chart.OnCommand(ID_ZOOM_IN));
}

void ZoomOut(CWaveChart& chart, int n)
{
    for (int i = 0; i < n; ++i)
        ASSERT_TRUE(chart.OnCommand(ID_ZOOM_OUT));
}

TEST(WaveZoom, ZoomInActsOnYAloneAtStartUp)
{
    auto chart = MakeChart();
    ZoomIn(*chart, 1);
    EXPECT_EQ(chart->m_nZoomX, 60);
    EXPECT_EQ(chart->m_nZoomY, 20);
    auto menu = chart->BuildContextMenu();
    EXPECT_EQ(Text(FindMenuItem(menu.get(), ID_ZOOM_INFO)), "[X=60%; Y=20%]");
}

TEST(WaveZoom, BothAxesClimbToTheLimitThenTheNextZoomInResets)
{
    auto chart = MakeChart(890, 507);
    chart->OnCommand(ID_ZOOM_XAXIS);
    for (int i = 1; i <= 37; ++i) {
        ZoomIn(*chart, 1);
        ASSERT_EQ(chart->m_nZoomX, std::min(60 + 5 * i, 200)) << i;
        ASSERT_EQ(chart->m_nZoomY, 15 + 5 * i) << i;
        ASSERT_EQ(chart->m_nCapacity, wavegeo::CapacityForWidth(890, 100, chart->m_nZoomX)) << i;
        if (i == 28) {
            EXPECT_EQ(chart->m_nZoomX, 200);
        }
    }
    EXPECT_EQ(chart->m_nZoomY, 200);
    EXPECT_EQ(chart->m_nCapacity, 445); // half the width
    ZoomIn(*chart, 1);
    EXPECT_EQ(chart->m_nZoomX, 60);
    EXPECT_EQ(chart->m_nZoomY, 15);
    EXPECT_EQ(chart->m_nCapacity, 1483);
}

TEST(WaveZoom, BothAtTheLowerLimitZoomOutResets)
{
    auto chart = MakeChart(890, 507);
    chart->OnCommand(ID_ZOOM_XAXIS);
    ZoomOut(*chart, 10);
    EXPECT_EQ(chart->m_nZoomX, 10);
    EXPECT_EQ(chart->m_nZoomY, 10);
    EXPECT_EQ(chart->m_nCapacity, 6800);
    ZoomOut(*chart, 1);
    EXPECT_EQ(chart->m_nZoomX, 60);
    EXPECT_EQ(chart->m_nZoomY, 15);
}

TEST(WaveZoom, OneAxisStopsAtItsLimitUntilTheOtherGetsThere)
{
    struct Case {
        const char* name;
        int bZoomX, bZoomY, nZoomX, nZoomY;
        int nCommand;
        int nExpectX, nExpectY;
    };
    const Case cases[] = {
        { "only X, X at 200", 1, 0, 200, 15, ID_ZOOM_IN, 200, 15 },
        { "only Y, Y at 200", 0, 1, 60, 200, ID_ZOOM_IN, 60, 200 },
        { "only X, X at 10", 1, 0, 10, 15, ID_ZOOM_OUT, 10, 15 },
        { "both off", 0, 0, 35, 40, ID_ZOOM_IN, 35, 40 },
        { "both off", 0, 0, 35, 40, ID_ZOOM_OUT, 35, 40 },
        { "both off at 200", 0, 0, 200, 200, ID_ZOOM_IN, 60, 15 },
        { "both off at 10", 0, 0, 10, 10, ID_ZOOM_OUT, 60, 15 },
        { "only Y, X at 10 is not a reset", 0, 1, 10, 10, ID_ZOOM_IN, 10, 15 },
    };
    for (const Case& c : cases) {
        auto chart = MakeChart(890, 507);
        chart->m_bZoomX = c.bZoomX;
        chart->m_bZoomY = c.bZoomY;
        chart->m_nZoomX = c.nZoomX;
        chart->m_nZoomY = c.nZoomY;
        chart->OnCommand(c.nCommand);
        EXPECT_EQ(chart->m_nZoomX, c.nExpectX) << c.name;
        EXPECT_EQ(chart->m_nZoomY, c.nExpectY) << c.name;
        // The store is re-fitted even when no factor moved.
        EXPECT_EQ(chart->m_nCapacity, wavegeo::CapacityForWidth(890, 100, c.nExpectX)) << c.name;
    }
}

TEST(WaveZoom, ShiftResetsWhateverTheSwitchesSay)
{
    for (int nCommand : { ID_ZOOM_IN, ID_ZOOM_OUT }) {
        auto chart = MakeChart(890, 507);
        chart->m_nZoomX = 125;
        chart->m_nZoomY = 90;
        chart->m_bZoomX = 0;
        chart->m_bZoomY = 0;
        chart->m_fnShiftDown = [] { return true; };
        chart->OnCommand(nCommand);
        EXPECT_EQ(chart->m_nZoomX, 60) << nCommand;
        EXPECT_EQ(chart->m_nZoomY, 15) << nCommand;
        EXPECT_EQ(chart->m_nCapacity, 1483) << nCommand;
    }
}

TEST(WaveZoom, ZoomRefitKeepsTheOldestSamples)
{
    auto chart = MakeChart(890, 507);
    chart->OnScrolling();
    AddNumbered(*chart, 0, 2000); // wrapped ring of the latest 1483
    chart->m_bZoomX = 1;
    chart->m_bZoomY = 0;
    ZoomIn(*chart, 1); // X 65 %: 1369 fit
    EXPECT_EQ(chart->m_nCapacity, 1369);
    EXPECT_EQ(Displayed(*chart), Range(2000 - 1483, 1369));
}

TEST(WaveMenu, ResourceHasThePopupItemsInOrder)
{
    auto menu = LoadMenuResource(IDR_ZOOM_MENU);
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(Text(menu->actions()[0]), "_Zoom_");
    QMenu* popup = GetSubMenu(menu.get(), 0);
    ASSERT_NE(popup, nullptr);

    struct Item { const char* text; int nID; bool bSeparator; };
    const Item items[] = {
        { "放大", ID_ZOOM_IN, false },
        { "缩小", ID_ZOOM_OUT, false },
        { "", 0, true },
        { "缩放模式", 0, false },
        { "波形显示", 0, false },
        { "", 0, true },
        { "{x=100%; y=100%}", ID_ZOOM_INFO, false },
    };
    const QList<QAction*> actions = popup->actions();
    ASSERT_EQ(actions.size(), int(std::size(items)));
    for (int i = 0; i < actions.size(); ++i) {
        EXPECT_EQ(actions[i]->isSeparator(), items[i].bSeparator) << i;
        if (items[i].bSeparator)
            continue;
        EXPECT_EQ(Text(actions[i]), items[i].text) << i;
        EXPECT_TRUE(actions[i]->isEnabled()) << i;
        EXPECT_FALSE(actions[i]->isChecked()) << i;
        if (items[i].nID) {
            EXPECT_EQ(actions[i]->data().toInt(), items[i].nID) << i;
        }
    }

    struct Sub { int nPos; const char* first; int nFirst; const char* second; int nSecond; };
    const Sub subs[] = {
        { 3, "缩放X轴向", ID_ZOOM_XAXIS, "缩放Y轴向", ID_ZOOM_YAXIS },
        { 4, "翻屏显示", ID_WAVE_PAGEFLIP, "滚动显示", ID_WAVE_SCROLL },
    };
    for (const Sub& s : subs) {
        QMenu* sub = GetSubMenu(popup, s.nPos);
        ASSERT_NE(sub, nullptr) << s.nPos;
        ASSERT_EQ(sub->actions().size(), 2);
        EXPECT_EQ(Text(sub->actions()[0]), s.first);
        EXPECT_EQ(sub->actions()[0]->data().toInt(), s.nFirst);
        EXPECT_EQ(Text(sub->actions()[1]), s.second);
        EXPECT_EQ(sub->actions()[1]->data().toInt(), s.nSecond);
    }
    EXPECT_EQ(LoadMenuResource(12345), nullptr);
}

TEST(WaveMenu, MarksAndReadOutFollowTheStateAtEveryDisplay)
{
    struct Case {
        const char* name;
        std::vector<int> commands; // applied in order from start-up
        bool bX, bY, bPageFlip, bScroll;
        const char* info;
    };
    const Case cases[] = {
        { "start-up", {}, false, true, true, false, "[X=60%; Y=15%]" },
        { "X on", { ID_ZOOM_XAXIS }, true, true, true, false, "[X=60%; Y=15%]" },
        { "Y off", { ID_ZOOM_YAXIS }, false, false, true, false, "[X=60%; Y=15%]" },
        { "scrolling, zoomed", { ID_WAVE_SCROLL, ID_ZOOM_XAXIS, ID_ZOOM_IN, ID_ZOOM_IN },
          true, true, false, true, "[X=70%; Y=25%]" },
        { "back to page-flip, axes swapped",
          { ID_WAVE_SCROLL, ID_WAVE_PAGEFLIP, ID_ZOOM_XAXIS, ID_ZOOM_YAXIS, ID_ZOOM_OUT },
          true, false, true, false, "[X=55%; Y=15%]" },
    };
    for (const Case& c : cases) {
        auto chart = MakeChart();
        for (int nID : c.commands)
            chart->OnCommand(nID);
        auto menu = chart->BuildContextMenu();
        ASSERT_TRUE(menu) << c.name;
        QMenu* popup = GetSubMenu(menu.get(), 0);
        EXPECT_EQ(FindMenuItem(popup, ID_ZOOM_XAXIS)->isChecked(), c.bX) << c.name;
        EXPECT_EQ(FindMenuItem(popup, ID_ZOOM_YAXIS)->isChecked(), c.bY) << c.name;
        EXPECT_EQ(FindMenuItem(popup, ID_WAVE_PAGEFLIP)->isChecked(), c.bPageFlip) << c.name;
        EXPECT_EQ(FindMenuItem(popup, ID_WAVE_SCROLL)->isChecked(), c.bScroll) << c.name;
        EXPECT_FALSE(FindMenuItem(popup, ID_ZOOM_IN)->isChecked()) << c.name;
        QAction* info = FindMenuItem(popup, ID_ZOOM_INFO);
        EXPECT_EQ(Text(info), c.info) << c.name;
        EXPECT_TRUE(info->isEnabled()) << c.name;
        EXPECT_EQ(popup->actions().last(), info) << c.name;
    }
}

TEST(WaveMenu, AxisSwitchesChangeNothingButTheSwitch)
{
    auto chart = MakeChart();
    AddNumbered(*chart, 0, 50);
    chart->OnCommand(ID_ZOOM_XAXIS);
    chart->OnCommand(ID_ZOOM_YAXIS);
    EXPECT_EQ(chart->m_bZoomX, 1);
    EXPECT_EQ(chart->m_bZoomY, 0);
    EXPECT_EQ(chart->m_nZoomX, 60);
    EXPECT_EQ(chart->m_nZoomY, 15);
    EXPECT_EQ(chart->m_nCount, 50);
    EXPECT_FALSE(chart->OnCommand(ID_ZOOM_INFO)); // the read-out has no handler
    EXPECT_FALSE(chart->OnCommand(0));
}

// Sends a right-button release to the control as the window system would.
void ReleaseRightButton(CWaveChart& chart, Qt::MouseButton button = Qt::RightButton)
{
    QMouseEvent ev(QEvent::MouseButtonRelease, QPointF(10, 10), chart.mapToGlobal(QPointF(10, 10)),
                   button, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&chart, &ev);
}

TEST(WaveMenu, RightButtonReleaseShowsTheMenuAndRoutesTheChoice)
{
    auto chart = MakeChart();
    int nShown = 0;
    std::string strInfo;
    int nChoose = ID_WAVE_SCROLL;
    chart->m_fnTrackPopup = [&](QMenu& popup, const QPoint&) {
        ++nShown;
        strInfo = Text(FindMenuItem(&popup, ID_ZOOM_INFO));
        return FindMenuItem(&popup, nChoose);
    };

    ReleaseRightButton(*chart);
    EXPECT_EQ(nShown, 1);
    EXPECT_EQ(strInfo, "[X=60%; Y=15%]");
    EXPECT_EQ(chart->m_bScroll, 1);

    nChoose = ID_ZOOM_IN;
    ReleaseRightButton(*chart);
    EXPECT_EQ(nShown, 2);
    EXPECT_EQ(chart->m_nZoomY, 20);

    nChoose = ID_ZOOM_INFO; // choosing the read-out does nothing
    ReleaseRightButton(*chart);
    EXPECT_EQ(nShown, 3);
    EXPECT_EQ(chart->m_nZoomY, 20);
    EXPECT_EQ(strInfo, "[X=60%; Y=20%]");

    ReleaseRightButton(*chart, Qt::LeftButton);
    EXPECT_EQ(nShown, 3);

    chart->m_fnTrackPopup = [&](QMenu&, const QPoint&) -> QAction* { ++nShown; return nullptr; };
    ReleaseRightButton(*chart); // menu dismissed
    EXPECT_EQ(nShown, 4);
    EXPECT_EQ(chart->m_bScroll, 1);
    EXPECT_EQ(chart->m_nZoomY, 20);
}

} // namespace
