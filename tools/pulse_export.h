#pragma once
// sensor-decode's pulse diagram and pressure-amplitude curve of a whole session: the --stats
// lines, and the --beats and --ph CSV files, all from one signal analysis that kept every beat.
#include <cstdint>
#include <cstdio>
#include <ostream>

#include "signal_analysis.h"

// name=value lines per pulse channel c (1..3): h1_c, h3_h1_c, h4_h1_c, h5_h1_c, t1_ms_c,
// t4_ms_c, t5_ms_c, t_ms_c, w_ms_c, w_t_c, c2_c .. c10_c, best_pressure_c, depth_c,
// position_c, peak_end_c, beats_c, beats_rejected_c; "unknown" where a figure is.
void PrintPulseStats(std::ostream& out, const analysis::CSignalAnalysis& analysis, uint64_t endUs);

// One row per beat and channel: its start time, status, whether it is among the beats of the
// medians, its static pressure and every figure of the pulse diagram. False on a write error.
bool WriteBeatsCsv(std::FILE* pFile, const analysis::CSignalAnalysis& analysis, uint64_t endUs);

// The pressure-amplitude points of every channel, the binned curve and its best pressure.
bool WritePressureCsv(std::FILE* pFile, const analysis::CSignalAnalysis& analysis);
