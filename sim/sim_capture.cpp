#include "sim_capture.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "capture_writer.h"
#include "sensor_model.h"

bool WriteSimulatedCapture(const std::string& strPath, const SimCaptureOptions& opts, std::string* pError)
{
    using capture::Direction;
    capture::CaptureHeader header;
    header.start = opts.start.empty() ? capture::NowIso8601() : opts.start;
    header.settings = "256000,n,8,1";
    header.writer = "sensor-sim";
    capture::CCaptureWriter writer;
    if (!writer.Open(strPath, header)) {
        if (pError)
            *pError = writer.Error();
        return false;
    }
    CSensorModel model(opts.rate, opts.bpm, opts.seed);
    model.ApplySignalOptions(opts.pttMs, opts.hrvMs);
    model.ApplyHrvModulation(opts.hrvLfMs, opts.hrvHfMs);
    model.ApplyPulseOptions(opts.pulse);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> truth(nullptr, [](std::FILE* f) { return f ? std::fclose(f) : 0; });
    if (!opts.truthPath.empty()) {
        truth.reset(std::fopen(opts.truthPath.c_str(), "w"));
        if (!truth) {
            if (pError)
                *pError = "cannot write " + opts.truthPath + ": " + std::strerror(errno);
            writer.Close();
            std::remove(strPath.c_str());
            return false;
        }
        std::fputs(TruthCsvHeader().c_str(), truth.get());
        model.m_gen.m_bTruth = true;
    }
    CSimRandom faults(opts.seed ^ 0xFA017u);
    std::vector<uint8_t> out;
    // A command sent at timeUs and its reply, if any, a few milliseconds later.
    auto command = [&](uint8_t code, int64_t timeUs) {
        uint8_t cmd[proto::MAX_COMMAND_LEN];
        writer.Append(Direction::Sent, timeUs, cmd, static_cast<size_t>(proto::BuildCommandFrame(code, proto::ADDR_SENSOR, 0, cmd)));
        out.clear();
        model.HandleCommand(SimCommand{proto::ADDR_SENSOR, code, 0}, out);
        if (!out.empty())
            writer.Append(Direction::Received, timeUs + 3000, out.data(), out.size());
    };
    command(proto::CODE_INFO, 0);
    const int64_t startUs = 2 * SIM_CAPTURE_READ_US;
    command(proto::CODE_START, startUs);
    const int64_t endUs = startUs + static_cast<int64_t>(opts.seconds * 1e6);
    uint64_t nFrames = 0;
    int64_t t = startUs;
    while (t < endUs && !writer.Failed()) {
        t += SIM_CAPTURE_READ_US;
        const uint64_t due = static_cast<uint64_t>(static_cast<double>(t - startUs) / 1e6 * opts.rate);
        out.clear();
        for (; nFrames < due; ++nFrames) {
            uint8_t frame[proto::DATA_FRAME_LEN];
            model.NextDataFrame(frame);
            if (faults.Chance(opts.garbage)) {
                const int n = 1 + static_cast<int>(faults.Next() % 8);
                for (int i = 0; i < n; ++i)
                    out.push_back(static_cast<uint8_t>(faults.Next()));
            }
            if (faults.Chance(opts.corrupt))
                frame[faults.Next() % proto::DATA_FRAME_LEN] ^= static_cast<uint8_t>(1 + faults.Next() % 255);
            out.insert(out.end(), frame, frame + proto::DATA_FRAME_LEN);
        }
        if (!out.empty())
            writer.Append(Direction::Received, t, out.data(), out.size());
        if (truth)
            for (const PulseTruth& row : model.m_gen.TakeTruth())
                std::fputs(TruthCsvLine(row).c_str(), truth.get());
    }
    command(proto::CODE_STOP, t + SIM_CAPTURE_READ_US);
    if (truth && (std::ferror(truth.get()) || std::fclose(truth.release()) != 0)) {
        if (pError)
            *pError = "cannot write " + opts.truthPath + ": " + std::strerror(errno ? errno : EIO);
        writer.Close();
        std::remove(strPath.c_str());
        return false;
    }
    if (!writer.Close()) {
        if (pError)
            *pError = writer.Error();
        std::remove(strPath.c_str());  // no capture cut short where a whole one was asked for
        return false;
    }
    return true;
}
