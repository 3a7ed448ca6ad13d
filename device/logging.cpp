#include "logging.h"

#include <mutex>
#include <string>

#include "platform.h"

Q_LOGGING_CATEGORY(lcLink, "veltrin.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSerial, "veltrin.serial", QtInfoMsg)

namespace {

// The trace arrives in pieces (label, hex runs, newline); a message is one whole line.
void DebugOutputToLog(const char* text)
{
    static std::mutex s_mutex;
    static std::string s_line;
    if (!text || !lcLink().isDebugEnabled())
        return;
    std::lock_guard<std::mutex> lock(s_mutex);
    for (const char* p = text; *p; ++p) {
        if (*p != '\n') {
            s_line += *p;
            continue;
        }
        qCDebug(lcLink).noquote() << QString::fromUtf8(s_line.data(), static_cast<int>(s_line.size()));
        s_line.clear();
    }
}

} // namespace

void RouteDebugOutputToLog() { SetDebugSink(&DebugOutputToLog); }

void EnableTrace()
{
    QLoggingCategory::setFilterRules(QStringLiteral("veltrin.*.debug=true"));
    qSetMessagePattern(QStringLiteral("%{time process} %{category}: %{message}"));
}
