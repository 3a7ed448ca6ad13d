// The spin button on its own, and the application's name and command line.
#include <gtest/gtest.h>

#include <QStringList>
#include <QTest>

#include <vector>

#include "console_app.h"
#include "spin_button.h"

namespace {

struct Step {
    int iPos;    // position when the notification went out
    int iDelta;
};

class SpinTest : public ::testing::Test {
protected:
    SpinTest()
    {
        m_spin.resize(16, 30);
        m_spin.SetRange(1, 5);
        QObject::connect(&m_spin, &SpinButton::DeltaPos, [this](int iPos, int iDelta, int* pResult) {
            EXPECT_EQ(iPos, m_spin.GetPos());  // sent before the position moves
            m_steps.push_back({iPos, iDelta});
            *pResult = m_nRefuse;
        });
    }
    SpinButton m_spin;
    std::vector<Step> m_steps;
    int m_nRefuse = 0;
};

} // namespace

TEST_F(SpinTest, StepsAnnounceTheirSignAndStayInRange)
{
    m_spin.SetPos(4);
    QTest::mouseClick(&m_spin, Qt::LeftButton, {}, QPoint(8, 4));   // upper half: up
    QTest::mouseClick(&m_spin, Qt::LeftButton, {}, QPoint(8, 4));   // at the bound: still announced
    QTest::mouseClick(&m_spin, Qt::LeftButton, {}, QPoint(8, 26));  // lower half: down
    ASSERT_EQ(m_steps.size(), 3u);
    EXPECT_EQ(m_steps[0].iDelta, +1);
    EXPECT_EQ(m_steps[1].iDelta, +1);
    EXPECT_EQ(m_steps[1].iPos, 5);
    EXPECT_EQ(m_steps[2].iDelta, -1);
    EXPECT_EQ(m_spin.GetPos(), 4);
    m_spin.SetRange(5, 1);  // reversed: the up arrow counts down
    m_spin.Step(+1);
    EXPECT_EQ(m_steps.back().iDelta, -1);
}

TEST_F(SpinTest, HandlerCanRefuseTheMove)
{
    m_spin.SetPos(2);
    m_nRefuse = 1;
    m_spin.Step(+1);
    EXPECT_EQ(m_spin.GetPos(), 2);
    EXPECT_EQ(m_steps.size(), 1u);
}

TEST_F(SpinTest, KeysWhenFocusedNothingWhenDisabledNoTabStop)
{
    EXPECT_FALSE(m_spin.focusPolicy() & Qt::TabFocus);
    QTest::keyClick(&m_spin, Qt::Key_Up);
    QTest::keyClick(&m_spin, Qt::Key_Down);
    QTest::keyClick(&m_spin, Qt::Key_Left);  // not a step
    ASSERT_EQ(m_steps.size(), 2u);
    EXPECT_EQ(m_steps[0].iDelta, +1);
    EXPECT_EQ(m_steps[1].iDelta, -1);
    m_spin.setEnabled(false);
    QTest::keyClick(&m_spin, Qt::Key_Up);
    QTest::mouseClick(&m_spin, Qt::LeftButton, {}, QPoint(8, 4));
    m_spin.Step(-1);
    EXPECT_EQ(m_steps.size(), 2u);
}

TEST(ConsoleApp, NameIsTheProgramFileWithoutExtension)
{
    const std::pair<const char*, const char*> rows[] = {
        {"/usr/bin/Veltrin", "Veltrin"},
        {"C:\\Program Files\\Veltrin\\Veltrin.EXE", "Veltrin"},
        {"/opt/x/PulseDemo.exe", "PulseDemo"},
        {"my.tool.exe", "my.tool"},
        {"/home/u/.hidden", ".hidden"},
    };
    for (const auto& [in, want] : rows)
        EXPECT_EQ(ApplicationNameFromPath(QString::fromUtf8(in)), QString::fromUtf8(want)) << in;
}

TEST(ConsoleApp, CommandLine)
{
    auto parse = [](QStringList args) { return ParseConsoleArguments(QStringList{QStringLiteral("Veltrin")} + args); };
    ConsoleOptions o = parse({});
    EXPECT_TRUE(o.strError.isEmpty());
    EXPECT_FALSE(o.bHelp);
    EXPECT_TRUE(o.portMaps.isEmpty());

    o = parse({QStringLiteral("--com"), QStringLiteral("1=/dev/ttyUSB0"), QStringLiteral("--com=3=/tmp/a b")});
    EXPECT_TRUE(o.strError.isEmpty());
    EXPECT_EQ(o.portMaps, (QStringList{QStringLiteral("1=/dev/ttyUSB0"), QStringLiteral("3=/tmp/a b")}));

    o = parse({QStringLiteral("--help")});
    EXPECT_TRUE(o.bHelp);
    EXPECT_TRUE(o.strHelpText.contains(QStringLiteral("--com")));

    for (const char* bad : {"--bogus", "stray", "--com"})
        EXPECT_FALSE(parse({QString::fromLatin1(bad)}).strError.isEmpty()) << bad;

    QString strError;
    ConsoleOptions malformed;
    malformed.portMaps = QStringList{QStringLiteral("x=/dev/null")};
    EXPECT_FALSE(ApplyConsoleOptions(malformed, &strError));
    EXPECT_TRUE(strError.contains(QStringLiteral("x=/dev/null")));
}
