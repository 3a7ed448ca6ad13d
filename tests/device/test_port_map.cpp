// The port map: precedence of --com, the kept map and the defaults, the single-USB-adapter
// default, and the kept map written to and read back from a settings file of the test's own.
#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <functional>

#include "mscomm.h"
#include "port_map.h"

namespace {

DetectedPort Port(const char* pszPath, bool bUsb)
{
    DetectedPort p;
    p.strPath = QString::fromLatin1(pszPath);
    p.bUsb = bUsb;
    p.nVendorId = bUsb ? 0x0403 : 0;
    p.nProductId = bUsb ? 0x6001 : 0;
    return p;
}

class PortMapTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override { CMSComm::ClearPortMap(); }
    QString SettingsFile() const { return m_dir.filePath(QStringLiteral("veltrin.conf")); }

    QTemporaryDir m_dir;
};

TEST_F(PortMapTest, DefaultsAreTheSerialLayersOwn)
{
    CMSComm::ClearPortMap();
    for (int n : {1, 2, 16})
        EXPECT_EQ(CPortMap::DefaultPath(n), CMSComm::PortDevicePath(n)) << n;
}

TEST_F(PortMapTest, CommandLineOverKeptOverUsbAdapterOverDefault)
{
    CPortMap map(SettingsFile());
    const QList<DetectedPort> oneUsb = {Port("/dev/ttyS0", false), Port("/dev/ttyUSB0", true)};
    map.SetDetected(oneUsb);
    const struct {
        const char* pszWhat;
        std::function<void(CPortMap&)> setUp;
        int nPort;
        const char* pszPath;
        PortSource source;
    } rows[] = {
        {"one adapter, nothing kept", [](CPortMap&) {}, 1, "/dev/ttyUSB0", PortSource::UsbAdapter},
        {"the adapter only stands in for COM1", [](CPortMap&) {}, 2, "/dev/ttyS1", PortSource::Default},
        {"any kept entry ends the adapter default",
         [](CPortMap& m) { m.SetKept(3, QStringLiteral("/dev/ttyACM0")); }, 1, "/dev/ttyS0", PortSource::Default},
        {"kept entry", [](CPortMap& m) { m.SetKept(3, QStringLiteral("/dev/ttyACM0")); }, 3, "/dev/ttyACM0",
         PortSource::Kept},
        {"--com over kept",
         [](CPortMap& m) {
             m.SetKept(1, QStringLiteral("/dev/ttyUSB0"));
             m.SetCommandLine(1, QStringLiteral("/tmp/sensor"));
         },
         1, "/tmp/sensor", PortSource::CommandLine},
        {"--com over the adapter", [](CPortMap& m) { m.SetCommandLine(1, QStringLiteral("/tmp/s")); }, 1, "/tmp/s",
         PortSource::CommandLine},
        {"two adapters: no telling which", [](CPortMap& m) {
             m.SetDetected({Port("/dev/ttyUSB0", true), Port("/dev/ttyUSB1", true)});
         }, 1, "/dev/ttyS0", PortSource::Default},
        {"no adapter", [](CPortMap& m) { m.SetDetected({Port("/dev/ttyS0", false)}); }, 1, "/dev/ttyS0",
         PortSource::Default},
        {"kept back to default with an empty path",
         [](CPortMap& m) {
             m.SetKept(1, QStringLiteral("/dev/x"));
             m.SetKept(1, QString());
         },
         1, "/dev/ttyUSB0", PortSource::UsbAdapter},
        {"entries past the port list are not kept",
         [](CPortMap& m) {
             m.SetKept(17, QStringLiteral("/dev/x"));
             m.SetKept(0, QStringLiteral("/dev/y"));
             m.SetCommandLine(17, QStringLiteral("/dev/z"));
         },
         1, "/dev/ttyUSB0", PortSource::UsbAdapter},
    };
    for (const auto& r : rows) {
        CPortMap m(SettingsFile());
        m.SetDetected(oneUsb);
        r.setUp(m);
        const PortTarget t = m.Resolve(r.nPort);
#ifndef _WIN32
        EXPECT_EQ(t.strPath, QString::fromLatin1(r.pszPath)) << r.pszWhat;
        EXPECT_EQ(t.source, r.source) << r.pszWhat;
#endif
        EXPECT_LE(m.Kept().size(), 1) << r.pszWhat;
    }
}

TEST_F(PortMapTest, KeptMapSurvivesARestartAndJunkIsIgnored)
{
    CPortMap first(SettingsFile());
    first.SetKept(1, QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"));
    first.SetKept(16, QStringLiteral("/dev/ttyACM0"));
    ASSERT_TRUE(first.Save());

    // What another version or a hand edit may leave: unknown keys, blank values, numbers past 16.
    {
        QSettings raw(SettingsFile(), QSettings::IniFormat);
        raw.setValue(QStringLiteral("PortMap/COM17"), QStringLiteral("/dev/x"));
        raw.setValue(QStringLiteral("PortMap/COM2"), QStringLiteral("   "));
        raw.setValue(QStringLiteral("PortMap/Bogus"), QStringLiteral("/dev/y"));
        raw.setValue(QStringLiteral("Window/Other"), 5);
    }
    CPortMap second(SettingsFile());
    QString strError;
    ASSERT_TRUE(second.Load(&strError)) << qPrintable(strError);
    const QMap<int, QString> want{{1, QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0")},
                                  {16, QStringLiteral("/dev/ttyACM0")}};
    EXPECT_EQ(second.Kept(), want);
    EXPECT_EQ(second.Resolve(16).source, PortSource::Kept);

    // Saving again writes exactly the map: the entry given back is gone, other groups stay.
    second.SetKept(16, QString());
    ASSERT_TRUE(second.Save());
    QSettings raw(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(raw.childGroups(), (QStringList{QStringLiteral("PortMap"), QStringLiteral("Window")}));
    raw.beginGroup(QStringLiteral("PortMap"));
    EXPECT_EQ(raw.childKeys(), QStringList{QStringLiteral("COM1")});
}

TEST_F(PortMapTest, AWriteThatFailsIsReported)
{
    // The settings file would live under a regular file: nothing can be written there.
    QFile blocker(m_dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    CPortMap map(m_dir.filePath(QStringLiteral("blocker/veltrin.conf")));
    map.SetKept(2, QStringLiteral("/dev/ttyUSB0"));
    QString strError;
    EXPECT_FALSE(map.Save(&strError));
    EXPECT_TRUE(strError.contains(QStringLiteral("blocker"))) << qPrintable(strError);
}

TEST_F(PortMapTest, ApplyHandsEveryEntryToTheSerialLayer)
{
    CPortMap map(SettingsFile());
    map.SetDetected({Port("/dev/ttyUSB3", true)});
    map.SetKept(5, QStringLiteral("/dev/ttyACM1"));
    map.SetCommandLine(7, QStringLiteral("/tmp/pty7"));
    map.Apply();
    EXPECT_EQ(CMSComm::PortDevicePath(5), QStringLiteral("/dev/ttyACM1"));
    EXPECT_EQ(CMSComm::PortDevicePath(7), QStringLiteral("/tmp/pty7"));
    EXPECT_EQ(CMSComm::PortDevicePath(1), CPortMap::DefaultPath(1));  // something is kept
    EXPECT_EQ(CMSComm::PortDevicePath(16), CPortMap::DefaultPath(16));
    // Giving an entry back re-applies its default.
    map.SetKept(5, QString());
    map.Apply();
    EXPECT_EQ(CMSComm::PortDevicePath(5), CPortMap::DefaultPath(5));
    EXPECT_EQ(CMSComm::PortDevicePath(1), QStringLiteral("/dev/ttyUSB3"));
}

} // namespace
