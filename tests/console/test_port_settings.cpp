// The port settings dialog and the port list's tooltip: entries chosen from the detected ports
// or typed, kept in a settings file of the test's own and shown again; a map that cannot be
// written is reported; the console's background menu opens the dialog and the accepted map is
// in force for the next open.
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "console_fixture.h"
#include "port_settings_dlg.h"
#include "resource_ids.h"

namespace {

DetectedPort Port(const char* pszPath, const char* pszDescription, bool bUsb)
{
    DetectedPort p;
    p.strPath = QString::fromLatin1(pszPath);
    p.strDescription = QString::fromLatin1(pszDescription);
    p.bUsb = bUsb;
    p.nVendorId = bUsb ? 0x0403 : 0;
    p.nProductId = bUsb ? 0x6001 : 0;
    return p;
}

class PortSettingsTest : public ConsoleTest {
protected:
    PortSettingsTest() { EXPECT_TRUE(m_dir.isValid()); }
    ~PortSettingsTest() override
    {
        SetActivePortMap(nullptr);
        CMSComm::ClearPortMap();
    }
    QString SettingsFile() const { return m_dir.filePath(QStringLiteral("veltrin.conf")); }
    QMap<int, QString> Stored() const
    {
        CPortMap fresh(SettingsFile());
        fresh.Load();
        return fresh.Kept();
    }

    QTemporaryDir m_dir;
    const QList<DetectedPort> m_ports = {Port("/dev/ttyS0", "", false),
                                         Port("/dev/ttyUSB0", "FT232R USB UART", true)};
};

#ifndef _WIN32
TEST_F(PortSettingsTest, EntriesAreKeptAndShownAgain)
{
    CPortMap map(SettingsFile());
    map.SetDetected(m_ports);
    {
        CPortSettingsDlg dlg(map);
        QTreeWidget* list = dlg.DetectedList();
        ASSERT_EQ(list->topLevelItemCount(), 2);
        EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("/dev/ttyUSB0"));
        EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("FT232R USB UART"));
        EXPECT_EQ(list->topLevelItem(1)->text(4), QStringLiteral("0403:6001"));
        // COM1's default names the one adapter it stands for while nothing is kept.
        EXPECT_TRUE(dlg.EntryField(1)->itemText(0).contains(QStringLiteral("/dev/ttyUSB0")));
        EXPECT_FALSE(dlg.EntryField(2)->itemText(0).contains(QStringLiteral("/dev/ttyUSB0")));

        QComboBox* com2 = dlg.EntryField(2);
        com2->setCurrentIndex(com2->findData(QStringLiteral("/dev/ttyUSB0")));
        QLineEdit* com5 = dlg.EntryField(5)->lineEdit();
        com5->selectAll();
        QTest::keyClicks(com5, QStringLiteral("/dev/serial/by-id/usb-FTDI-if00"));
        EXPECT_TRUE(dlg.EnteredPath(1).isEmpty());
        dlg.accept();
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }
    const QMap<int, QString> want{{2, QStringLiteral("/dev/ttyUSB0")},
                                  {5, QStringLiteral("/dev/serial/by-id/usb-FTDI-if00")}};
    EXPECT_EQ(map.Kept(), want);
    EXPECT_EQ(Stored(), want);

    // The next start: the adapter is unplugged, the kept entries are still shown as they were.
    CPortMap next(SettingsFile());
    next.Load();
    CPortSettingsDlg again(next);
    EXPECT_EQ(again.EnteredPath(2), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(again.EnteredPath(5), QStringLiteral("/dev/serial/by-id/usb-FTDI-if00"));
    EXPECT_TRUE(again.EnteredPath(3).isEmpty());
    again.RestoreDefaults();
    again.accept();
    EXPECT_TRUE(next.Kept().isEmpty());
    EXPECT_TRUE(Stored().isEmpty());
}

TEST_F(PortSettingsTest, CancelLeavesTheMapAlone)
{
    CPortMap map(SettingsFile());
    map.SetKept(4, QStringLiteral("/dev/ttyACM0"));
    ASSERT_TRUE(map.Save());
    map.SetDetected(m_ports);
    CPortSettingsDlg dlg(map);
    dlg.RestoreDefaults();
    dlg.reject();
    EXPECT_EQ(map.Kept().value(4), QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(Stored().value(4), QStringLiteral("/dev/ttyACM0"));
}

TEST_F(PortSettingsTest, AMapThatCannotBeWrittenIsReportedAndTheDialogStays)
{
    QFile blocker(m_dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    CPortMap map(m_dir.filePath(QStringLiteral("blocker/veltrin.conf")));
    CPortSettingsDlg dlg(map);
    dlg.EntryField(3)->lineEdit()->setText(QStringLiteral("/dev/ttyUSB7"));
    dlg.accept();
    ASSERT_EQ(m_modals.size(), 1u);
    EXPECT_EQ(m_modals[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(m_modals[0].strText.contains(QStringLiteral("blocker"))) << qPrintable(m_modals[0].strText);
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    EXPECT_TRUE(map.Kept().isEmpty());  // nothing changed that was not kept
}

TEST_F(PortSettingsTest, AnEntryGivenOnTheCommandLineSaysSo)
{
    CPortMap map(SettingsFile());
    map.SetCommandLine(1, QStringLiteral("/tmp/sensor"));
    CPortSettingsDlg dlg(map);
    EXPECT_TRUE(dlg.EntryField(1)->toolTip().contains(QStringLiteral("/tmp/sensor")));
    EXPECT_TRUE(dlg.EntryField(1)->toolTip().contains(QStringLiteral("--com")));
    EXPECT_TRUE(dlg.EntryField(2)->toolTip().isEmpty());
}

TEST_F(PortSettingsTest, TooltipNamesTheDeviceBehindTheSelectedEntry)
{
    CPortMap map(SettingsFile());
    map.SetDetected(m_ports);
    map.Apply();
    SetActivePortMap(&map);
    CSensorDlg dlg;
    auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_COMBO_PORT));
    const QString strAdapterTip = combo->toolTip();
    EXPECT_TRUE(strAdapterTip.contains(QStringLiteral("/dev/ttyUSB0"))) << qPrintable(strAdapterTip);

    map.SetKept(2, QStringLiteral("/dev/ttyACM0"));
    map.SetCommandLine(3, QStringLiteral("/tmp/sensor"));
    map.Apply();
    combo->setCurrentIndex(1);
    EXPECT_TRUE(combo->toolTip().contains(QStringLiteral("/dev/ttyACM0")));
    combo->setCurrentIndex(2);
    EXPECT_TRUE(combo->toolTip().contains(QStringLiteral("/tmp/sensor")));
    EXPECT_TRUE(combo->toolTip().contains(QStringLiteral("--com")));
    combo->setCurrentIndex(0);
    // Something is kept now, so COM1 is back on its default, and the tip says it differently.
    EXPECT_TRUE(combo->toolTip().contains(QStringLiteral("/dev/ttyS0")));
    EXPECT_NE(combo->toolTip(), strAdapterTip);
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("COM9"));  // typed: no entry selected
    ASSERT_EQ(combo->currentIndex(), -1);
    EXPECT_TRUE(combo->toolTip().isEmpty());
    dlg.done(0);
}

TEST_F(PortSettingsTest, BackgroundMenuOpensTheDialogAndTheAcceptedMapIsInForce)
{
    CPortMap map(SettingsFile());
    map.Apply();
    SetActivePortMap(&map);
    CSensorDlg dlg;
    QMenu* menu = dlg.SystemMenu();
    ASSERT_NE(menu, nullptr);
    QAction* pPorts = nullptr;
    for (QAction* a : menu->actions())
        if (a->data().toUInt() == IDM_PORT_SETTINGS)
            pPorts = a;
    ASSERT_NE(pPorts, nullptr);
    EXPECT_EQ(menu->actions().last()->data().toUInt(), unsigned(IDM_ABOUTBOX));

    // The operator types a device for COM3 and confirms.
    ScopedModalHook answer([](QDialog& box) {
        auto* pSettings = qobject_cast<CPortSettingsDlg*>(&box);
        if (!pSettings)
            return 0;
        pSettings->EntryField(3)->lineEdit()->setText(QStringLiteral("/dev/ttyUSB5"));
        pSettings->accept();
        return pSettings->result();
    });
    pPorts->trigger();
    EXPECT_EQ(Stored().value(3), QStringLiteral("/dev/ttyUSB5"));
    EXPECT_EQ(CMSComm::PortDevicePath(3), QStringLiteral("/dev/ttyUSB5"));
    auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_COMBO_PORT));
    combo->setCurrentIndex(2);
    EXPECT_TRUE(combo->toolTip().contains(QStringLiteral("/dev/ttyUSB5")));
    dlg.done(0);
}
#endif

} // namespace
