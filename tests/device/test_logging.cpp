// The command trace and the serial layer's events go through the veltrin.link and
// veltrin.serial logging categories: silent by default, on with --trace or a logging rule.
#include <gtest/gtest.h>

#include <QLoggingCategory>

#include <cstring>

#include <vector>

#include "logging.h"
#include "mscomm.h"
#include "platform.h"
#include "sensor_link.h"
#include "support/pty_pair.h"

namespace {

struct Message {
    QString strCategory;
    QString strText;
};
std::vector<Message> g_messages;

void Collect(QtMsgType, const QMessageLogContext& context, const QString& strText)
{
    g_messages.push_back({QString::fromLatin1(context.category), strText});
}

std::vector<Message> In(const char* pszCategory)
{
    std::vector<Message> out;
    for (const Message& m : g_messages)
        if (m.strCategory == QLatin1String(pszCategory))
            out.push_back(m);
    return out;
}

class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
            GTEST_SKIP() << "QT_LOGGING_RULES is set";
        g_messages.clear();
        m_prevHandler = qInstallMessageHandler(&Collect);
        RouteDebugOutputToLog();
    }
    void TearDown() override
    {
        QLoggingCategory::setFilterRules(QString());
        SetDebugSink(nullptr);
        qInstallMessageHandler(m_prevHandler);
        CMSComm::ClearPortMap();
    }
    // Opens and closes a pty through the serial layer, as the console does.
    void OpenAndClose()
    {
        PtyPair pty;
        ASSERT_TRUE(pty.Ok());
        CMSComm::MapPort(9, QString::fromStdString(pty.SlavePath()));
        CMSComm comm;
        comm.SetCommPort(9);
        comm.SetSettings(QStringLiteral("256000,n,8,1"));
        comm.SetPortOpen(true);
        comm.SetPortOpen(false);
        m_strPty = QString::fromStdString(pty.SlavePath());
    }

    QtMessageHandler m_prevHandler = nullptr;
    QString m_strPty;
};

const uint8_t START[] = {0xF0, 0x2F, 0x01, 0x32};

TEST_F(LoggingTest, SilentByDefault)
{
    EXPECT_FALSE(lcLink().isDebugEnabled());
    EXPECT_FALSE(lcSerial().isDebugEnabled());
    CSensorLink::TraceHex(START, 4, "Send Data:");
    OpenAndClose();
    EXPECT_TRUE(g_messages.empty()) << qPrintable(g_messages.front().strText);
}

TEST_F(LoggingTest, TraceTurnsOnOneMessagePerLine)
{
    EnableTrace();
    CSensorLink::TraceHex(START, 4, "Send Data:");
    // Longer than the pieces the trace is written in: still one message.
    std::vector<uint8_t> many(200, 0xAB);
    CSensorLink::TraceHex(many.data(), int(many.size()), "Send Data:");
    const std::vector<Message> link = In("veltrin.link");
    ASSERT_EQ(link.size(), 2u);
    EXPECT_EQ(link[0].strText, QStringLiteral("Send Data:F0 2F 01 32 "));
    EXPECT_EQ(link[1].strText.size(), int(std::strlen("Send Data:") + 3 * many.size()));

    OpenAndClose();
    const std::vector<Message> serial = In("veltrin.serial");
    ASSERT_EQ(serial.size(), 2u);
    EXPECT_TRUE(serial[0].strText.contains(m_strPty)) << qPrintable(serial[0].strText);
    EXPECT_TRUE(serial[0].strText.contains(QStringLiteral("opened")));
    EXPECT_TRUE(serial[1].strText.contains(QStringLiteral("closed")));
}

TEST_F(LoggingTest, ARuleTurnsOnOneCategory)
{
    QLoggingCategory::setFilterRules(QStringLiteral("veltrin.serial.debug=true"));
    CSensorLink::TraceHex(START, 4, "Send Data:");
    OpenAndClose();
    EXPECT_TRUE(In("veltrin.link").empty());
    EXPECT_EQ(In("veltrin.serial").size(), 2u);
}

} // namespace
