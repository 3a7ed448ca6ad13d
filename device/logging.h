#pragma once
// The console's logging categories. Their debug messages are off unless asked for: --trace, or
// QT_LOGGING_RULES="veltrin.*.debug=true" (the rules in the environment have the last word).
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)    // veltrin.link: every command frame sent, in hex
Q_DECLARE_LOGGING_CATEGORY(lcSerial)  // veltrin.serial: ports opened, closed, refused and lost

// Hands the real platform's debug output (the link's command trace) to veltrin.link, one
// message per line, instead of standard error.
void RouteDebugOutputToLog();
// Turns every veltrin category on and stamps each message with its time and category, unless
// QT_MESSAGE_PATTERN says otherwise.
void EnableTrace();
