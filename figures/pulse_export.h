#pragma once
// sensor-decode's pulse diagram and pressure-amplitude curve of a whole session: the --stats
// lines, and the --beats and --ph CSV files, all from one signal analysis that kept every beat.
// Static pressures are in counts, or in the units given (channel_units.h); heights stay in
// counts.
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>

#include "channel_units.h"
#include "signal_analysis.h"

// Digits after the point, in counts, of the best hold-down pressure and of the depth
// coefficient as --stats prints them, and of a beat's or a curve point's pressure in --beats
// and --ph; a unit adds its own (units::ChannelUnit::Digits).
constexpr int BEST_PRESSURE_DIGITS = 0;
constexpr int DEPTH_DIGITS = 3;
constexpr int POINT_PRESSURE_DIGITS = 1;

// The --stats name of channel c's (0..2) best hold-down pressure: best_pressure_1 in counts,
// best_pressure_mmHg_1 in a unit, as the other figures carry theirs (t1_ms_1).
std::string BestPressureKey(int c, const units::ChannelUnit& unit);
// The pressure column of --beats and --ph: "pressure" in counts, "pressure_mmHg" when all three
// channels share the unit, else the channels' units in order, "pressure_mmHg|counts|g".
std::string PressureColumn(const units::PressureUnits& pressureUnits);

// name=value lines per pulse channel c (1..3): h1_c, h3_h1_c, h4_h1_c, h5_h1_c, t1_ms_c,
// t4_ms_c, t5_ms_c, t_ms_c, w_ms_c, w_t_c, c2_c .. c10_c, best_pressure_c (BestPressureKey),
// depth_c, position_c, peak_end_c, beats_c, beats_rejected_c; "unknown" where a figure is.
void PrintPulseStats(std::ostream& out, const analysis::CSignalAnalysis& analysis, uint64_t endUs,
                     const units::PressureUnits& pressureUnits = units::PressureUnits());

// One row per beat and channel: its start time, status, whether it is among the beats of the
// medians, its static pressure and every figure of the pulse diagram. False on a write error.
bool WriteBeatsCsv(std::FILE* pFile, const analysis::CSignalAnalysis& analysis, uint64_t endUs,
                   const units::PressureUnits& pressureUnits = units::PressureUnits());

// The pressure-amplitude points of every channel, the binned curve and its best pressure.
bool WritePressureCsv(std::FILE* pFile, const analysis::CSignalAnalysis& analysis,
                      const units::PressureUnits& pressureUnits = units::PressureUnits());
