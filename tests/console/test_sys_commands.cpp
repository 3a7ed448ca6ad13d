// Commands added beside About on the system menu: reached from the background menu and by
// OnSysCommand, their text changeable, About still last and still the box for 16..31.
#include <QMenu>

#include "console_fixture.h"
#include "resource_ids.h"

namespace {

TEST_F(ConsoleTest, AddedSystemCommandsRunTheirHandlers)
{
    CSensorDlg dlg;
    int nRecord = 0;
    int nPorts = 0;
    dlg.AddSysCommand(IDM_RECORD, QStringLiteral("开始记录..."), [&] { ++nRecord; });
    dlg.AddSysCommand(IDM_PORT_SETTINGS, QStringLiteral("端口设置..."), [&] { ++nPorts; });

    EXPECT_TRUE(dlg.OnSysCommand(IDM_RECORD, 0));
    EXPECT_TRUE(dlg.OnSysCommand(IDM_PORT_SETTINGS + 3, 0));  // the low four bits are the system's
    EXPECT_EQ(nRecord, 1);
    EXPECT_EQ(nPorts, 1);
    EXPECT_EQ(dlg.m_nDefaultSysCommands, 0);
    EXPECT_TRUE(m_modals.empty());
    EXPECT_TRUE(dlg.OnSysCommand(IDM_ABOUTBOX, 0));
    EXPECT_EQ(m_modals.size(), 1u);
    EXPECT_FALSE(dlg.OnSysCommand(32, 0));
    EXPECT_EQ(dlg.m_nDefaultSysCommands, 1);

#ifndef _WIN32
    QMenu* menu = dlg.SystemMenu();
    ASSERT_NE(menu, nullptr);
    QList<QAction*> acts = menu->actions();
    ASSERT_GE(acts.size(), 5);
    EXPECT_EQ(acts.last()->data().toUInt(), unsigned(IDM_ABOUTBOX));
    EXPECT_TRUE(acts[acts.size() - 2]->isSeparator());
    EXPECT_EQ(acts[acts.size() - 4]->text(), QStringLiteral("开始记录..."));
    EXPECT_EQ(acts[acts.size() - 3]->text(), QStringLiteral("端口设置..."));

    dlg.SetSysCommandText(IDM_RECORD, QStringLiteral("停止记录"));
    EXPECT_EQ(acts[acts.size() - 4]->text(), QStringLiteral("停止记录"));
    acts[acts.size() - 4]->trigger();
    EXPECT_EQ(nRecord, 2);
#endif
    dlg.done(0);
}

} // namespace
