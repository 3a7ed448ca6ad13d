#include "capture_harness.h"

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "byte_source.h"
#include "capture_format.h"
#include "capture_reader.h"
#include "fuzz_check.h"
#include "receive_model.h"
#include "session_decoder.h"

namespace {

using fuzzcheck::CheckFailure;

using capture::CaptureHeader;
using capture::CaptureRecord;
using capture::ReadResult;

struct Reading {
    bool bHeaderOk = false;
    CaptureHeader header;
    std::vector<CaptureRecord> records;
    ReadResult final = ReadResult::End;
    uint64_t qwErrorOffset = 0;
};

uint64_t Le(const uint8_t* p, int n)
{
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// The layout read step by step as the format document describes it.
Reading ModelRead(const uint8_t* p, size_t n)
{
    static const uint8_t kMagic[8] = {0x89, 'V', 'C', 'A', 'P', 0x0D, 0x0A, 0x1A};
    Reading r;
    r.final = ReadResult::Error;
    if (n >= 8 && std::memcmp(p, kMagic, 8) != 0)
        return r;  // not a capture, at offset 0
    if (n < 12) {
        r.qwErrorOffset = n;
        return r;
    }
    const uint64_t version = Le(p + 8, 2);
    if (version != 1 && version != 2) {
        r.qwErrorOffset = 8;
        return r;
    }
    const size_t nText = static_cast<size_t>(Le(p + 10, 2));
    if (nText > 4096) {
        r.qwErrorOffset = 10;
        return r;
    }
    if (n < 12 + nText) {
        r.qwErrorOffset = n;
        return r;
    }
    const std::string text(reinterpret_cast<const char*>(p + 12), nText);
    for (size_t pos = 0; pos < text.size();) {
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
        if (key == "start") r.header.start = value;
        else if (key == "port") r.header.port = std::atoi(value.c_str());
        else if (key == "path") r.header.path = value;
        else if (key == "settings") r.header.settings = value;
        else if (key == "writer") r.header.writer = value;
        static const char* const gains[] = {"gain_pulse_1", "gain_pulse_2", "gain_pulse_3", "gain_ecg", "gain_volume"};
        for (int g = 0; g < 5; ++g)
            if (key == gains[g]) {
                r.header.atStart.gains[g] = std::atoi(value.c_str());
                r.header.atStart.known = true;
            }
        for (int c = 0; c < 3; ++c)
            if (key == "coefficient_" + std::to_string(c + 1)) {
                r.header.atStart.coefficients[c] = value;
                r.header.atStart.known = true;
            }
    }
    r.bHeaderOk = true;

    size_t pos = 12 + nText;
    int64_t last = 0;
    for (;;) {
        if (pos == n) {
            r.final = ReadResult::End;
            return r;
        }
        r.qwErrorOffset = pos;
        if (n - pos < 11) {
            r.final = ReadResult::Truncated;
            return r;
        }
        const uint8_t dir = p[pos];
        const int64_t t = static_cast<int64_t>(Le(p + pos + 1, 8));
        const size_t nLen = static_cast<size_t>(Le(p + pos + 9, 2));
        // Notes come with version 2.
        if ((dir != 'R' && dir != 'S' && (dir != 'N' || version < 2)) || t < 0 || t < last || t - last > int64_t(86400) * 1000000) {
            r.final = ReadResult::Error;
            return r;
        }
        if (n - pos - 11 < nLen) {
            r.final = ReadResult::Truncated;
            return r;
        }
        CaptureRecord rec;
        rec.dir = static_cast<capture::Direction>(dir);
        rec.timeUs = t;
        rec.offset = pos;
        rec.bytes.assign(p + pos + 11, p + pos + 11 + nLen);
        r.records.push_back(std::move(rec));
        last = t;
        pos += 11 + nLen;
    }
}

// The reader's view, with its own bookkeeping checked on the way.
Reading ReaderRead(const uint8_t* p, size_t n)
{
    CMemorySource source(p, n);
    capture::CCaptureReader reader(source);
    Reading r;
    r.bHeaderOk = reader.ReadHeader();
    if (!r.bHeaderOk) {
        FUZZ_CHECK(!reader.Error().empty(), "a refused header without a reason");
        FUZZ_CHECK(reader.ErrorOffset() <= n, "header error beyond the input");
        r.final = ReadResult::Error;
        r.qwErrorOffset = reader.ErrorOffset();
        return r;
    }
    r.header = reader.Header();
    CaptureRecord rec;
    for (;;) {
        const uint64_t qwBefore = reader.Offset();
        const ReadResult res = reader.Next(rec);
        if (res != ReadResult::Record) {
            r.final = res;
            if (res == ReadResult::End) {
                FUZZ_CHECK(reader.Offset() == n, "the end reported at " << reader.Offset() << " of " << n);
            } else {
                FUZZ_CHECK(!reader.Error().empty(), "a failure without a reason");
                r.qwErrorOffset = reader.ErrorOffset();
            }
            FUZZ_CHECK(reader.Next(rec) == res, "the verdict changed on asking again");
            return r;
        }
        FUZZ_CHECK(rec.offset == qwBefore, "record offset " << rec.offset << " after " << qwBefore);
        FUZZ_CHECK(reader.Offset() == qwBefore + capture::RECORD_HEADER_LEN + rec.bytes.size(), "offset after a record");
        FUZZ_CHECK(reader.Offset() <= n, "read beyond the input");
        r.records.push_back(rec);
    }
}

bool SameSettings(const capture::SettingsAtStart& a, const capture::SettingsAtStart& b)
{
    if (a.known != b.known)
        return false;
    for (int g = 0; g < capture::START_GAINS; ++g)
        if (a.known && a.gains[g] != b.gains[g])
            return false;
    for (int c = 0; c < capture::START_COEFFICIENTS; ++c)
        if (a.known && a.coefficients[c] != b.coefficients[c])
            return false;
    return true;
}

bool SameRecord(const CaptureRecord& a, const CaptureRecord& b)
{
    return a.dir == b.dir && a.timeUs == b.timeUs && a.offset == b.offset && a.bytes == b.bytes;
}

void Compare(const Reading& got, const Reading& want, const char* pszWhat)
{
    FUZZ_CHECK(got.bHeaderOk == want.bHeaderOk, pszWhat << ": header accepted " << got.bHeaderOk);
    if (got.bHeaderOk) {
        FUZZ_CHECK(got.header.start == want.header.start && got.header.port == want.header.port
                          && got.header.path == want.header.path && got.header.settings == want.header.settings
                          && got.header.writer == want.header.writer && SameSettings(got.header.atStart, want.header.atStart),
                      pszWhat << ": header fields");
    }
    FUZZ_CHECK(got.records.size() == want.records.size(), pszWhat << ": " << got.records.size() << " records, expected "
                                                                     << want.records.size());
    for (size_t i = 0; i < got.records.size(); ++i)
        FUZZ_CHECK(SameRecord(got.records[i], want.records[i]), pszWhat << ": record " << i);
    FUZZ_CHECK(got.final == want.final, pszWhat << ": verdict " << static_cast<int>(got.final) << ", expected "
                                                   << static_cast<int>(want.final));
    if (got.final != ReadResult::End)
        FUZZ_CHECK(got.qwErrorOffset == want.qwErrorOffset, pszWhat << ": failure at " << got.qwErrorOffset
                                                                       << ", expected " << want.qwErrorOffset);
}

// Frames heard from the session decoder.
class Frames : public capture::ISessionListener {
public:
    std::vector<fuzzmodel::Event> m_events;
    std::vector<capture::SentCommand> m_commands;
    uint64_t m_qwDestroyed = 0;
    void OnDestroyedFrame(int64_t) override { ++m_qwDestroyed; }
    void OnInfoReply(const uint8_t info[4], int64_t) override { Add(0x31, info, 4, true); }
    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t) override { Add(0x32, block, 17, checkOk); }
    void OnStopAck(int64_t) override { Add(0x33, nullptr, 0, true); }
    void OnDateReply(const uint8_t date[4], int64_t) override { Add(0x3A, date, 4, true); }
    void OnCommandSent(const capture::SentCommand& cmd, int64_t) override { m_commands.push_back(cmd); }

private:
    void Add(uint8_t code, const uint8_t* p, int n, bool ok)
    {
        fuzzmodel::Event e;
        e.code = code;
        std::copy(p, p + n, e.payload.begin());
        e.checkOk = ok;
        m_events.push_back(e);
    }
};

// Every received byte is decoded, whatever the record sizes; commands do not depend on how
// the sent bytes were cut.
void CheckSession(const std::vector<CaptureRecord>& records)
{
    capture::CSessionDecoder decoder;
    FUZZ_CHECK(decoder.Ok(), "session decoder without a ring");
    Frames frames;
    decoder.AddListener(&frames);
    fuzzmodel::ReceiveModel model(-1);
    std::vector<fuzzmodel::Event> expected;
    std::vector<uint8_t> sent;
    for (const CaptureRecord& rec : records) {
        if (rec.dir == capture::Direction::Received) {
            decoder.Received(rec.bytes.data(), rec.bytes.size(), rec.timeUs);
            model.Append(rec.bytes.data(), static_cast<int>(rec.bytes.size()));
            model.Decode(expected);
        } else if (rec.dir == capture::Direction::Sent) {
            decoder.Sent(rec.bytes.data(), rec.bytes.size(), rec.timeUs);
            sent.insert(sent.end(), rec.bytes.begin(), rec.bytes.end());
        }
    }
    FUZZ_CHECK(frames.m_events == expected, "session decoded " << frames.m_events.size() << " frames, expected "
                                                                   << expected.size());
    const DecodeStats& st = decoder.Stats();
    FUZZ_CHECK(st.frames == model.m_stats.frames && st.badCheck == model.m_stats.badCheck
                      && st.skipped == model.m_stats.skipped && st.destroyed == model.m_stats.destroyed,
                  "session statistics");
    FUZZ_CHECK(frames.m_qwDestroyed == st.destroyed, "listeners heard of " << frames.m_qwDestroyed
                                                        << " destroyed frames, the decoder found " << st.destroyed);
    capture::CSentCommandParser whole;
    const std::vector<capture::SentCommand> all = whole.Feed(sent.data(), sent.size());
    FUZZ_CHECK(all.size() == frames.m_commands.size(), "commands depend on how the sent bytes were cut");
    for (size_t i = 0; i < all.size(); ++i)
        FUZZ_CHECK(all[i].code == frames.m_commands[i].code && all[i].address == frames.m_commands[i].address
                          && all[i].value == frames.m_commands[i].value && all[i].hasValue == frames.m_commands[i].hasValue,
                      "command " << i << " depends on how the sent bytes were cut");
}

std::string FirstLine(const std::string& s)
{
    const size_t nl = s.find_first_of("\r\n");
    return nl == std::string::npos ? s : s.substr(0, nl);
}

capture::SettingsAtStart FirstLines(capture::SettingsAtStart s)
{
    for (std::string& c : s.coefficients)
        c = FirstLine(c);
    return s;
}

// What was read, written again with the format's encoders, reads back the same.
void CheckRewrite(const Reading& first)
{
    std::vector<uint8_t> file = capture::EncodeHeader(first.header);
    const size_t nHeader = file.size();
    for (const CaptureRecord& rec : first.records) {
        uint8_t head[capture::RECORD_HEADER_LEN];
        capture::EncodeRecordHeader(rec.dir, rec.timeUs, rec.bytes.size(), head);
        file.insert(file.end(), head, head + sizeof head);
        file.insert(file.end(), rec.bytes.begin(), rec.bytes.end());
    }
    const Reading again = ReaderRead(file.data(), file.size());
    FUZZ_CHECK(again.bHeaderOk, "a rewritten header was refused");
    FUZZ_CHECK(again.final == ReadResult::End, "a rewritten capture does not end cleanly");
    FUZZ_CHECK(again.records.size() == first.records.size(), "a rewritten capture lost records");
    uint64_t qwOffset = nHeader;
    for (size_t i = 0; i < again.records.size(); ++i) {
        const CaptureRecord& a = again.records[i];
        const CaptureRecord& b = first.records[i];
        FUZZ_CHECK(a.dir == b.dir && a.timeUs == b.timeUs && a.bytes == b.bytes && a.offset == qwOffset,
                      "rewritten record " << i);
        qwOffset += capture::RECORD_HEADER_LEN + a.bytes.size();
    }
    // Fields survive unless the writer had to cut them (a line break, a text over the limit).
    const CaptureHeader& h = first.header;
    const size_t nText = nHeader - capture::FIXED_HEADER_LEN;
    if (nText < capture::MAX_HEADER_TEXT) {
        FUZZ_CHECK(again.header.start == FirstLine(h.start) && again.header.path == FirstLine(h.path)
                          && again.header.settings == FirstLine(h.settings) && again.header.writer == FirstLine(h.writer)
                          && SameSettings(again.header.atStart, FirstLines(h.atStart))
                          && again.header.port == (h.port > 0 ? h.port : 0),
                      "rewritten header fields");
    }
}

} // namespace

std::string CheckCaptureInput(const uint8_t* data, size_t size)
{
    try {
        const Reading got = ReaderRead(data, size);
        Compare(got, ModelRead(data, size), "reader");
        if (got.bHeaderOk) {
            CheckSession(got.records);
            CheckRewrite(got);
        }
    } catch (const CheckFailure& e) {
        return e.what();
    }
    return std::string();
}
