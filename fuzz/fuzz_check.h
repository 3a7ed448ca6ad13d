#pragma once
// The harnesses' check: a broken invariant ends the input's run with the condition's text,
// which the harness turns into its failure report.
#include <sstream>
#include <stdexcept>

namespace fuzzcheck {

struct CheckFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace fuzzcheck

#define FUZZ_CHECK(cond, what)                                                             \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::ostringstream os_;                                                        \
            os_ << what << " (" #cond ")";                                                 \
            throw fuzzcheck::CheckFailure(os_.str());                                      \
        }                                                                                  \
    } while (0)
