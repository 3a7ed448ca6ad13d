#pragma once
// One input as a capture file read from memory: the reader's records and verdict are compared
// with a plain reading of the layout, the received bytes are decoded through the session
// decoder and compared with the receive rules, and the records read are written again and read
// back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

// The empty string when every check held, else what broke first.
std::string CheckCaptureInput(const uint8_t* data, size_t size);
