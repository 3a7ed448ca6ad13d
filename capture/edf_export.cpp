#include "edf_export.h"

#include <edflib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "capture_format.h"
#include "output_files.h"
#include "protocol.h"

namespace capture {

const char* const EDF_LABELS[EDF_SIGNALS] = {"Pressure 1", "Pressure 2", "Pressure 3", "Pulse 1",
                                             "Pulse 2",    "Pulse 3",    "ECG",        "Volume"};
const int EDF_WORDS[EDF_SIGNALS] = {proto::WORD_STATIC1, proto::WORD_STATIC2, proto::WORD_STATIC3, proto::WORD_PULSE1,
                                    proto::WORD_PULSE2,  proto::WORD_PULSE3,  proto::WORD_ECG,     proto::WORD_VOLUME};

namespace {

constexpr int EDF_MAX_ANNOTATION_SIGNALS = 64;
constexpr int MIN_RECORD_10US = 3125;      // 1/32 s, the shortest record planned
constexpr int32_t COUNT_OFFSET = 32768;    // count 0 is digital -32768
// Why a data frame left a missing sample, in its stretch's annotation.
constexpr const char* MISSING_CHECK = "check byte";
constexpr const char* MISSING_DESTROYED = "frame header hit";

// Cut at a character: a note's text is UTF-8, and half a character would leave the
// annotation no longer UTF-8.
std::string Clip(const std::string& text)
{
    return CutUtf8(text, EDF_MAX_ANNOTATION_TEXT);
}

} // namespace

EdfLayout PlanEdfLayout(double rate, uint64_t nFrames, uint64_t nAnnotations)
{
    // Record durations are whole seconds or a second halved up to five times: EDFlib writes
    // the duration into the header through a double, and only these come out exactly (others,
    // such as 1.00064 s, are cut to a value its own reader then refuses). Records of a few
    // seconds at low rates keep the sample rate's rounding within 0.05 % from 20 frames a
    // second up.
    const auto samples = [rate](int duration10us) {
        return std::max(1, static_cast<int>(std::lround(rate * duration10us / 1e5)));
    };
    const auto signalsNeeded = [&](int duration10us) {
        const uint64_t perRecord = static_cast<uint64_t>(samples(duration10us));
        const uint64_t records = std::max<uint64_t>(1, (nFrames + perRecord - 1) / perRecord);
        return (nAnnotations + records - 1) / records + 1;
    };
    int duration = std::clamp(static_cast<int>(std::ceil(1000 / rate)), 1, 60) * 100000;
    // Shorter records give the annotations more room.
    while (signalsNeeded(duration) > EDF_MAX_ANNOTATION_SIGNALS && duration > MIN_RECORD_10US)
        duration = duration > 100000 ? 100000 : duration / 2;
    EdfLayout layout;
    layout.duration10us = duration;
    layout.samplesPerRecord = samples(duration);
    layout.annotationSignals = static_cast<int>(std::clamp<uint64_t>(signalsNeeded(duration), 1, EDF_MAX_ANNOTATION_SIGNALS));
    return layout;
}

std::string EdfSeriesPath(const std::string& strPath, int nFile)
{
    return InsertBeforeExtension(strPath, "-" + std::to_string(nFile));
}

CEdfExport::CEdfExport(std::string strPath, EdfPlan plan)
    : m_strPath(std::move(strPath)), m_plan(std::move(plan)), m_layout(m_plan.layout), m_runs(this)
{
}

CEdfExport::~CEdfExport()
{
    if (m_hEdf >= 0)
        edfclose_file(m_hEdf);
}

bool CEdfExport::SetError(const std::string& text)
{
    if (m_strError.empty())
        m_strError = text;
    return false;
}

bool CEdfExport::OpenFile(int64_t firstTimeUs)
{
    if (m_files.empty()) {
        m_files.emplace_back();
        m_files.back().path = m_strPath;
    }
    const std::string strPath = m_files.back().path;
    const size_t nFile = m_files.size();  // from 1
    m_layout = nFile > 1 && nFile - 2 < m_plan.later.size() ? m_plan.later[nFile - 2] : m_plan.layout;
    const EdfLayout& lay = m_layout;
    m_hEdf = edfopen_file_writeonly(strPath.c_str(), EDFLIB_FILETYPE_EDFPLUS, EDF_SIGNALS);
    if (m_hEdf < 0)
        return SetError("EDFlib cannot create " + strPath + " (error " + std::to_string(m_hEdf) + ")");
    bool ok = true;
    for (int s = 0; s < EDF_SIGNALS; ++s) {
        ok = ok && edf_set_samplefrequency(m_hEdf, s, lay.samplesPerRecord) == 0;
        ok = ok && edf_set_physical_maximum(m_hEdf, s, 65535) == 0;
        ok = ok && edf_set_physical_minimum(m_hEdf, s, 0) == 0;
        ok = ok && edf_set_digital_maximum(m_hEdf, s, 32767) == 0;
        ok = ok && edf_set_digital_minimum(m_hEdf, s, -32768) == 0;
        ok = ok && edf_set_label(m_hEdf, s, EDF_LABELS[s]) == 0;
        ok = ok && edf_set_physical_dimension(m_hEdf, s, "count") == 0;
    }
    for (int c = 0; c < units::PRESSURE_CHANNELS; ++c) {
        // The pressures in their unit: counts 0 to 65535 are 0 to 65535 / scale of it.
        const units::ChannelUnit& unit = m_plan.pressureUnits.ch[c];
        if (unit.IsCounts())
            continue;
        ok = ok && edf_set_physical_maximum(m_hEdf, c, 65535 / unit.scale) == 0;
        ok = ok && edf_set_physical_dimension(m_hEdf, c, unit.name.c_str()) == 0;
    }
    if (lay.duration10us != 100000)
        ok = ok && edf_set_datarecord_duration(m_hEdf, lay.duration10us) == 0;
    ok = ok && edf_set_number_of_annotation_signals(m_hEdf, lay.annotationSignals) == 0;
    // EDF+ dates run from 1985 to 2084. An unknown start (or one outside them) is written as
    // 01.01.85 00.00.00, the EDF+ convention, never as the time of the export.
    LocalTime lt;
    bool bKnown = !m_plan.start.empty() && firstTimeUs != NO_TIME && ParseIso8601(m_plan.start, lt);
    if (bKnown) {
        lt = AddMicroseconds(lt, firstTimeUs);
        bKnown = lt.year >= 1985 && lt.year <= 2084;
    }
    if (bKnown) {
        ok = ok && edf_set_startdatetime(m_hEdf, lt.year, lt.month, lt.day, lt.hour, lt.minute, lt.second) == 0;
        ok = ok && edf_set_subsecond_starttime(m_hEdf, lt.microsecond / 100 * 1000) == 0;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", lt.year, lt.month, lt.day, lt.hour,
                      lt.minute, lt.second, lt.microsecond / 1000);
        m_files.back().start = buf;
    } else {
        ok = ok && edf_set_startdatetime(m_hEdf, 1985, 1, 1, 0, 0, 0) == 0;
    }
    ok = ok && edf_set_equipment(m_hEdf, "Veltrin") == 0;
    if (!m_plan.recording.empty())
        ok = ok && edf_set_recording_additional(m_hEdf, m_plan.recording.c_str()) == 0;
    if (!ok)
        return SetError("EDFlib refused the signal parameters of " + strPath);
    m_nFirstTimeUs = firstTimeUs;
    m_record.assign(static_cast<size_t>(lay.samplesPerRecord) * EDF_SIGNALS, 0);
    if (m_files.size() == 1)
        for (const std::string& line : DescribeSettings(m_plan.atStart))
            Annotate(0, -1, line + " (at start)");
    // Commands sent before this file's first data frame are placed at its start.
    for (const auto& cmd : m_pending)
        Annotate(0, -1, cmd.text + " (before data)");
    m_pending.clear();
    return true;
}

// Pads the last data record, makes room for every annotation and closes the file.
void CEdfExport::CloseFile()
{
    // EDFlib drops annotations beyond one per annotation signal and record, so the last
    // record is filled and, if need be, more follow until every annotation has room.
    FlushMissingCluster();
    const uint64_t n = static_cast<uint64_t>(m_layout.samplesPerRecord);
    const uint64_t perRecord = static_cast<uint64_t>(m_layout.annotationSignals);
    uint64_t pad = (n - static_cast<uint64_t>(m_nInRecord)) % n;
    uint64_t annotations = m_qwAnnotations + (pad > 0 ? 1 : 0);
    const uint64_t room = (m_qwIndex + pad) / n * perRecord;
    if (annotations > room) {
        if (pad == 0)
            ++annotations;
        pad += (annotations - room + perRecord - 1) / perRecord * n;
    }
    if (pad > 0 && m_strError.empty()) {
        AnnotateStretch(m_qwIndex, pad, "BAD padding after the data");
        for (uint64_t i = 0; i < pad && m_strError.empty(); ++i)
            PutSample(m_held);
        m_qwIndex -= pad;  // padding is not data
    }
    m_files.back().samples = m_qwIndex;
    errno = 0;
    const int rc = edfclose_file(m_hEdf);
    m_hEdf = -1;
    if (rc != 0)
        SetError("cannot finish " + m_files.back().path + ": " + std::strerror(errno ? errno : EIO));
}

void CEdfExport::StartNextFile(int nRun, int64_t timeUs)
{
    CloseFile();
    EdfFileInfo next;
    next.firstRun = nRun;
    next.pauseUs = timeUs - m_nLastRunEndUs;
    std::string strError;
    if (!m_strError.empty() || !m_plan.nextFile(static_cast<int>(m_files.size()) + 1, next.path, strError)) {
        SetError(strError.empty() ? "no file for data run " + std::to_string(nRun) : strError);
        return;
    }
    m_files.push_back(next);
    m_qwIndex = 0;
    m_qwAnnotations = 0;
    m_qwStretchLen = 0;
    m_nClusterStretches = 0;
    m_nInRecord = 0;
    OpenFile(timeUs);
}

void CEdfExport::FlushCommands(int64_t untilUs)
{
    size_t n = 0;
    for (; n < m_pending.size() && (m_pending[n].timeUs == NO_TIME || m_pending[n].timeUs <= untilUs); ++n) {
        const PendingCommand& cmd = m_pending[n];
        if (cmd.timeUs == NO_TIME || m_nFirstTimeUs == NO_TIME)
            Annotate(SampleOnset(cmd.index), -1, cmd.text);
        else
            Annotate((cmd.timeUs - m_nFirstTimeUs + 50) / 100, -1, cmd.text);
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
}

int64_t CEdfExport::SampleOnset(uint64_t index) const
{
    return std::llround(static_cast<double>(index) * 1e4 / m_layout.SampleRate());
}

void CEdfExport::Annotate(int64_t onset100us, int64_t duration100us, const std::string& text)
{
    if (m_hEdf < 0)
        return;
    if (edfwrite_annotation_utf8(m_hEdf, std::max<int64_t>(0, onset100us), duration100us, Clip(text).c_str()) != 0)
        SetError("EDFlib refused an annotation for " + m_files.back().path);
    ++m_qwAnnotations;
}

void CEdfExport::AnnotateStretch(uint64_t first, uint64_t n, const std::string& text)
{
    Annotate(SampleOnset(first), SampleOnset(first + n) - SampleOnset(first), text);
}

void CEdfExport::PutSample(const uint16_t words[EDF_SIGNALS])
{
    const int n = m_layout.samplesPerRecord;
    for (int s = 0; s < EDF_SIGNALS; ++s)
        m_record[static_cast<size_t>(s) * n + m_nInRecord] = static_cast<int16_t>(int32_t(words[s]) - COUNT_OFFSET);
    ++m_qwIndex;
    if (++m_nInRecord == n) {
        m_nInRecord = 0;
        errno = 0;
        if (edf_blockwrite_digital_short_samples(m_hEdf, m_record.data()) != 0)
            SetError("cannot write " + m_files.back().path + ": " + std::strerror(errno ? errno : EIO));
    }
}

void CEdfExport::PutMissing(uint64_t n)
{
    for (uint64_t i = 0; i < n && m_strError.empty(); ++i)
        PutSample(m_held);
}

void CEdfExport::CloseMissingStretch()
{
    if (m_qwStretchLen == 0)
        return;
    const uint64_t gap = static_cast<uint64_t>(
        std::llround(static_cast<double>(m_plan.mergeBadUs) * m_layout.SampleRate() / 1e6));
    if (m_nClusterStretches == 0 || m_qwStretchStart - m_qwClusterEnd >= gap) {
        FlushMissingCluster();
        m_qwClusterStart = m_qwStretchStart;
        m_qwClusterMissing = 0;
        m_pszClusterWhy = m_pszStretchWhy;
    }
    m_qwClusterEnd = m_qwStretchStart + m_qwStretchLen;
    m_qwClusterMissing += m_qwStretchLen;
    ++m_nClusterStretches;
    m_qwStretchLen = 0;
}

void CEdfExport::FlushMissingCluster()
{
    if (m_nClusterStretches == 0)
        return;
    const uint64_t span = m_qwClusterEnd - m_qwClusterStart;
    AnnotateStretch(m_qwClusterStart, span,
                    m_nClusterStretches == 1 ? std::string("BAD missing sample: ") + m_pszClusterWhy
                                             : "BAD " + std::to_string(m_qwClusterMissing) + " missing samples in " +
                                                   std::to_string(span));
    m_nClusterStretches = 0;
}

void CEdfExport::MissingFrame(const char* pszWhy)
{
    if (m_qwStretchLen > 0 && m_pszStretchWhy != pszWhy)
        CloseMissingStretch();
    if (m_qwStretchLen == 0) {
        m_qwStretchStart = m_qwIndex;
        m_pszStretchWhy = pszWhy;
    }
    ++m_qwStretchLen;
    PutMissing(1);
}

void CEdfExport::OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs)
{
    if (!m_strError.empty())
        return;
    if (m_hEdf < 0 && !OpenFile(timeUs))
        return;
    m_runs.OnDataFrame(block, checkOk, timeUs);  // may begin the next file
    if (m_hEdf < 0)
        return;
    FlushCommands(timeUs);
    if (checkOk) {
        CloseMissingStretch();
        for (int s = 0; s < EDF_SIGNALS; ++s)
            m_held[s] = proto::BlockWordAt(block, EDF_WORDS[s]);
        PutSample(m_held);
    } else {
        MissingFrame(MISSING_CHECK);
    }
}

void CEdfExport::OnDestroyedFrame(int64_t timeUs)
{
    if (!m_strError.empty())
        return;
    if (m_hEdf < 0 && !OpenFile(timeUs))
        return;
    m_runs.OnDestroyedFrame(timeUs);  // may begin the next file
    if (m_hEdf < 0)
        return;
    FlushCommands(timeUs);
    MissingFrame(MISSING_DESTROYED);
}

void CEdfExport::OnStopAck(int64_t timeUs)
{
    if (m_hEdf < 0)
        return;
    m_runs.OnStopAck(timeUs);
    // The commands up to the acknowledgement (the stop among them) belong to this file.
    FlushCommands(timeUs);
}

void CEdfExport::OnCommandSent(const SentCommand& cmd, int64_t timeUs)
{
    PendingCommand pending;
    pending.timeUs = timeUs;
    pending.index = m_qwIndex;
    pending.text = DescribeCommand(cmd);
    m_pending.push_back(std::move(pending));
}

void CEdfExport::OnNote(const std::string& text, int64_t timeUs)
{
    PendingCommand pending;
    pending.timeUs = timeUs;
    pending.index = m_qwIndex;
    std::string line = text;
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';  // an annotation is one line, without control characters
    pending.text = line.empty() ? "marker" : "marker: " + line;
    m_pending.push_back(std::move(pending));
}

void CEdfExport::OnRunStart(int nRun, int64_t timeUs)
{
    if (nRun > 1 && m_plan.nextFile && IsLongPause(m_nLastRunEndUs, timeUs)) {
        StartNextFile(nRun, timeUs);
        if (m_hEdf < 0)
            return;
    } else if (nRun > 1 && timeUs != NO_TIME && m_nFirstTimeUs != NO_TIME) {
        // The pause is filled so that the run's first sample falls at its time.
        const int64_t target =
            std::llround(static_cast<double>(timeUs - m_nFirstTimeUs) * m_layout.SampleRate() / 1e6);
        if (target > static_cast<int64_t>(m_qwIndex)) {
            const uint64_t n = static_cast<uint64_t>(target) - m_qwIndex;
            AnnotateStretch(m_qwIndex, n, "BAD pause between data runs");
            PutMissing(n);
        }
    }
    Annotate(SampleOnset(m_qwIndex), -1, "data run " + std::to_string(nRun) + " start");
}

void CEdfExport::OnRunEnd(int nRun, int64_t lastTimeUs, uint64_t /*nFrames*/)
{
    CloseMissingStretch();
    FlushMissingCluster();
    FlushCommands(lastTimeUs);
    Annotate(SampleOnset(m_qwIndex > 0 ? m_qwIndex - 1 : 0), -1, "data run " + std::to_string(nRun) + " end");
    m_nLastRunEndUs = lastTimeUs;
}

bool CEdfExport::Finish()
{
    if (m_hEdf < 0)
        return SetError(m_strError.empty() ? "no data frame to export" : m_strError);
    m_runs.Finish();
    if (m_hEdf >= 0) {
        FlushCommands(INT64_MAX);
        CloseFile();
    }
    return m_strError.empty();
}

} // namespace capture
