// The serial layer against a real pseudo-terminal: the console side through QSerialPort,
// the sensor side on the pty master.
#include <gtest/gtest.h>

#include <memory>

#include "mscomm.h"
#include "support/pty_pair.h"

namespace {

constexpr int PORT = 7;  // any number; mapped onto the pty for each test

class MSCommPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.Ok());
        CMSComm::MapPort(PORT, QString::fromStdString(m_pty.SlavePath()));
    }
    void TearDown() override { CMSComm::ClearPortMap(); }

    // The property writes of the console's OpenPort, in its order.
    void OpenLikeConsole(CMSComm& comm)
    {
        comm.SetCommPort(PORT);
        comm.SetInBufferSize(20480);
        comm.SetOutBufferSize(1024);
        comm.SetInputMode(1);
        comm.SetSettings(QStringLiteral("256000,n,8,1"));
        comm.SetRThreshold(1);
        comm.SetSThreshold(1);
        comm.SetInputMode(1);
        comm.SetInputLen(0);
        comm.SetDTREnable(true);
        comm.SetRTSEnable(true);
        if (!comm.GetPortOpen())
            comm.SetPortOpen(true);
    }

    PtyPair m_pty;
};

QByteArray Bytes(std::initializer_list<uint8_t> b)
{
    return QByteArray(reinterpret_cast<const char*>(std::data(b)), static_cast<int>(b.size()));
}

TEST_F(MSCommPty, OpensAt256000WithModemLinesRequestedAndMovesBytesBothWays)
{
    CMSComm comm;
    ASSERT_NO_THROW(OpenLikeConsole(comm));
    ASSERT_TRUE(comm.GetPortOpen());

    // One frame out, byte for byte.
    comm.SetOutput(Bytes({0xF0, 0x2F, 0x01, 0x32}));
    comm.SetOutput(Bytes({0xF0, 0x21, 0x02, 0x35, 0x64}));
    EXPECT_EQ(m_pty.Read(2000, 9), (std::vector<uint8_t>{0xF0, 0x2F, 0x01, 0x32, 0xF0, 0x21, 0x02, 0x35, 0x64}));

    // Bytes in: OnComm with CommEvent 2, the count, then Input takes them all out.
    std::vector<uint8_t> received;
    int nReceiveEvents = 0;
    QObject::connect(&comm, &CMSComm::OnComm, [&] {
        if (comm.GetCommEvent() != CMSComm::comEvReceive)
            return;
        ++nReceiveEvents;
        const short nCount = comm.GetInBufferCount();
        EXPECT_GT(nCount, 0);
        const QByteArray in = comm.GetInput();
        EXPECT_GE(in.size(), nCount);
        EXPECT_EQ(comm.GetInBufferCount(), 0);
        received.insert(received.end(), in.begin(), in.end());
    });
    std::vector<uint8_t> sent;
    for (int i = 0; i < 3000; ++i)
        sent.push_back(static_cast<uint8_t>(i * 7));
    ASSERT_TRUE(m_pty.Write(sent));
    EXPECT_TRUE(WaitUntil([&] { return received.size() >= sent.size(); }));
    EXPECT_EQ(received, sent);
    EXPECT_GE(nReceiveEvents, 1);

    comm.SetPortOpen(false);
    EXPECT_FALSE(comm.GetPortOpen());
}

TEST_F(MSCommPty, InputLenLimitsWhatInputTakes)
{
    CMSComm comm;
    OpenLikeConsole(comm);
    ASSERT_TRUE(m_pty.Write({1, 2, 3, 4, 5}));
    ASSERT_TRUE(WaitUntil([&] { return comm.GetInBufferCount() == 5; }));
    comm.SetInputLen(2);
    EXPECT_EQ(comm.GetInput(), Bytes({1, 2}));
    EXPECT_EQ(comm.GetInBufferCount(), 3);
    comm.SetInputLen(0);
    EXPECT_EQ(comm.GetInput(), Bytes({3, 4, 5}));
}

TEST_F(MSCommPty, InBufferSizeCapsWhatIsHeld)
{
    CMSComm comm;
    comm.SetInBufferSize(64);
    comm.SetRThreshold(0);  // nobody drains: the layer must hold back, not lose
    comm.SetCommPort(PORT);
    comm.SetSettings(QStringLiteral("256000,n,8,1"));
    comm.SetPortOpen(true);
    std::vector<uint8_t> sent(200);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(m_pty.Write(sent));
    WaitUntil([&] { return comm.GetInBufferCount() >= 64; }, 500);
    WaitUntil([] { return false; }, 100);
    EXPECT_LE(comm.GetInBufferCount(), 64);

    // What was held back in the line arrives as the buffer is drained.
    QByteArray all;
    WaitUntil([&] {
        all += comm.GetInput();
        return all.size() >= 200;
    });
    EXPECT_EQ(all, QByteArray(reinterpret_cast<const char*>(sent.data()), 200));
}

TEST_F(MSCommPty, SettingsAndPortChangesWhileOpen)
{
    CMSComm comm;
    OpenLikeConsole(comm);
    EXPECT_NO_THROW(comm.SetSettings(QStringLiteral("115200,n,8,2")));
    EXPECT_EQ(comm.GetSettings(), QStringLiteral("115200,n,8,2"));
    // A pseudo-terminal refuses parity: the error names the port, the old settings stay.
    try {
        comm.SetSettings(QStringLiteral("9600,e,7,1"));
        ADD_FAILURE() << "a pty accepted parity";
    } catch (const CommError& e) {
        EXPECT_TRUE(e.Description().contains(QString::fromStdString(m_pty.SlavePath()))) << e.what();
    }
    EXPECT_EQ(comm.GetSettings(), QStringLiteral("115200,n,8,2"));
    EXPECT_THROW(comm.SetSettings(QStringLiteral("9600,n,8")), CommError);
    EXPECT_THROW(comm.SetCommPort(PORT + 1), CommError);
    EXPECT_EQ(comm.GetCommPort(), PORT);
    EXPECT_TRUE(comm.GetPortOpen());
    comm.SetOutput(Bytes({0xF0, 0x2F, 0x01, 0x33}));
    EXPECT_EQ(m_pty.Read(2000, 4), (std::vector<uint8_t>{0xF0, 0x2F, 0x01, 0x33}));
}

TEST_F(MSCommPty, PortLostOnceWhenTheDeviceGoesAway)
{
    CMSComm comm;
    OpenLikeConsole(comm);
    QStringList lost;
    QObject::connect(&comm, &CMSComm::PortLost, [&](const QString& s) { lost << s; });
    int nComm = 0;
    QObject::connect(&comm, &CMSComm::OnComm, [&] { ++nComm; });
    m_pty.CloseMaster();  // the far end goes away, as an adapter pulled out
    EXPECT_TRUE(WaitUntil([&] { return lost.count() > 0; }));
    WaitUntil([] { return false; }, 300);  // no further reports, no storm
    ASSERT_EQ(lost.count(), 1);
    EXPECT_TRUE(lost.at(0).contains(QString::fromStdString(m_pty.SlavePath()))) << lost.at(0).toStdString();
    EXPECT_FALSE(comm.GetPortOpen());
    EXPECT_EQ(comm.GetCommEvent(), CMSComm::comEventDeviceLost);
    EXPECT_LT(nComm, 5);
    EXPECT_THROW(comm.SetOutput(Bytes({0xF0})), CommError);

    // The layer is whole again: the next device opens and delivers as before.
    PtyPair next;
    ASSERT_TRUE(next.Ok());
    CMSComm::MapPort(PORT, QString::fromStdString(next.SlavePath()));
    comm.SetPortOpen(true);
    int nReceive = 0;
    QObject::connect(&comm, &CMSComm::OnComm, [&] {
        if (comm.GetCommEvent() == CMSComm::comEvReceive && !comm.GetInput().isEmpty())
            ++nReceive;
    });
    ASSERT_TRUE(next.Write({0xF0, 0x1F, 0x00, 0x33}));
    EXPECT_TRUE(WaitUntil([&] { return nReceive > 0; }));
}

TEST_F(MSCommPty, BusyWhileAnotherHoldsItReleasedOnDestruction)
{
    auto first = std::make_unique<CMSComm>();
    OpenLikeConsole(*first);
    CMSComm second;
    second.SetCommPort(PORT);
    try {
        second.SetPortOpen(true);
        ADD_FAILURE() << "a port in use opened twice";
    } catch (const CommError& e) {
        EXPECT_TRUE(e.Description().contains(QString::fromStdString(m_pty.SlavePath()))) << e.what();
        EXPECT_FALSE(e.Description().endsWith(QStringLiteral("No error"))) << e.what();
    }
    first.reset();
    EXPECT_NO_THROW(second.SetPortOpen(true));
    EXPECT_TRUE(second.GetPortOpen());
}

TEST(MSComm, RefusalsCarryADescription)
{
    CMSComm::ClearPortMap();
    CMSComm::MapPort(3, QStringLiteral("/dev/veltrin-no-such-device"));
    CMSComm comm;
    comm.SetCommPort(3);
    try {
        comm.SetPortOpen(true);
        FAIL() << "opening a missing device succeeded";
    } catch (const CommError& e) {
        EXPECT_TRUE(e.Description().contains(QStringLiteral("/dev/veltrin-no-such-device"))) << e.what();
        EXPECT_TRUE(e.Description().contains(QStringLiteral("COM3"))) << e.what();
        EXPECT_TRUE(e.Description().contains(QStringLiteral("No such file or directory"))) << e.what();
    }
    EXPECT_FALSE(comm.GetPortOpen());
    EXPECT_THROW(comm.SetOutput(Bytes({0xF0, 0x2F, 0x01, 0x33})), CommError);
    EXPECT_EQ(comm.GetInBufferCount(), 0);
    EXPECT_TRUE(comm.GetInput().isEmpty());
    EXPECT_THROW(comm.SetCommPort(0), CommError);
    CMSComm::ClearPortMap();
}

TEST(MSComm, SettingsStrings)
{
    const struct { const char* text; bool ok; } cases[] = {
        {"256000,n,8,1", true}, {"9600,E,7,2", true}, {"115200, o , 5 , 1.5", true},
        {"1200,m,6,1", true},   {"1200,s,8,1", true},
        {"", false}, {"256000", false}, {"256000,n,8", false}, {"256000,n,8,1,1", false},
        {"fast,n,8,1", false}, {"0,n,8,1", false}, {"-9600,n,8,1", false},
        {"9600,x,8,1", false}, {"9600,n,9,1", false}, {"9600,n,4,1", false},
        {"9600,n,8,3", false}, {"9600,n,8,0", false}, {"9600,,8,1", false},
    };
    for (const auto& c : cases) {
        CMSComm comm;
        if (c.ok) {
            EXPECT_NO_THROW(comm.SetSettings(QString::fromLatin1(c.text))) << c.text;
            EXPECT_EQ(comm.GetSettings(), QString::fromLatin1(c.text));
        } else {
            const QString before = comm.GetSettings();
            try {
                comm.SetSettings(QString::fromLatin1(c.text));
                ADD_FAILURE() << "accepted " << c.text;
            } catch (const CommError& e) {
                EXPECT_FALSE(e.Description().isEmpty());
            }
            EXPECT_EQ(comm.GetSettings(), before) << c.text;
        }
    }
}

TEST(MSComm, PortPathsAndMapping)
{
    CMSComm::ClearPortMap();
#ifdef _WIN32
    EXPECT_EQ(CMSComm::PortDevicePath(1), QStringLiteral("COM1"));
    EXPECT_EQ(CMSComm::PortDevicePath(16), QStringLiteral("COM16"));
#else
    EXPECT_EQ(CMSComm::PortDevicePath(1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(CMSComm::PortDevicePath(16), QStringLiteral("/dev/ttyS15"));
#endif
    EXPECT_TRUE(CMSComm::MapPortFromArg(QStringLiteral("3=/dev/ttyUSB0")));
    EXPECT_TRUE(CMSComm::MapPortFromArg(QStringLiteral("12=/tmp/a=b")));
    EXPECT_EQ(CMSComm::PortDevicePath(3), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(CMSComm::PortDevicePath(12), QStringLiteral("/tmp/a=b"));
    for (const char* bad : {"", "3", "=/dev/x", "3=", "x=/dev/x", "0=/dev/x", "-1=/dev/x"})
        EXPECT_FALSE(CMSComm::MapPortFromArg(QString::fromLatin1(bad))) << bad;
    CMSComm::ClearPortMap();
}

} // namespace
