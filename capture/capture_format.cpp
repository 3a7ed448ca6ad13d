#include "capture_format.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform.h"

namespace capture {

namespace {

void PutU16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

std::string OneLine(const std::string& s)
{
    const size_t nl = s.find_first_of("\r\n");
    return nl == std::string::npos ? s : s.substr(0, nl);
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

bool Digits(const char* p, int n, int& out)
{
    out = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        out = out * 10 + (p[i] - '0');
    }
    return true;
}

// Header keys of the settings at the start, in the order of SettingsAtStart.
const char* const GAIN_KEYS[START_GAINS] = {"gain_pulse_1", "gain_pulse_2", "gain_pulse_3", "gain_ecg", "gain_volume"};
const char* const GAIN_NAMES[START_GAINS] = {"pulse 1", "pulse 2", "pulse 3", "ECG", "volume"};
const char* const COEFFICIENT_KEYS[START_COEFFICIENTS] = {"coefficient_1", "coefficient_2", "coefficient_3"};

} // namespace

std::string CutUtf8(const std::string& text, size_t nMax)
{
    if (text.size() <= nMax)
        return text;
    size_t n = nMax;
    // Back over continuation bytes to the start of the character that would be split.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return text.substr(0, n);
}

std::vector<std::string> DescribeSettings(const SettingsAtStart& settings)
{
    std::vector<std::string> lines;
    if (!settings.known)
        return lines;
    for (int g = 0; g < START_GAINS; ++g)
        lines.push_back(std::string("gain ") + GAIN_NAMES[g] + " = " + std::to_string(settings.gains[g]));
    for (int c = 0; c < START_COEFFICIENTS; ++c)
        lines.push_back("coefficient " + std::to_string(c + 1) + " = " + settings.coefficients[c]);
    return lines;
}

std::vector<uint8_t> EncodeHeader(const CaptureHeader& header)
{
    std::string text;
    text += "start=" + OneLine(header.start) + "\n";
    text += "port=" + (header.port > 0 ? std::to_string(header.port) : std::string()) + "\n";
    text += "path=" + OneLine(header.path) + "\n";
    text += "settings=" + OneLine(header.settings) + "\n";
    if (!header.writer.empty())
        text += "writer=" + OneLine(header.writer) + "\n";
    if (header.atStart.known) {
        for (int g = 0; g < START_GAINS; ++g)
            text += std::string(GAIN_KEYS[g]) + "=" + std::to_string(header.atStart.gains[g]) + "\n";
        for (int c = 0; c < START_COEFFICIENTS; ++c)
            text += std::string(COEFFICIENT_KEYS[c]) + "=" + OneLine(header.atStart.coefficients[c]) + "\n";
    }
    if (text.size() > MAX_HEADER_TEXT)
        text.resize(MAX_HEADER_TEXT);

    std::vector<uint8_t> out(MAGIC, MAGIC + MAGIC_LEN);
    PutU16(out, header.version);
    PutU16(out, static_cast<uint16_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

void EncodeRecordHeader(Direction dir, int64_t timeUs, size_t nLength, uint8_t out[RECORD_HEADER_LEN])
{
    out[0] = static_cast<uint8_t>(dir);
    const uint64_t t = static_cast<uint64_t>(timeUs);
    for (int i = 0; i < 8; ++i)
        out[1 + i] = static_cast<uint8_t>(t >> (8 * i));
    out[9] = static_cast<uint8_t>(nLength);
    out[10] = static_cast<uint8_t>(nLength >> 8);
}

void ParseHeaderText(const std::string& text, CaptureHeader& header)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "start")
            header.start = value;
        else if (key == "port")
            header.port = std::atoi(value.c_str());
        else if (key == "path")
            header.path = value;
        else if (key == "settings")
            header.settings = value;
        else if (key == "writer")
            header.writer = value;
        for (int g = 0; g < START_GAINS; ++g) {
            if (key == GAIN_KEYS[g]) {
                header.atStart.gains[g] = std::atoi(value.c_str());
                header.atStart.known = true;
            }
        }
        for (int c = 0; c < START_COEFFICIENTS; ++c) {
            if (key == COEFFICIENT_KEYS[c]) {
                header.atStart.coefficients[c] = value;
                header.atStart.known = true;
            }
        }
    }
}

bool HasMagic(const uint8_t* data, size_t n)
{
    return n >= MAGIC_LEN && std::memcmp(data, MAGIC, MAGIC_LEN) == 0;
}

namespace {

std::string HexBytes(const uint8_t* data, size_t n)
{
    static const char HEX[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0)
            s += ' ';
        s += HEX[data[i] >> 4];
        s += HEX[data[i] & 15];
    }
    return s;
}

// "VCAP" after any first byte, then line-end bytes other than CR LF, then SUB: the magic after
// a text transfer rewrote its line end (CR LF to LF, LF to CR LF, CR LF to CR). Returns the
// length of the mangled magic, 0 when it is not one.
size_t LineEndMangledLength(const uint8_t* data, size_t n)
{
    if (n < 7 || std::memcmp(data + 1, MAGIC + 1, 4) != 0)
        return 0;
    size_t end = 5;
    while (end < n && end < 8 && (data[end] == 0x0D || data[end] == 0x0A))
        ++end;
    const size_t nEol = end - 5;
    const bool bIntact = nEol == 2 && data[5] == 0x0D && data[6] == 0x0A;
    return nEol >= 1 && !bIntact && end < n && data[end] == 0x1A ? end + 1 : 0;
}

} // namespace

FileStart ClassifyStart(const uint8_t* data, size_t n, std::string* pWhat)
{
    if (HasMagic(data, n))
        return FileStart::Capture;
    auto damaged = [&](std::string text) {
        if (pWhat)
            *pWhat = std::move(text);
        return FileStart::Damaged;
    };
    const std::string magic = HexBytes(MAGIC, MAGIC_LEN);
    if (const size_t nMangled = LineEndMangledLength(data, n))
        return damaged("damaged capture header: found " + HexBytes(data, nMangled) +
                       ", the capture magic with its CR LF changed, as by a transfer in text mode");
    if (n >= MAGIC_LEN) {
        int nDiffer = 0;
        for (size_t i = 0; i < MAGIC_LEN; ++i)
            nDiffer += data[i] != MAGIC[i];
        if (nDiffer <= 2)
            return damaged("damaged capture header: found " + HexBytes(data, MAGIC_LEN) + ", " + std::to_string(nDiffer) + " byte" +
                           (nDiffer > 1 ? "s" : "") + " away from the capture magic " + magic);
    } else if (n > 0 && std::memcmp(data, MAGIC, n) == 0) {
        return damaged("the capture header is cut short: the file ends after " + std::to_string(n) +
                       " bytes, inside the capture magic " + magic);
    }
    return FileStart::Plain;
}

std::string NowIso8601()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const int ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    std::tm utc{};
    ToLocalTime(t, local);
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    // The offset from the two broken-down times, so no platform's %z is relied on.
    const int64_t localSec = DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * 86400
                           + local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const int64_t utcSec = DaysFromCivil(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday) * 86400
                         + utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec;
    const int offMin = static_cast<int>((localSec - utcSec) / 60);
    const int absMin = offMin < 0 ? -offMin : offMin;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ms < 0 ? 0 : ms,
                  offMin < 0 ? '-' : '+', absMin / 60, absMin % 60);
    return buf;
}

bool ParseIso8601(const std::string& text, LocalTime& out)
{
    // YYYY-MM-DDTHH:MM:SS[.fraction][offset]
    const char* p = text.c_str();
    if (text.size() < 19 || p[4] != '-' || p[7] != '-' || (p[10] != 'T' && p[10] != ' ') || p[13] != ':'
        || p[16] != ':')
        return false;
    LocalTime lt;
    if (!Digits(p, 4, lt.year) || !Digits(p + 5, 2, lt.month) || !Digits(p + 8, 2, lt.day)
        || !Digits(p + 11, 2, lt.hour) || !Digits(p + 14, 2, lt.minute) || !Digits(p + 17, 2, lt.second))
        return false;
    if (lt.month < 1 || lt.month > 12 || lt.day < 1 || lt.day > 31 || lt.hour > 23 || lt.minute > 59
        || lt.second > 60)
        return false;
    if (text.size() > 20 && p[19] == '.') {
        int scale = 100000;
        for (size_t i = 20; i < text.size() && p[i] >= '0' && p[i] <= '9'; ++i) {
            lt.microsecond += (p[i] - '0') * scale;
            scale /= 10;
        }
    }
    if (lt.second == 60)
        lt.second = 59;  // a leap second, folded into the one before
    out = lt;
    return true;
}

LocalTime AddMicroseconds(const LocalTime& lt, int64_t us)
{
    const int64_t totalUs = (DaysFromCivil(lt.year, lt.month, lt.day) * 86400 + lt.hour * 3600 + lt.minute * 60
                             + lt.second) * 1000000 + lt.microsecond + us;
    const int64_t sec = totalUs / 1000000;
    LocalTime r;
    r.microsecond = static_cast<int>(totalUs % 1000000);
    int64_t days = sec / 86400;
    int64_t rem = sec % 86400;
    CivilFromDays(days, r.year, r.month, r.day);
    r.hour = static_cast<int>(rem / 3600);
    r.minute = static_cast<int>(rem / 60 % 60);
    r.second = static_cast<int>(rem % 60);
    return r;
}

} // namespace capture
