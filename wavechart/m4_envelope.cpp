#include "m4_envelope.h"

#include <utility>

namespace wavegeo {

int M4Envelope(const int* x, const int* y, int n, int* keep)
{
    int nKept = 0;
    for (int f = 0; f < n;) {
        int l = f;
        while (l + 1 < n && x[l + 1] == x[f])
            ++l;
        const bool bLastColumn = l == n - 1;
        // Kept: the first and last point, the first move, the last move (the last two in the
        // trace's last column), and the lowest and highest point between these moves. A run of
        // equal points next to a kept move is kept as its first and last point: a segment of
        // no length takes an end cap at the ends of the trace, and one outside the device
        // clears Qt's note of the last pixel drawn; more of them change nothing.
        int cand[10];
        int nCand = 0;
        cand[nCand++] = f;
        cand[nCand++] = l;
        int s = f + 1;  // end of the first move
        while (s <= l && y[s] == y[f])
            ++s;
        if (s <= l) {
            cand[nCand++] = s;
            if (s - 1 > f)
                cand[nCand++] = s - 1;
            int e = l;  // start of the last move kept
            for (int nMoves = bLastColumn ? 2 : 1; nMoves > 0 && e > f; --nMoves) {
                const int nEnd = e;
                while (e > f && y[e - 1] == y[nEnd])
                    --e;  // e: first of the run at this height
                if (e < nEnd)
                    cand[nCand++] = e;
                if (e > f)
                    cand[nCand++] = --e;  // where the move to this height starts
            }
            // Between these moves, the lowest and the highest point (the first of equals).
            if (s < e) {
                int lo = s;
                int hi = s;
                for (int i = s + 1; i <= e; ++i) {
                    if (y[i] < y[lo])
                        lo = i;
                    if (y[i] > y[hi])
                        hi = i;
                }
                cand[nCand++] = lo;
                cand[nCand++] = hi;
            }
        }
        // In their order along the trace, each once (a handful: sorted by insertion).
        for (int i = 1; i < nCand; ++i)
            for (int j = i; j > 0 && cand[j - 1] > cand[j]; --j)
                std::swap(cand[j - 1], cand[j]);
        for (int i = 0; i < nCand; ++i)
            if (i == 0 || cand[i] != cand[i - 1])
                keep[nKept++] = cand[i];
        f = l + 1;
    }
    return nKept;
}

} // namespace wavegeo
