#pragma once
// Units of the three pressure channels: a scale in counts per unit and a unit name for each
// (counts, scale 1, until told otherwise). The console keeps them in its settings; the review
// window, the exports and sensor-decode convert with them. Plain C++: the text form below is
// how sensor-decode takes them on its command line and how the settings file holds them.
#include <string>

namespace units {

constexpr int PRESSURE_CHANNELS = 3;
// A scale outside these limits would not fit an EDF+ physical maximum (8 characters).
constexpr double MIN_SCALE = 0.001;
constexpr double MAX_SCALE = 1e6;
// Unit names are what an EDF+ physical dimension can hold: up to 8 characters of ASCII.
constexpr size_t MAX_NAME_LEN = 8;
constexpr const char* COUNTS = "counts";

struct ChannelUnit {
    double scale = 1;           // counts per unit
    std::string name = COUNTS;  // "mmHg", "g", "kPa" ...

    bool IsCounts() const { return scale == 1 && name == COUNTS; }
    double FromCounts(double counts) const { return counts / scale; }
    // Digits after the point for a value shown with nCountDigits in counts: one more for every
    // tenfold of the scale, so that the last digit still stands for about what it did in counts.
    int Digits(int nCountDigits) const;
};

struct PressureUnits {
    ChannelUnit ch[PRESSURE_CHANNELS];
    bool AllCounts() const { return ch[0].IsCounts() && ch[1].IsCounts() && ch[2].IsCounts(); }
    // All three channels carry one unit name.
    bool OneName() const { return ch[0].name == ch[1].name && ch[1].name == ch[2].name; }
};

// 1 to 8 letters, digits or any of % / . _ - ^ ( ) * (no spaces, commas, colons or equals signs).
bool ValidUnitName(const std::string& name);
bool ValidScale(double scale);

// "1=mmHg:12.5,2=mmHg:12.5,3=g:3": channel, unit name, counts per unit; channels left out stay
// as they were in out. False with *pProblem when the text is malformed.
bool ParseUnits(const std::string& text, PressureUnits& out, std::string* pProblem = nullptr);
std::string FormatUnits(const PressureUnits& units);
// A number as the text form writes it, the shortest that reads back the same, "." for the
// decimal point whatever the locale.
std::string FormatNumber(double v);
bool ParseNumber(const std::string& text, double& out);
// A value in a unit as the exports and the review window show it: 9 significant digits, no
// exponent for what a 16-bit count can become, "." for the decimal point.
std::string FormatValue(double v);

// The console's kept settings, read straight from its INI settings file (group [units], keys
// unit1..3 and scale1..3), so that programs without Qt read the same values. Keys that are
// missing leave counts; a malformed value is refused with *pProblem.
bool ReadUnitsFromSettingsFile(const std::string& strPath, PressureUnits& out, std::string* pProblem);
// Where the console keeps its settings on this system: $XDG_CONFIG_HOME (or ~/.config)
// /Veltrin/Veltrin.conf; empty on Windows and macOS, whose native settings are no such file.
std::string DefaultSettingsFile();

// Key names in the settings file's [units] group.
constexpr const char* SETTINGS_GROUP = "units";
std::string UnitKey(int nChannel);   // "unit1"
std::string ScaleKey(int nChannel);  // "scale1"

} // namespace units
