#pragma once
// EDF+ export through EDFlib: eight signals in raw sensor counts (physical 0..65535 stored as
// digital -32768..32767, so every count is kept exactly), one sample per data frame at the
// sensor's frame rate, starting at the first data frame. Time is never closed up: a data
// frame whose check byte failed, one destroyed on the line (its header hit) and the pause
// between two data runs leave missing samples (they repeat the last good sample) marked by
// annotations whose text begins with "BAD", which
// MNE-Python takes as bad stretches. Commands sent and the start and end of every data run
// are annotations too. A long pause between two data runs (IsLongPause) is not padded when
// the plan says where further files go: the runs after it go into a file of their own.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture_format.h"
#include "channel_units.h"
#include "data_runs.h"
#include "session_decoder.h"

namespace capture {

constexpr int EDF_SIGNALS = 8;
// Labels in signal order, and the sample-block word of each.
extern const char* const EDF_LABELS[EDF_SIGNALS];
extern const int EDF_WORDS[EDF_SIGNALS];
// Frame rates an EDF+ file can be given: a data record lasts at most 60 s.
constexpr double EDF_MIN_RATE = 0.02;
constexpr double EDF_MAX_RATE = 100000;
// EDFlib keeps annotation texts to this many bytes.
constexpr size_t EDF_MAX_ANNOTATION_TEXT = 40;
// Stretches of missing samples closer than this are marked by one annotation, so that a dirty
// line does not bury the other annotations.
constexpr int64_t EDF_MERGE_BAD_US = 100000;
// The name of file nFile (from 2) of a split export: OUT.edf, OUT-2.edf, OUT-3.edf ...
std::string EdfSeriesPath(const std::string& strPath, int nFile);

// How samples are laid out in data records: samplesPerRecord samples in records of
// duration10us × 10 µs (whole seconds, or a second halved a few times), so the sample rate is
// the frame rate rounded to a whole number of samples a record; annotationSignals sized for
// the annotations expected.
struct EdfLayout {
    int samplesPerRecord = 1;
    int duration10us = 100000;
    int annotationSignals = 1;
    double SampleRate() const { return samplesPerRecord * 1e5 / duration10us; }
};
// nFrames and nAnnotations are what a first pass found (0 when unknown): records get shorter
// when the annotations would not fit one record's room otherwise.
EdfLayout PlanEdfLayout(double rate, uint64_t nFrames, uint64_t nAnnotations);

struct EdfPlan {
    EdfLayout layout;
    std::string start;      // the capture's ISO 8601 start; empty for a plain stream
    std::string recording;  // for the header's recording field: port, path, settings
    // Layouts of the files after the first, as a first pass planned them; a file beyond them
    // takes `layout`.
    std::vector<EdfLayout> later;
    // Where file nFile (from 2) of a split export is written; false with the reason in
    // strError. Unset: nothing is split, every pause is filled with missing samples.
    std::function<bool(int nFile, std::string& strPath, std::string& strError)> nextFile;
    // Units of the pressure signals (their physical dimension, minimum and maximum).
    units::PressureUnits pressureUnits;
    // Annotated at the first file's start, each marked "(at start)".
    SettingsAtStart atStart;
    // Missing-sample stretches closer than this become one "BAD n missing samples in m"
    // annotation; 0 marks each stretch apart.
    int64_t mergeBadUs = EDF_MERGE_BAD_US;
};

// One file of an export, as written.
struct EdfFileInfo {
    std::string path;
    std::string start;     // "2025-03-01 09:30:00.125"; empty when unknown (01.01.85 00.00.00 written)
    int firstRun = 1;
    int64_t pauseUs = 0;   // the pause before its first run; 0 for the first file
    uint64_t samples = 0;  // data samples, padding at the end not counted
};

class CEdfExport : public ISessionListener, private IRunListener {
public:
    CEdfExport(std::string strPath, EdfPlan plan);
    ~CEdfExport() override;
    CEdfExport(const CEdfExport&) = delete;
    CEdfExport& operator=(const CEdfExport&) = delete;

    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override;
    void OnDestroyedFrame(int64_t timeUs) override;
    void OnStopAck(int64_t timeUs) override;
    void OnCommandSent(const SentCommand& cmd, int64_t timeUs) override;
    // A note is annotated as "marker: TEXT" ("marker" without a text) at its time.
    void OnNote(const std::string& text, int64_t timeUs) override;
    // Ends the last run, fills the last data record and closes the file. False when the file
    // could not be written or there was no data frame at all; Error() says why.
    bool Finish();
    const std::string& Error() const { return m_strError; }
    // The files begun so far, in order.
    const std::vector<EdfFileInfo>& Files() const { return m_files; }

private:
    struct PendingCommand {
        int64_t timeUs = NO_TIME;
        uint64_t index = 0;  // samples written when it was sent, for a stream without times
        std::string text;
    };

    void OnRunStart(int nRun, int64_t timeUs) override;
    void OnRunEnd(int nRun, int64_t lastTimeUs, uint64_t nFrames) override;
    bool OpenFile(int64_t firstTimeUs);
    void CloseFile();
    void StartNextFile(int nRun, int64_t timeUs);
    // Annotates the commands sent up to untilUs at their times.
    void FlushCommands(int64_t untilUs);
    void PutSample(const uint16_t words[EDF_SIGNALS]);
    void PutMissing(uint64_t n);
    // One missing sample for a data frame without values, in a stretch of its kind.
    void MissingFrame(const char* pszWhy);
    void CloseMissingStretch();
    // Annotates the stretches of missing samples gathered so far.
    void FlushMissingCluster();
    void Annotate(int64_t onset100us, int64_t duration100us, const std::string& text);
    // An annotation lasting from sample first for n samples.
    void AnnotateStretch(uint64_t first, uint64_t n, const std::string& text);
    int64_t SampleOnset(uint64_t index) const;
    bool SetError(const std::string& text);

    std::string m_strPath;
    EdfPlan m_plan;
    EdfLayout m_layout;                 // of the file being written
    std::vector<EdfFileInfo> m_files;
    int m_hEdf = -1;
    CRunTracker m_runs;
    std::string m_strError;
    int64_t m_nFirstTimeUs = NO_TIME;   // time of the first data frame: the file's start
    uint64_t m_qwIndex = 0;             // samples so far
    uint64_t m_qwAnnotations = 0;
    uint64_t m_qwStretchStart = 0;      // first sample of the open stretch of missing frames
    uint64_t m_qwStretchLen = 0;
    const char* m_pszStretchWhy = "";   // what the stretch's frames lack
    // Stretches of missing samples closer than the plan's mergeBadUs, not yet annotated.
    uint64_t m_qwClusterStart = 0;
    uint64_t m_qwClusterEnd = 0;
    uint64_t m_qwClusterMissing = 0;
    int m_nClusterStretches = 0;
    const char* m_pszClusterWhy = "";   // what the frames of a cluster of one stretch lack
    uint16_t m_held[EDF_SIGNALS] = {};  // last good sample, repeated where one is missing
    std::vector<int16_t> m_record;      // one data record, signal after signal
    int m_nInRecord = 0;
    int64_t m_nLastRunEndUs = NO_TIME;  // last data frame of the run that ended last
    // Commands not yet annotated: before the first data frame, or after the last one seen
    // (until the next data frame tells which file they belong to).
    std::vector<PendingCommand> m_pending;
};

} // namespace capture
