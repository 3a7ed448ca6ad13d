#include "channel_units.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace units {

namespace {

std::string Trim(const std::string& s)
{
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos)
        return std::string();
    const size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

} // namespace

int ChannelUnit::Digits(int nCountDigits) const
{
    const double tens = scale > 0 ? std::round(std::log10(scale)) : 0;
    return std::max(0, nCountDigits + static_cast<int>(std::clamp(tens, -6.0, 6.0)));
}

bool ValidUnitName(const std::string& name)
{
    if (name.empty() || name.size() > MAX_NAME_LEN)
        return false;
    for (const char c : name) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && !std::strchr("%/._-^()*", c))
            return false;
    }
    return true;
}

bool ValidScale(double scale)
{
    return scale >= MIN_SCALE && scale <= MAX_SCALE;
}

std::string FormatNumber(double v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string FormatValue(double v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 9);
    return std::string(buf, r.ptr);
}

bool ParseNumber(const std::string& text, double& out)
{
    const std::string t = Trim(text);
    if (t.empty())
        return false;
    const char* first = t.data();
    if (*first == '+')  // from_chars takes no plus sign
        ++first;
    double v = 0;
    const auto r = std::from_chars(first, t.data() + t.size(), v);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size())
        return false;
    out = v;
    return true;
}

bool ParseUnits(const std::string& text, PressureUnits& out, std::string* pProblem)
{
    auto fail = [&](const std::string& why) {
        if (pProblem)
            *pProblem = why;
        return false;
    };
    PressureUnits result = out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(',', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (item.empty()) {
            if (end == text.size())
                break;
            return fail("an empty entry in \"" + text + "\"");
        }
        const size_t eq = item.find('=');
        const size_t colon = item.find(':', eq == std::string::npos ? 0 : eq);
        if (eq == std::string::npos || colon == std::string::npos)
            return fail("\"" + item + "\" is not CHANNEL=UNIT:SCALE");
        const std::string channel = Trim(item.substr(0, eq));
        if (channel.size() != 1 || channel[0] < '1' || channel[0] > '0' + PRESSURE_CHANNELS)
            return fail("\"" + item + "\": the channel is 1, 2 or 3");
        ChannelUnit unit;
        unit.name = Trim(item.substr(eq + 1, colon - eq - 1));
        if (!ValidUnitName(unit.name))
            return fail("\"" + item + "\": a unit name is 1 to 8 letters, digits or % / . _ - ^ ( ) *");
        if (!ParseNumber(item.substr(colon + 1), unit.scale) || !ValidScale(unit.scale))
            return fail("\"" + item + "\": the scale is counts per unit, from 0.001 to 1000000");
        result.ch[channel[0] - '1'] = unit;
    }
    out = result;
    return true;
}

std::string FormatUnits(const PressureUnits& u)
{
    std::string text;
    for (int c = 0; c < PRESSURE_CHANNELS; ++c) {
        if (c > 0)
            text += ',';
        text += std::to_string(c + 1) + "=" + u.ch[c].name + ":" + FormatNumber(u.ch[c].scale);
    }
    return text;
}

std::string UnitKey(int nChannel) { return "unit" + std::to_string(nChannel + 1); }
std::string ScaleKey(int nChannel) { return "scale" + std::to_string(nChannel + 1); }

bool ReadUnitsFromSettingsFile(const std::string& strPath, PressureUnits& out, std::string* pProblem)
{
    auto fail = [&](const std::string& why) {
        if (pProblem)
            *pProblem = strPath + ": " + why;
        return false;
    };
    std::ifstream in(strPath, std::ios::binary);
    if (!in)
        return fail(std::string("cannot read it: ") + std::strerror(errno));
    PressureUnits result;
    bool bInGroup = false;
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            bInGroup = line == std::string("[") + SETTINGS_GROUP + "]";
            continue;
        }
        const size_t eq = line.find('=');
        if (!bInGroup || eq == std::string::npos)
            continue;
        const std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        for (int c = 0; c < PRESSURE_CHANNELS; ++c) {
            if (key == UnitKey(c)) {
                if (!ValidUnitName(value))
                    return fail(key + "=" + value + " is not a unit name");
                result.ch[c].name = value;
            } else if (key == ScaleKey(c)) {
                if (!ParseNumber(value, result.ch[c].scale) || !ValidScale(result.ch[c].scale))
                    return fail(key + "=" + value + " is not a scale from 0.001 to 1000000");
            }
        }
    }
    out = result;
    return true;
}

std::string DefaultSettingsFile()
{
#if defined(_WIN32) || defined(__APPLE__)
    // macOS: the native settings are a property list, not this file; Windows: the registry.
    return std::string();
#else
    const char* pszConfig = std::getenv("XDG_CONFIG_HOME");
    std::string dir;
    if (pszConfig && *pszConfig == '/') {
        dir = pszConfig;
    } else {
        const char* pszHome = std::getenv("HOME");
        if (!pszHome || !*pszHome)
            return std::string();
        dir = std::string(pszHome) + "/.config";
    }
    return dir + "/Veltrin/Veltrin.conf";
#endif
}

} // namespace units
