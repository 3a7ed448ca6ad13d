#pragma once
// One input through the console's receive path, checked after every read event: bytes cut into
// events whose sizes the input chooses go through a bare ring and decoder of a chosen size, and
// through the device link's receive path and channel feed into a waveform store. Both are
// compared with a plain model of what the receive rules say must happen.
//
// Input layout:
//   byte 0    ring size of the bare ring: bit 7 set -> RING_SIZE, else bits 0..6 (0..127)
//   byte 1    waveform store: bit 0 scrolling mode, bits 1..7 the width (x3 px; 0: unsized)
//   then events, each introduced by a byte L:
//     L < 0xF8   the next L bytes are one read event (0: an event with no bytes)
//     L >= 0xF8  a burst: bytes R and M, then M bytes repeated (L - 0xF7) * (R + 1) times as
//                one event, at most RECEIVE_BURST_MAX bytes
// A truncated event takes what is left.
#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t RECEIVE_BURST_MAX = 24576;  // above the ring size, so one event can overflow it

// Runs one input; the empty string when every check held, else what broke first. The link's
// waveform store is a widget, so a QApplication must exist (the offscreen platform will do).
std::string CheckReceiveInput(const uint8_t* data, size_t size);
