#include "decode_tool.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>

#include "capture_reader.h"
#include "channel_units.h"
#include "csv_export.h"
#include "data_runs.h"
#include "decode_stats.h"
#include "pulse_export.h"
#include "output_files.h"
#include "session_decoder.h"
#ifdef VELTRIN_HAVE_EDFLIB
#include "edf_export.h"
#endif

using namespace capture;

namespace {

constexpr uint64_t DEFAULT_CHUNK = 4096;
// Input is read in pieces of at most this size whatever --chunk says, so memory stays bounded.
constexpr size_t READ_PIECE = 1 << 16;

const char USAGE[] =
    "usage: sensor-decode [--chunk N] [--csv OUT.csv] [--edf OUT.edf [--rate HZ] [--merge-bad MS]]\n"
    "                     [--notes OUT.csv] [--units LIST] [--dump] [--partial] [--quiet]\n"
    "                     [--stats [--rate HZ]] [--beats OUT.csv] [--ph OUT.csv] [FILE]\n"
    "Decodes a sensor session with the console's receive ring and frame decoder. FILE (or\n"
    "standard input when FILE is absent or -) is a capture, recognised by its header, or a plain\n"
    "byte stream, which is delivered in chunks of N bytes (default 4096; a capture keeps the reads\n"
    "it recorded). Prints one line per recognised frame:\n"
    "  data,W0,...,W7   a data frame whose check byte matches (words as unsigned decimals)\n"
    "  badcheck         a data frame whose check byte does not match\n"
    "  stop             a stop acknowledgement\n"
    "  info,B0,B1,B2,B3 an information reply\n"
    "  date,TEXT        a date reply\n"
    "and at the end, on standard error: frames N (data frames), badcheck M, skipped K bytes.\n"
    "  --csv OUT.csv  one row per data frame whose check byte matches:\n"
    "                 sample,time_s,pressure1,pressure2,pressure3,pulse1,pulse2,pulse3,ecg,volume,t_s\n"
    "                 (time_s: the read that completed the frame; t_s: the frame on the sample\n"
    "                 clock, its data run's start plus its place in the run at the frame rate)\n"
    "  --edf OUT.edf  an EDF+ file of the eight signals in sensor counts, with annotations for\n"
    "                 commands, markers, the settings at the start, data runs and missing\n"
    "                 samples; a pause of more than 10 minutes\n"
    "                 between data runs starts a new file, OUT-2.edf, OUT-3.edf ...\n"
    "  --rate HZ      sample rate of the EDF+ file and the CSV's t_s (default: measured from the\n"
    "                 capture's times; required for a plain byte stream)\n"
    "  --merge-bad MS stretches of missing samples closer than MS milliseconds are marked by one\n"
    "                 EDF+ annotation, \"BAD n missing samples in m\" (default 100; 0: each apart)\n"
    "  --notes OUT.csv the capture's notes (markers): time_s,sample,text\n"
    "  --units LIST   the static pressures of --csv, --edf, --beats and --ph and the best\n"
    "                 hold-down pressures of --stats in units: LIST is 1=UNIT:SCALE,2=...,3=...\n"
    "                 (SCALE in counts per unit, e.g. 1=mmHg:12.5), or \"kept\" for the units the\n"
    "                 console keeps (its settings file, ~/.config/Veltrin/Veltrin.conf)\n"
    "  --dump         print the capture's records (time, direction, bytes in hex; a note's text)\n"
    "                 and the settings in force when it was recorded, instead of frames\n"
    "  --partial      decode a capture that was cut short up to its last whole record\n"
    "  --quiet        no frame lines (with --csv or --edf)\n"
    "  --stats        instead of the frame lines, the figures of the whole session, one name=value\n"
    "                 a line: frames (data frames), frame_rate_hz, badcheck, skipped_bytes,\n"
    "                 heart_rate_bpm, pulse_rate_bpm_1..3, ptt_ms_1..3 (R wave to pulse foot),\n"
    "                 and the settings at the start of a capture that holds them:\n"
    "                 gain_pulse_1..3_at_start, gain_ecg_at_start, gain_volume_at_start,\n"
    "                 coefficient_1..3_at_start;\n"
    "                 \"unknown\" where a figure is. Frames are placed by the capture's times, or\n"
    "                 --rate HZ apart in a plain byte stream (required there)\n"
    "                 Heart-rate variability: nn_count, sdnn_ms, rmssd_ms, pnn50_pct (with 60 s\n"
    "                 of NN intervals), lf_ms2, hf_ms2, lf_hf (with 120 s of them unbroken)\n"
    "                 Then per pulse channel c: h1_c, h3_h1_c, h4_h1_c, h5_h1_c, t1_ms_c, t4_ms_c,\n"
    "                 t5_ms_c, t_ms_c, w_ms_c, w_t_c, c2_c..c10_c (the pulse diagram's medians),\n"
    "                 best_pressure_c (best_pressure_UNIT_c with --units), depth_c, position_c\n"
    "                 (floating, middle, deep), peak_end_c (the pressure-amplitude curve), beats_c\n"
    "                 and beats_rejected_c\n"
    "  --beats OUT.csv  one row per beat and pulse channel: its start, status, static pressure\n"
    "                 and every figure of its pulse diagram (--rate HZ for a plain stream)\n"
    "  --ph OUT.csv   the pressure-amplitude points, the binned curve and its best pressure\n";

struct Options {
    uint64_t chunk = DEFAULT_CHUNK;
    std::string csvPath, edfPath, notesPath, path;
    double rate = 0;
    units::PressureUnits pressureUnits;
    int64_t mergeBadUs = 100000;
    bool dump = false, partial = false, quiet = false, help = false, stats = false;
    // The pulse diagram's and the pressure-amplitude curve's exports.
    std::string beatsPath, phPath;
    bool PulseExports() const { return !beatsPath.empty() || !phPath.empty(); }
};

// Any whole number from 1 up; values past the largest 64-bit one mean that one.
bool ParseChunk(const char* text, uint64_t& out)
{
    if (!text || !*text)
        return false;
    uint64_t v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        v = v > (UINT64_MAX - digit) / 10 ? UINT64_MAX : v * 10 + digit;
    }
    if (v < 1)
        return false;
    out = v;
    return true;
}

bool ParseRate(const char* text, double& out)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
#ifdef VELTRIN_HAVE_EDFLIB
    if (errno != 0 || *end != '\0' || !(v >= EDF_MIN_RATE && v <= EDF_MAX_RATE))
        return false;
#else
    if (errno != 0 || *end != '\0' || !(v > 0))
        return false;
#endif
    out = v;
    return true;
}

// The frame lines, exactly as the tool has always printed them.
class CLinePrinter : public ISessionListener {
public:
    explicit CLinePrinter(std::ostream& out) : m_out(out) {}
    void OnInfoReply(const uint8_t info[4], int64_t) override
    {
        char line[64];
        const int n = std::snprintf(line, sizeof line, "info,%u,%u,%u,%u\n", info[0], info[1], info[2], info[3]);
        m_out.write(line, n);
    }
    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t) override
    {
        if (!checkOk) {
            m_out.write("badcheck\n", 9);
            return;
        }
        char line[64];
        int n = std::snprintf(line, sizeof line, "data");
        for (int k = 0; k < proto::BLOCK_WORDS; ++k)
            n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ",%u",
                               static_cast<unsigned>(proto::BlockWordAt(block, k)));
        line[n++] = '\n';
        m_out.write(line, n);
    }
    void OnStopAck(int64_t) override { m_out.write("stop\n", 5); }
    void OnDateReply(const uint8_t date[4], int64_t) override
    {
        m_out << "date," << proto::FormatDeviceDate(date) << '\n';
    }
private:
    std::ostream& m_out;
};

// Counts what a first pass needs to plan the EDF+ files: the frames and annotations of each
// stretch of data runs that goes into a file of its own (a long pause begins the next).
class CPlanCounter : public ISessionListener, private IRunListener {
public:
    struct Stretch {
        uint64_t frames = 0, bad = 0, commands = 0, runs = 0;
        // At most: every command and note, a stretch per bad or destroyed frame, a start, end
        // and pause per run, padding, the settings at the start.
        uint64_t Annotations() const { return commands + bad + 3 * runs + 1 + START_GAINS + START_COEFFICIENTS; }
    };
    CPlanCounter() : m_runs(this) {}
    void OnDataFrame(const uint8_t* block, bool checkOk, int64_t timeUs) override
    {
        m_runs.OnDataFrame(block, checkOk, timeUs);
        m_stretches.back().frames += 1;
        m_stretches.back().bad += checkOk ? 0 : 1;
        m_stretches.back().commands += m_qwCommands;  // those since the last frame go with it
        m_qwCommands = 0;
    }
    void OnDestroyedFrame(int64_t timeUs) override
    {
        m_runs.OnDestroyedFrame(timeUs);
        m_stretches.back().frames += 1;
        m_stretches.back().bad += 1;
        m_stretches.back().commands += m_qwCommands;
        m_qwCommands = 0;
    }
    void OnStopAck(int64_t timeUs) override { m_runs.OnStopAck(timeUs); }
    void OnCommandSent(const SentCommand&, int64_t) override { ++m_qwCommands; }
    void OnNote(const std::string&, int64_t) override { ++m_qwCommands; }
    void Finish()
    {
        m_runs.Finish();
        m_stretches.back().commands += m_qwCommands;
        m_qwCommands = 0;
    }
    CRunTracker m_runs;
    std::vector<Stretch> m_stretches = std::vector<Stretch>(1);

private:
    void OnRunStart(int nRun, int64_t timeUs) override
    {
        if (nRun > 1 && IsLongPause(m_nLastEndUs, timeUs))
            m_stretches.emplace_back();
        ++m_stretches.back().runs;
    }
    void OnRunEnd(int, int64_t lastTimeUs, uint64_t) override { m_nLastEndUs = lastTimeUs; }
    uint64_t m_qwCommands = 0;
    int64_t m_nLastEndUs = NO_TIME;
};

// Data frames, bad checks included: the count that --stats and the summary call frames.
class CFrameCounter : public ISessionListener {
public:
    void OnDataFrame(const uint8_t*, bool, int64_t) override { ++m_qwFrames; }
    uint64_t m_qwFrames = 0;
};

// Keeps the system's reason when a stream first fails to be written; heard right after the
// listener that writes the stream, so errno is still that write's.
class CStreamWatch : public ISessionListener {
public:
    explicit CStreamWatch(std::FILE* pFile) : m_pFile(pFile) {}
    void OnDataFrame(const uint8_t*, bool, int64_t) override
    {
        if (m_nErrno == 0 && std::ferror(m_pFile))
            m_nErrno = errno ? errno : EIO;
    }
    std::FILE* m_pFile = nullptr;
    int m_nErrno = 0;
};

std::string FormatTime(int64_t us)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%" PRId64 ".%06" PRId64, us / 1000000, us % 1000000);
    return buf;
}

// A header field as it can go to a terminal: control characters (C0, DEL, C1) and bytes that
// are not UTF-8 as \xNN, so a file cannot move the cursor, clear the screen or hide text.
std::string Printable(const std::string& text)
{
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        // Length of a well-formed UTF-8 sequence at i, 0 when there is none.
        size_t len = p[i] < 0x80 ? 1 : p[i] >= 0xC2 && p[i] <= 0xDF ? 2 : p[i] >= 0xE0 && p[i] <= 0xEF ? 3
                   : p[i] >= 0xF0 && p[i] <= 0xF4 ? 4 : 0;
        for (size_t k = 1; k < len; ++k)
            if (i + k >= n || (p[i + k] & 0xC0) != 0x80)
                len = 0;
        if (len == 3 && ((p[i] == 0xE0 && p[i + 1] < 0xA0) || (p[i] == 0xED && p[i + 1] >= 0xA0)))
            len = 0;  // overlong, or a surrogate
        if (len == 4 && ((p[i] == 0xF0 && p[i + 1] < 0x90) || (p[i] == 0xF4 && p[i + 1] >= 0x90)))
            len = 0;
        const bool bControl = len == 1 ? p[i] < 0x20 || p[i] == 0x7F : len == 2 && p[i] == 0xC2 && p[i + 1] < 0xA0;
        if (len == 0 || bControl) {
            const size_t nBad = len == 0 ? 1 : len;
            for (size_t k = 0; k < nBad; ++k) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", p[i + k]);
                out += hex;
            }
            i += nBad;
            continue;
        }
        out.append(text, i, len);
        i += len;
    }
    return out;
}

void DumpHeader(std::ostream& out, const CaptureHeader& h)
{
    out << "# capture version " << h.version << ", start " << Printable(h.start) << ", port "
        << (h.port > 0 ? "COM" + std::to_string(h.port) : std::string("-")) << ", path "
        << (h.path.empty() ? "-" : Printable(h.path)) << ", settings "
        << (h.settings.empty() ? "-" : Printable(h.settings));
    if (!h.writer.empty())
        out << ", written by " << Printable(h.writer);
    out << '\n';
    const std::vector<std::string> settings = DescribeSettings(h.atStart);
    if (!settings.empty()) {
        out << "# at start:";
        for (size_t i = 0; i < settings.size(); ++i)
            out << (i ? ", " : " ") << Printable(settings[i]);
        out << '\n';
    }
}

void DumpRecord(std::ostream& out, const CaptureRecord& rec)
{
    static const char HEX[] = "0123456789ABCDEF";
    std::string line = FormatTime(rec.timeUs);
    if (rec.dir == Direction::Note) {
        line += " note " + Printable(std::string(rec.bytes.begin(), rec.bytes.end())) + "\n";
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
        return;
    }
    line += rec.dir == Direction::Received ? " recv" : " sent";
    for (uint8_t b : rec.bytes) {
        line += ' ';
        line += HEX[b >> 4];
        line += HEX[b & 15];
    }
    line += '\n';
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

// --stats: the settings when the capture was recorded, name_at_start=value, when it holds them.
void PrintSettingsAtStart(std::ostream& out, const SettingsAtStart& s)
{
    if (!s.known)
        return;
    static const char* const GAINS[START_GAINS] = {"gain_pulse_1", "gain_pulse_2", "gain_pulse_3", "gain_ecg",
                                                   "gain_volume"};
    for (int g = 0; g < START_GAINS; ++g)
        out << GAINS[g] << "_at_start=" << s.gains[g] << '\n';
    for (int c = 0; c < START_COEFFICIENTS; ++c)
        out << "coefficient_" << c + 1 << "_at_start=" << Printable(s.coefficients[c]) << '\n';
}

class CDecodeRun {
public:
    CDecodeRun(const Options& opts, std::ostream& out, std::ostream& err) : m_opts(opts), m_out(out), m_err(err) {}
    int Run(IByteSource& stdinSource);

private:
    int Fail(const std::string& text)
    {
        m_out.flush();
        m_err << "sensor-decode: " << text << '\n';
        return 2;
    }
    int FailAt(const CCaptureReader& reader)
    {
        return Fail(m_name + ": offset " + std::to_string(reader.ErrorOffset()) + ": " + reader.Error());
    }
    // Reads a capture's records to the end into the decoder (none: only checks them); 0, or the
    // exit code of a failure.
    int ReadRecords(CCaptureReader& reader, CSessionDecoder* pDecoder, bool bDump);
    int ReadPlain(IByteSource& source, CSessionDecoder& decoder);
#ifdef VELTRIN_HAVE_EDFLIB
    // Says on standard error what a reader of the EDF+ files would not see: an unknown start,
    // and the files a long pause began.
    void TellEdfFiles(const CEdfExport& edf, bool bCapture);
#endif

    const Options& m_opts;
    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_name;
    bool m_bWarnedPartial = false;
    COutputFiles m_outputs;
    // While the outputs are written: 0, or the exit code of the first write that failed (the
    // run stops there rather than decode on into a full disk).
    std::function<int()> m_checkWrites;
};

int CDecodeRun::ReadRecords(CCaptureReader& reader, CSessionDecoder* pDecoder, bool bDump)
{
    CaptureRecord rec;
    for (;;) {
        const ReadResult r = reader.Next(rec);
        if (r == ReadResult::End)
            return 0;
        if (r == ReadResult::Truncated) {
            if (!m_opts.partial)
                return Fail(m_name + ": offset " + std::to_string(reader.ErrorOffset()) + ": " + reader.Error() +
                            "; the capture was cut short (as by a power loss): --partial decodes it up to its "
                            "last whole record");
            if (!m_bWarnedPartial) {
                m_bWarnedPartial = true;
                m_err << "sensor-decode: " << m_name << ": offset " << reader.ErrorOffset() << ": " << reader.Error()
                      << "; decoded up to the last whole record\n";
            }
            return 0;
        }
        if (r == ReadResult::Error)
            return FailAt(reader);
        if (bDump)
            DumpRecord(m_out, rec);
        if (!pDecoder)
            continue;
        if (rec.dir == Direction::Received)
            pDecoder->Received(rec.bytes.data(), rec.bytes.size(), rec.timeUs);
        else if (rec.dir == Direction::Sent)
            pDecoder->Sent(rec.bytes.data(), rec.bytes.size(), rec.timeUs);
        else
            pDecoder->Note(std::string(rec.bytes.begin(), rec.bytes.end()), rec.timeUs);
        if (m_checkWrites)
            if (const int rc = m_checkWrites())
                return rc;
    }
}

int CDecodeRun::ReadPlain(IByteSource& source, CSessionDecoder& decoder)
{
    // A chunk larger than the buffer is handed over in buffer-sized pieces: the decoder's
    // result does not depend on where one piece ends and the next begins.
    const size_t nPiece = static_cast<size_t>(std::min<uint64_t>(m_opts.chunk, READ_PIECE));
    std::vector<uint8_t> buf(nPiece);
    for (;;) {
        const size_t got = source.Read(buf.data(), buf.size());
        decoder.Received(buf.data(), got, NO_TIME);
        if (m_checkWrites)
            if (const int rc = m_checkWrites())
                return rc;
        if (got < buf.size())
            return 0;
    }
}

int CDecodeRun::Run(IByteSource& stdinSource)
{
    std::FILE* pIn = nullptr;
    const bool bStdin = m_opts.path.empty() || m_opts.path == "-";
    m_name = bStdin ? "standard input" : m_opts.path;
    if (!bStdin) {
        pIn = std::fopen(m_opts.path.c_str(), "rb");
        if (!pIn)
            return Fail("cannot read " + m_opts.path + ": " + std::strerror(errno));
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> inCloser(pIn, [](std::FILE* f) { return f ? std::fclose(f) : 0; });
    CFileSource fileSource(pIn);
    IByteSource& input = bStdin ? stdinSource : fileSource;

    // No output may be the input or a directory, nor two of them the same file: all refused
    // before anything is written.
    FileId inputId;
    if (FileIdOfDescriptor(input.Descriptor(), inputId))
        m_outputs.AddInput(inputId);
    std::string error;
    for (const std::string* pOut : {&m_opts.csvPath, &m_opts.edfPath, &m_opts.notesPath, &m_opts.beatsPath, &m_opts.phPath})
        if (!pOut->empty() && !m_outputs.Check(*pOut, error))
            return Fail(error);

    std::vector<uint8_t> head(START_PROBE_LEN);
    head.resize(input.Read(head.data(), head.size()));
    if (input.Failed())
        return Fail("cannot read " + m_name + ": " + input.ErrorText());
    const FileStart start = ClassifyStart(head.data(), head.size());
    if (start == FileStart::Damaged) {
        // The reader's own verdict on these bytes: what was found, and where.
        CMemorySource probeSource(head);
        CCaptureReader probe(probeSource);
        probe.ReadHeader();
        return FailAt(probe);
    }
    const bool bCapture = start == FileStart::Capture;
    // A file is read again from its start for each pass; anything else only once.
    const bool bRewind = !bStdin && std::fseek(pIn, 0, SEEK_SET) == 0;
    std::unique_ptr<IByteSource> pass;
    auto freshSource = [&]() -> IByteSource& {
        if (bRewind) {
            std::fseek(pIn, 0, SEEK_SET);
            pass = std::make_unique<CFileSource>(pIn);
        } else {
            pass = std::make_unique<CPrefixSource>(head, input);
        }
        return *pass;
    };
    const bool bEdf = !m_opts.edfPath.empty();

    if (m_opts.dump && !bCapture)
        return Fail(m_name + " is not a capture; --dump shows a capture's records");
    if (!m_opts.notesPath.empty() && !bCapture)
        return Fail(m_name + " is not a capture; --notes writes a capture's notes");
#ifndef VELTRIN_HAVE_EDFLIB
    if (bEdf)
        return Fail("this sensor-decode was built without EDFlib, so --edf is not available");
#endif
    if (m_opts.stats && !bCapture && m_opts.rate <= 0)
        return Fail("--stats of a plain byte stream needs --rate HZ (it has no times to place the frames by)");
    if (m_opts.PulseExports() && !bCapture && m_opts.rate <= 0)
        return Fail("--beats and --ph of a plain byte stream need --rate HZ (it has no times to place the frames by)");
    if (bEdf && !bCapture && m_opts.rate <= 0)
        return Fail("--edf of a plain byte stream needs --rate HZ (it has no times to measure the rate from)");
    if (bEdf && bCapture && !bRewind && m_opts.rate <= 0)
        return Fail("--edf of a capture read from a pipe needs --rate HZ (the rate is measured in a first pass "
                    "over a FILE)");

    // First pass over a capture file: check it whole before anything is written and, for --edf
    // and --csv, measure the frame rate and, for --edf, count what the EDF+ file will hold.
    double rate = m_opts.rate;
    SampleClock clock;
    clock.rate = bCapture ? 0 : m_opts.rate;
    uint64_t nPlanFrames = 0;
    [[maybe_unused]] std::vector<CPlanCounter::Stretch> stretches;  // used by the EDF+ export only
    if (bCapture && bRewind) {
        CCaptureReader reader(freshSource());
        if (!reader.ReadHeader())
            return FailAt(reader);
        std::unique_ptr<CSessionDecoder> scan;
        CPlanCounter counter;
        if (bEdf || !m_opts.csvPath.empty()) {
            scan = std::make_unique<CSessionDecoder>();
            scan->AddListener(&counter);
        }
        if (const int rc = ReadRecords(reader, scan.get(), false))
            return rc;
        counter.Finish();
        nPlanFrames = counter.m_runs.DataFrames();
        stretches = counter.m_stretches;
        if (rate <= 0)
            rate = counter.m_runs.MeasuredRate();
        if (rate > 0) {
            clock.rate = rate;
            clock.runStartUs = counter.m_runs.RunStartsUs(rate);
        }
        if (bEdf && nPlanFrames == 0)
            return Fail(m_name + " holds no data frame; no EDF+ file written");
#ifdef VELTRIN_HAVE_EDFLIB
        if (bEdf && !(rate >= EDF_MIN_RATE && rate <= EDF_MAX_RATE))
            return Fail("cannot measure the frame rate of " + m_name +
                        " (no data run has two data frames at different times); give --rate HZ");
        for (size_t n = 2; bEdf && n <= stretches.size(); ++n)
            if (!m_outputs.Check(EdfSeriesPath(m_opts.edfPath, static_cast<int>(n)), error))
                return Fail(error);
#endif
    }

    // The pass that writes.
    IByteSource& source = freshSource();
    CCaptureReader reader(source);
    if (bCapture && !reader.ReadHeader())
        return FailAt(reader);
    const CaptureHeader& header = reader.Header();

    CSessionDecoder decoder;
    if (!decoder.Ok())
        return Fail("out of memory for the receive ring");
    CLinePrinter printer(m_out);
    if (!m_opts.dump && !m_opts.quiet && !m_opts.stats)
        decoder.AddListener(&printer);
    CDecodeStats stats(decoder, bCapture ? 0 : m_opts.rate);
    stats.SetPressureUnits(m_opts.pressureUnits);
    if (m_opts.stats || m_opts.PulseExports())
        decoder.AddListener(&stats);
    CFrameCounter frames;
    decoder.AddListener(&frames);

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> csvStream(nullptr, [](std::FILE* f) { return f ? std::fclose(f) : 0; });
    std::unique_ptr<CCsvExport> csv;
    std::unique_ptr<CStreamWatch> csvWatch;
    if (!m_opts.csvPath.empty()) {
        csvStream.reset(m_outputs.Create(m_opts.csvPath, error));
        if (!csvStream)
            return Fail(error);
        csv = std::make_unique<CCsvExport>(csvStream.get(), m_opts.pressureUnits, clock);
        decoder.AddListener(csv.get());
        csvWatch = std::make_unique<CStreamWatch>(csvStream.get());
        decoder.AddListener(csvWatch.get());
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> notesStream(nullptr, [](std::FILE* f) { return f ? std::fclose(f) : 0; });
    std::unique_ptr<CNotesCsv> notes;
    if (!m_opts.notesPath.empty()) {
        notesStream.reset(m_outputs.Create(m_opts.notesPath, error));
        if (!notesStream)
            return Fail(error);
        notes = std::make_unique<CNotesCsv>(notesStream.get());
        decoder.AddListener(notes.get());
    }
#ifdef VELTRIN_HAVE_EDFLIB
    std::unique_ptr<CEdfExport> edf;
    if (bEdf) {
        // Made here first so that an unwritable place is reported with the system's reason.
        const std::string strEdfPart = m_outputs.Reserve(m_opts.edfPath, error);
        if (strEdfPart.empty())
            return Fail(error);
        EdfPlan plan;
        // Without a first pass the annotations are not counted: room for a few a record, and
        // the end of the file is extended if more come.
        plan.layout = stretches.empty() ? PlanEdfLayout(rate, 0, 0)
                                        : PlanEdfLayout(rate, stretches[0].frames, stretches[0].Annotations());
        for (size_t n = 1; n < stretches.size(); ++n)
            plan.later.push_back(PlanEdfLayout(rate, stretches[n].frames, stretches[n].Annotations()));
        if (!bRewind)
            plan.layout.annotationSignals = 4;
        plan.nextFile = [this](int nFile, std::string& strPath, std::string& strError) {
            strPath = m_outputs.Reserve(EdfSeriesPath(m_opts.edfPath, nFile), strError);
            return !strPath.empty();
        };
        plan.pressureUnits = m_opts.pressureUnits;
        plan.mergeBadUs = m_opts.mergeBadUs;
        if (bCapture) {
            plan.atStart = header.atStart;
            plan.start = header.start;
            plan.recording = (header.port > 0 ? "COM" + std::to_string(header.port) + " " : std::string())
                           + header.path + (header.settings.empty() ? "" : " " + header.settings);
        }
        edf = std::make_unique<CEdfExport>(strEdfPart, plan);
        decoder.AddListener(edf.get());
    }
#endif
    m_checkWrites = [&]() {
        if (csvWatch && csvWatch->m_nErrno != 0)
            return Fail("cannot write " + m_opts.csvPath + ": " + std::strerror(csvWatch->m_nErrno));
#ifdef VELTRIN_HAVE_EDFLIB
        if (edf && !edf->Error().empty())
            return Fail(m_opts.edfPath + ": " + edf->Error());
#endif
        return 0;
    };

    if (bCapture) {
        if (m_opts.dump)
            DumpHeader(m_out, header);
        if (const int rc = ReadRecords(reader, &decoder, m_opts.dump))
            return rc;
    } else {
        if (const int rc = ReadPlain(source, decoder))
            return rc;
        if (input.Failed())
            return Fail("cannot read " + m_name + ": " + input.ErrorText());
    }
    m_checkWrites = nullptr;

    // Finish the files, then move them all into place together.
    if (csv) {
        std::FILE* pCsv = csvStream.release();
        errno = 0;
        const bool bFailed = std::ferror(pCsv) != 0;
        const int nWatched = csvWatch->m_nErrno;
        if (std::fclose(pCsv) != 0 || bFailed)
            return Fail("cannot write " + m_opts.csvPath + ": " + std::strerror(nWatched ? nWatched : errno ? errno : EIO));
    }
    if (notes) {
        std::FILE* pNotes = notesStream.release();
        errno = 0;
        const bool bFailed = std::ferror(pNotes) != 0;
        if (std::fclose(pNotes) != 0 || bFailed)
            return Fail("cannot write " + m_opts.notesPath + ": " + std::strerror(errno ? errno : EIO));
    }
#ifdef VELTRIN_HAVE_EDFLIB
    if (edf && !edf->Finish())
        return Fail(m_opts.edfPath + ": " + edf->Error());
#endif
    // The pulse diagram's exports, from the whole session's analysis.
    for (const auto& e : {std::make_pair(&m_opts.beatsPath, true), std::make_pair(&m_opts.phPath, false)}) {
        if (e.first->empty())
            continue;
        std::FILE* pOut = m_outputs.Create(*e.first, error);
        if (!pOut)
            return Fail(error);
        const bool bWritten = e.second ? WriteBeatsCsv(pOut, stats.Analysis(), stats.EndUs(), m_opts.pressureUnits)
                                       : WritePressureCsv(pOut, stats.Analysis(), m_opts.pressureUnits);
        errno = 0;
        if (std::fclose(pOut) != 0 || !bWritten)
            return Fail("cannot write " + *e.first + ": " + std::strerror(errno ? errno : EIO));
    }

    if (!m_outputs.CommitAll(error))
        return Fail(error);
#ifdef VELTRIN_HAVE_EDFLIB
    if (edf)
        TellEdfFiles(*edf, bCapture);
#endif
    if (m_opts.stats) {
        stats.Print(m_out);
        if (bCapture)
            PrintSettingsAtStart(m_out, header.atStart);
    }
    m_out.flush();
    if (!m_out)
        return Fail("cannot write the output");
    const DecodeStats& st = decoder.Stats();
    m_err << "frames " << frames.m_qwFrames << ", badcheck " << st.badCheck << ", skipped " << st.skipped << " bytes\n";
    return 0;
}

#ifdef VELTRIN_HAVE_EDFLIB
void CDecodeRun::TellEdfFiles(const CEdfExport& edf, bool bCapture)
{
    const std::vector<EdfFileInfo>& files = edf.Files();
    if (!files.empty() && files[0].start.empty())
        m_err << "sensor-decode: " << m_opts.edfPath << ": "
              << (bCapture ? "the capture's header has no usable start time"
                           : "a plain byte stream has no start time")
              << "; the EDF+ start is 01.01.85 00.00.00, the convention for an unknown start\n";
    for (size_t i = 1; i < files.size(); ++i) {
        const EdfFileInfo& f = files[i];
        m_err << "sensor-decode: data run " << f.firstRun << " follows a pause of " << FormatTime(f.pauseUs)
              << " s: it and the runs after it are in " << EdfSeriesPath(m_opts.edfPath, static_cast<int>(i) + 1)
              << ", starting " << (f.start.empty() ? std::string("at an unknown time") : f.start) << '\n';
    }
}
#endif

// --units: the command line's form, or "kept": the console's settings file, read without Qt.
bool ParseUnitsOption(const std::string& value, units::PressureUnits& out, std::string& problem)
{
    if (value == "kept") {
        const std::string strFile = units::DefaultSettingsFile();
        if (strFile.empty()) {
            problem = "--units kept: the console keeps its settings where this program cannot read them "
                      "on this system; give the units as 1=UNIT:SCALE,2=...,3=...";
            return false;
        }
        std::ifstream probe(strFile);
        if (!probe)
            return true;  // nothing kept: counts
        if (units::ReadUnitsFromSettingsFile(strFile, out, &problem))
            return true;
        problem = "--units kept: " + problem;
        return false;
    }
    if (units::ParseUnits(value, out, &problem))
        return true;
    problem = "--units: " + problem;
    return false;
}

// Fills opts from the command line; false with the problem when it is refused.
bool ParseOptions(const std::vector<std::string>& args, Options& opts, std::string& problem)
{
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasInline = false;
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasInline = true;
        }
        const bool takesValue = arg == "--chunk" || arg == "--csv" || arg == "--edf" || arg == "--rate" ||
                                arg == "--notes" || arg == "--units" || arg == "--merge-bad" || arg == "--beats" ||
                                arg == "--ph";
        if (hasInline && !takesValue) {
            problem = "option " + arg + " takes no value";
            return false;
        }
        if (takesValue && !hasInline) {
            if (i + 1 >= args.size()) {
                problem = arg + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (arg == "--help" || arg == "-h") {
            opts.help = true;
        } else if (arg == "--chunk") {
            if (!ParseChunk(value.c_str(), opts.chunk)) {
                problem = "--chunk needs a whole number of bytes, 1 or more";
                return false;
            }
        } else if (arg == "--csv" || arg == "--edf" || arg == "--notes") {
            if (value.empty()) {
                problem = arg + " needs a file name";
                return false;
            }
            (arg == "--csv" ? opts.csvPath : arg == "--edf" ? opts.edfPath : opts.notesPath) = value;
        } else if (arg == "--units") {
            if (!ParseUnitsOption(value, opts.pressureUnits, problem))
                return false;
        } else if (arg == "--merge-bad") {
            uint64_t ms = 0;
            if (!(value == "0" || ParseChunk(value.c_str(), ms)) || ms > 60000) {
                problem = "--merge-bad needs milliseconds, from 0 to 60000";
                return false;
            }
            opts.mergeBadUs = static_cast<int64_t>(ms) * 1000;
        } else if (arg == "--beats" || arg == "--ph") {
            if (value.empty()) {
                problem = arg + " needs a file name";
                return false;
            }
            (arg == "--beats" ? opts.beatsPath : opts.phPath) = value;
        } else if (arg == "--rate") {
            if (!ParseRate(value.c_str(), opts.rate)) {
                problem = "--rate needs frames a second, from 0.02 to 100000";
                return false;
            }
        } else if (arg == "--stats") {
            opts.stats = true;
        } else if (arg == "--dump") {
            opts.dump = true;
        } else if (arg == "--partial") {
            opts.partial = true;
        } else if (arg == "--quiet" || arg == "-q") {
            opts.quiet = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            problem = "unknown option " + arg;
            return false;
        } else if (!opts.path.empty()) {
            problem = "only one FILE may be given";
            return false;
        } else {
            opts.path = arg;
        }
    }
    if ((!opts.csvPath.empty() && opts.csvPath == opts.edfPath)
        || (!opts.notesPath.empty() && (opts.notesPath == opts.csvPath || opts.notesPath == opts.edfPath))) {
        problem = "--csv, --edf and --notes need different files";
        return false;
    }
    if (!opts.pressureUnits.AllCounts() && opts.csvPath.empty() && opts.edfPath.empty() && !opts.stats
        && !opts.PulseExports()) {
        problem = "--units converts the pressures of --csv, --edf, --stats, --beats and --ph: it needs one of them";
        return false;
    }
    if (opts.rate > 0 && opts.edfPath.empty() && !opts.stats && !opts.PulseExports() && opts.csvPath.empty()) {
        problem = "--rate is the sample rate of the EDF+ file, the CSV or --stats: it needs --edf, --csv or --stats";
        return false;
    }
    return true;
}

} // namespace

int RunSensorDecode(const std::vector<std::string>& args, IByteSource& stdinSource, std::ostream& out, std::ostream& err)
{
    Options opts;
    std::string problem;
    if (!ParseOptions(args, opts, problem)) {
        err << "sensor-decode: " << problem << '\n' << USAGE;
        return 2;
    }
    if (opts.help) {
        out << USAGE;
        out.flush();
        return 0;
    }
    CDecodeRun run(opts, out, err);
    return run.Run(stdinSource);
}
