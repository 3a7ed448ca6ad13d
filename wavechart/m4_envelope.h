#pragma once
// The per-pixel-column envelope of a trace (the M4 aggregation of Jugel, Jerzak, Hackenbroich
// and Markl, "M4: A Visualization-Oriented Time Series Data Aggregation", PVLDB 7(10), 2014):
// of the points that share a device column, the first, the lowest, the highest and the last,
// in their order along the trace. Inside a column the trace only moves up and down between its
// lowest and highest point, so these points cover the same pixels. Plain C++ on device
// coordinates, for any trace whose x never falls.
//
// Qt's one-pixel rasteriser without antialiasing (the cosmetic pen of the waveform control) is
// not quite so simple: where a line turns back it adds an end pixel, a pixel already drawn is
// not drawn twice, a point that adds no pixel is passed over, and the end caps of the whole line
// are taken by its first and last segment even when these have no length. What a segment lights
// therefore depends on the move before it. So that the envelope lights exactly the pixels of
// every point, it keeps the moves at either end of a column as they are: the first move, the
// last (the last two in the trace's last column), and of a run of equal points next to them its
// first and last point. That is at most eight points a column (ten in the last), usually four
// to six; a trace that only rises or falls within a column keeps four.
namespace wavegeo {

// Writes to keep[] the indices (ascending) of the points of x[0..n) and y[0..n) that the
// envelope keeps, and returns their number (never more than n). x must not fall as the index
// grows; keep has room for n.
int M4Envelope(const int* x, const int* y, int n, int* keep);

} // namespace wavegeo
