#pragma once
// The capture file: the exact bytes of a serial session in both directions, each read or
// write with its time, behind a short header. Plain C++, no Qt; the layout is described in
// docs/capture-format.md, and these are its constants and encoders.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace capture {

// "\x89VCAP\r\n\x1A": a non-ASCII first byte and a CR LF catch files mangled as text.
constexpr uint8_t MAGIC[8] = {0x89, 'V', 'C', 'A', 'P', 0x0D, 0x0A, 0x1A};
constexpr size_t MAGIC_LEN = sizeof MAGIC;
// Version 2 adds the note record; version 1 files are read as they always were.
constexpr uint16_t FORMAT_VERSION = 2;
constexpr uint16_t OLDEST_FORMAT_VERSION = 1;
// Magic, version (u16) and header text length (u16), all before the text.
constexpr size_t FIXED_HEADER_LEN = MAGIC_LEN + 4;
constexpr size_t MAX_HEADER_TEXT = 4096;
// Record header: direction (u8), time (i64 microseconds), length (u16).
constexpr size_t RECORD_HEADER_LEN = 11;
constexpr size_t MAX_RECORD_BYTES = 65535;
// A capture is written out to the disk at least this often while it is being recorded.
constexpr int64_t FLUSH_INTERVAL_US = 1000000;
// Extension proposed for new captures.
constexpr const char* FILE_EXTENSION = ".vcap";

// Direction of a record, named from the computer's side of the line.
enum class Direction : uint8_t {
    Received = 'R',  // bytes from the sensor
    Sent = 'S',      // bytes to the sensor
    Note = 'N',      // a note (a marker's text, UTF-8) at its time; version 2 on
};

// The console's settings when a recording started: the five gains and the texts of the three
// calibration coefficient fields (what was typed, checked or not).
constexpr int START_GAINS = 5;         // pulse 1, pulse 2, pulse 3, ECG, volume
constexpr int START_COEFFICIENTS = 3;  // channels 1 to 3
struct SettingsAtStart {
    bool known = false;  // false: the writer did not record them (version 1, the simulator)
    int gains[START_GAINS] = {0, 0, 0, 0, 0};
    std::string coefficients[START_COEFFICIENTS];
};
// One line each, in the words of the command descriptions: "gain pulse 1 = 3", "gain ECG = 3",
// "gain volume = 4", "coefficient 1 = 100"; nothing when not known.
std::vector<std::string> DescribeSettings(const SettingsAtStart& settings);

struct CaptureHeader {
    uint16_t version = FORMAT_VERSION;
    std::string start;     // ISO 8601 local time with its UTC offset, e.g. 2025-03-01T09:30:00.125+01:00
    int port = 0;          // COMn; 0 when the bytes did not come through a numbered port
    std::string path;      // device path of the port, empty when unknown
    std::string settings;  // line settings such as "256000,n,8,1", empty when unknown
    std::string writer;    // program that wrote the capture, for information only
    SettingsAtStart atStart;
};

// The whole header (magic, version, length, text) as it goes into the file. Fields holding a
// line feed are cut before it, and the text is cut to MAX_HEADER_TEXT.
std::vector<uint8_t> EncodeHeader(const CaptureHeader& header);
// One record header for nLength payload bytes (nLength <= MAX_RECORD_BYTES).
void EncodeRecordHeader(Direction dir, int64_t timeUs, size_t nLength, uint8_t out[RECORD_HEADER_LEN]);

// Fills the header's fields from its text ("key=value" lines). Unknown keys are ignored, so
// later writers may add fields without a new version.
void ParseHeaderText(const std::string& text, CaptureHeader& header);

// text cut to at most nMax bytes without splitting a UTF-8 character.
std::string CutUtf8(const std::string& text, size_t nMax);

// True when the bytes begin with the magic (n may be shorter than the magic: then false).
bool HasMagic(const uint8_t* data, size_t n);

// What the first bytes of a file make of it. A capture whose magic was mangled (one or two of
// its bytes changed, its CR LF changed by a text transfer, or the file ending inside it) is a
// damaged capture, never a plain byte stream.
enum class FileStart { Capture, Damaged, Plain };
// Bytes to look at: the magic with its LF turned into CR LF is one byte longer than the magic.
constexpr size_t START_PROBE_LEN = MAGIC_LEN + 1;
// data holds the file's first n bytes, n < START_PROBE_LEN only when the file is that short.
// For a damaged one, *pWhat (when given) says what was found instead of the magic.
FileStart ClassifyStart(const uint8_t* data, size_t n, std::string* pWhat = nullptr);

// A record more than this after the one before it (the first: after the start) holds a
// damaged time, not a pause: readers refuse it, and writers bridge longer silences.
constexpr int64_t MAX_RECORD_GAP_US = int64_t(86400) * 1000000;

// The current local time as ISO 8601 with milliseconds and the UTC offset.
std::string NowIso8601();

// Broken-down local time of an ISO 8601 start (offset ignored); false when it does not parse.
struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int microsecond = 0;
};
bool ParseIso8601(const std::string& text, LocalTime& out);
// lt moved on by us microseconds (us >= 0), calendar-correct.
LocalTime AddMicroseconds(const LocalTime& lt, int64_t us);

} // namespace capture
