#pragma once
// Synthetic pulse-like samples for pictures and benchmarks of the waveform control: three pulse
// waves, an ECG-like wave and a slow volume wave, in raw counts like the sensor's.

// Fills out[0..4] with the five channel values of sample number n (about 300 samples a beat).
void SynthPulseSample(int n, int out[5]);
