#pragma once
// A capture read into a review history: every data frame as a sample (bad checks keep their
// number), the sample rate measured over the capture's data runs, its markers at the sample
// that had arrived when each was set (its note's time).
#include <cstdint>
#include <memory>
#include <string>

#include "capture_format.h"
#include "history_store.h"

namespace review {

struct CaptureHistory {
    std::unique_ptr<CHistoryStore> pStore;
    capture::CaptureHeader header;
    uint64_t qwFrames = 0;      // data frames in the capture; the store keeps the last ones
    bool bTruncated = false;    // the capture was cut short; read up to its last whole record
    std::string strTruncation;  // where and why, when it was
};

// Reads the capture at strPath. False with *pError naming the file and the problem when it is
// no capture, is malformed or holds no data frame.
bool LoadCaptureHistory(const std::string& strPath, CaptureHistory& out, std::string* pError);

} // namespace review
