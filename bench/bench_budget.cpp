#include "bench_budget.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define STDOUT_FILENO 1
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

class BudgetReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so that saved output stays plain text.
    BudgetReporter()
        : ConsoleReporter(::isatty(STDOUT_FILENO) ? OutputOptions(OO_Tabular | OO_Color) : OO_Tabular)
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto share = run.counters.find("core%");
            const auto budget = run.counters.find("budget%");
            if (run.error_occurred || share == run.counters.end() || budget == run.counters.end())
                continue;
            m_rows.push_back({run.benchmark_name(), share->second.value, budget->second.value});
        }
    }

    void PrintSummary() const
    {
        if (m_rows.empty())
            return;
        std::printf("\nShare of one core at the line rate (%.0f frames/s, %.0f bytes/s; paints %.0f/s):\n",
                    LINE_FRAMES_PER_S, LINE_BYTES_PER_S, DISPLAY_PAINTS_PER_S);
        size_t nWidth = 0;
        for (const Row& r : m_rows)
            nWidth = std::max(nWidth, r.strName.size());
        for (const Row& r : m_rows)
            std::printf("  %-*s %8.4f %%  budget %7.4f %%  %s\n", static_cast<int>(nWidth), r.strName.c_str(),
                        r.dShare, r.dBudget, r.dShare <= r.dBudget ? "within" : "OVER");
    }

private:
    struct Row {
        std::string strName;
        double dShare;
        double dBudget;
    };
    std::vector<Row> m_rows;
};

} // namespace

void SetLineShare(benchmark::State& state, double dEventsPerIteration, double dEventsPerSecond,
                  double dBudgetPercent)
{
    // Rate counters divide by the time measured; inverted, they give time per iteration.
    state.counters["core%"] = benchmark::Counter(dEventsPerIteration / (dEventsPerSecond * 100.0),
                                                 benchmark::Counter::kIsIterationInvariantRate
                                                     | benchmark::Counter::kInvert);
    state.counters["budget%"] = dBudgetPercent;
}

int RunWithBudgets(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    BudgetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
