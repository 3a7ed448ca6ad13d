#pragma once
// The waveform control: a fixed store of five channel arrays, advanced in page-flip or scrolling
// mode, plotted in three bands through a zoomable anisotropic mapping, operated through its own
// right-click menu.
#include <QBasicTimer>
#include <QBrush>
#include <QImage>
#include <QPen>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "paint_pacer.h"

class QAction;
class QMenu;
class QPainter;

constexpr int WAVE_CHANNELS = 5;
constexpr int WAVE_BUF_LEN = 6800;

constexpr int WAVE_ZOOM_MIN = 10;  // lower zoom limit of each axis, percent
constexpr int WAVE_ZOOM_STEP = 5;  // change per zoom command on each axis switched on
// Samples a pixel column holds on average from which the traces are drawn from their column
// envelopes (at four a column the envelope keeps too many points to pay for itself).
constexpr int ENVELOPE_MIN_PER_COLUMN = 5;
// Pictures of the field kept for scrolling: one per position of the ring modulo the samples that
// move the trace by whole pixels (five at the default X zoom of 60 %, where 5 samples are 3 px).
constexpr int WAVE_FIELD_PICTURES = 5;

// Colours as COLORREF values (0x00BBGGRR: red is the low byte).
constexpr uint32_t WAVE_CLR_FIELD = 0x00C00000;     // dark blue
constexpr uint32_t WAVE_CLR_SEPARATOR = 0x00000000; // black
constexpr uint32_t WAVE_CLR_PULSE = 0x00FFFFFF;     // white, channels 0..2
constexpr uint32_t WAVE_CLR_AUX = 0x0000FF00;       // green, channels 3 and 4

inline QColor ColorFromColorref(uint32_t cr)
{
    return QColor(int(cr & 0xFF), int((cr >> 8) & 0xFF), int((cr >> 16) & 0xFF));
}

// A rectangle as left, top, right, bottom with the right and bottom edges exclusive.
struct WaveRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Pure geometry of the plot, callable without a widget.
namespace wavegeo {

// a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0.
int MulDiv(int a, int b, int c);

// Anisotropic mapping: device = (logical - window origin) * viewport extent / window extent;
// the viewport origin is (0, 0).
struct Mapping {
    int nWinExtX = 1;
    int nWinExtY = 1;
    int nViewExtX = 1;
    int nViewExtY = 1;
    int nOrgX = 0; // window origin, logical
    int nOrgY = 0;

    int LPtoDPx(int x) const { return MulDiv(x - nOrgX, nViewExtX, nWinExtX); }
    int LPtoDPy(int y) const { return MulDiv(y - nOrgY, nViewExtY, nWinExtY); }
    int DPtoLPx(int x) const { return MulDiv(x, nWinExtX, nViewExtX) + nOrgX; }
    int DPtoLPy(int y) const { return MulDiv(y, nWinExtY, nViewExtY) + nOrgY; }
    WaveRect DPtoLP(const WaveRect& rc) const
    {
        return { DPtoLPx(rc.left), DPtoLPy(rc.top), DPtoLPx(rc.right), DPtoLPy(rc.bottom) };
    }
};

// What the grid step of every paint computes from the client rectangle.
struct Grid {
    Mapping map;       // with the window origin placed: x = 0 at the left edge, y = 0 one pixel up
    WaveRect rcLogical; // the client rectangle in logical units before the origin was placed
    int nBand = 0;     // band height B in logical units
};
Grid ComputeGrid(int nWinExtX, int nWinExtY, int nZoomX, int nZoomY, const WaveRect& rcClient);

// Band height of a logical client rectangle: a third of its height, truncated.
inline int BandHeight(const WaveRect& rcLogical) { return (rcLogical.top - rcLogical.bottom) / 3; }

// Logical y of sample value 0 for a channel: 2B, B, 0, B, B/2.
int ChannelBaseline(int nChannel, int nBand);

// Samples that fit across a width at an X zoom; outside 1..WAVE_BUF_LEN it is WAVE_BUF_LEN.
int CapacityForWidth(int nWidth, int nWinExtX, int nZoomX);

// The displayed trace as positions k = 0 .. Points()-1: the first nHead positions read indices
// nStart + k, the remaining nTail positions read indices 0 .. nTail-1 (a wrapped ring).
struct DisplayRun {
    int nStart = 0;
    int nHead = 1;
    int nTail = 0;
    int Points() const { return nHead + nTail; }
    int IndexAt(int k) const { return k < nHead ? nStart + k : k - nHead; }
};
DisplayRun GetDisplayRun(int nStart, int nCount, int nCapacity);

// Rows top .. bottom of a pixel column range, inclusive; empty when top > bottom.
struct RowSpan {
    int top = 1;
    int bottom = 0;
};

// The fewest samples by which the trace can move so that every position k >= 0 lands a whole
// number of device pixels away from where it was; 0 when no move does (a falling or shifted
// mapping, where the rounding is not the same on both sides of zero).
int WholePixelPeriod(const Mapping& map);

} // namespace wavegeo

class CWaveChart : public QWidget {
    Q_OBJECT
public:
    explicit CWaveChart(QWidget* parent = nullptr);
    ~CWaveChart() override;
    CWaveChart(const CWaveChart&) = delete;
    CWaveChart& operator=(const CWaveChart&) = delete;

    // Places the control as child nID of pParent over rc (pixels) and shows it. The size takes
    // effect at once, so the store has its capacity before the first sample can arrive.
    void Create(QWidget* pParent, const QRect& rc, int nID);
    int GetDlgCtrlID() const { return m_nID; }

    // --- store and display modes ---------------------------------------------------------
    // Appends one sample per channel (low 16 bits each) and requests the repaint of the mode.
    void AddSamples(int ch0, int ch1, int ch2, int ch3, int ch4);
    // Fits the capacity to the width and the X zoom; keeps the oldest displayed samples.
    void UpdateCapacity();
    // Paces the repaints that appended samples ask for to one per period (microseconds,
    // WAVE_PAINT_PERIOD_US for the display's rate); 0, the default, asks for each at once.
    // Wraps, mode switches, zoom and size changes always repaint at once.
    void SetPaintPeriod(uint32_t nPeriodUs);
    const CPaintPacer& Pacer() const { return m_pacer; }
    // Hands the collected repaints to the window system now rather than at the period's end.
    void FlushPaintRequests();

    // --- commands and messages, routed through the message map ------------------------------
    void OnZoomIn();
    void OnZoomOut();
    void ResetZoom();
    void OnZoomXAxis();
    void OnZoomYAxis();
    void OnScrolling();
    void OnPageFlip();
    void OnRButtonUp(Qt::KeyboardModifiers flags, const QPoint& point);
    void OnPaint(const QRect& rcUpdate);
    void OnSize(int nType, int cx, int cy);
    // Dispatches a menu command id through the message map; false when no entry has it.
    bool OnCommand(int nID);

    // The context menu as it would be shown now: the loaded menu resource (owner of everything)
    // with marks and read-out set on its first sub-menu. Not executed.
    std::unique_ptr<QMenu> BuildContextMenu() const;

    // --- drawing, from the stored state only ------------------------------------------------
    // Paints the control onto any paint device; rcUpdate limits the traces computed to what
    // can reach it (the painter's clip does the rest).
    void Paint(QPainter& dc, const QRect& rcUpdate);
    void DrawGrid(QPainter* pDC);
    void DrawTraces(QPainter& dc, const WaveRect& rcLogical, const QRect& rcUpdate);

    // --- seams for tests --------------------------------------------------------------------
    // Whether Shift is held; the real keyboard unless replaced.
    std::function<bool()> m_fnShiftDown;
    // Shows the popup at a screen position and returns the chosen item (nullptr: none).
    std::function<QAction*(QMenu&, const QPoint&)> m_fnTrackPopup;
    // Draw the traces from their column envelopes where that pays; off draws every sample (the
    // same pixels: tests and the benchmark compare the two).
    bool m_bEnvelope = true;
    // Paints in scrolling mode that moved a kept picture of the field rather than drawing all of
    // it (the measuring tools report it; tests check that the pictures are used at all).
    uint64_t MovedPicturePaints() const { return m_qwMovedPaints; }
    // Repaints in scrolling mode that asked only for the rows the traces cross, and the share
    // of the field's pixels they asked for, in per mille, summed over them.
    uint64_t TraceRequests() const { return m_qwTraceRequests; }
    uint64_t TraceAreaPerMille() const { return m_qwTraceArea; }

    // --- state (declaration order and initial values of the control) ------------------------
    int m_bZoomX = 0;
    int m_bZoomY = 1;
    int m_bScroll = 0;
    int m_nStart = 0;
    int m_nCount = 0;
    int m_nWinExtX = 100;
    int m_nWinExtY = -100;
    int m_nZoomX = 60;
    int m_nZoomY = 15;
    int m_nDefZoomX = 60;
    int m_nDefZoomY = 15;
    WaveRect m_rcClient;
    uint16_t m_wData[WAVE_CHANNELS][WAVE_BUF_LEN] = {};
    int m_nCapacity = 0;

protected:
    bool event(QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    struct MessageEntry;
    static const MessageEntry s_messageMap[];

    bool ShiftDown() const;
    // A repaint asked for by appended samples, handed over as the pacing allows.
    void RequestRepaint(const QRect& rc);
    // The whole control, at once.
    void RepaintNow();
    // Hands a repaint of rc to the window system: in scrolling mode, where what the screen shows
    // is known, only the rows the traces cross in each column block, before and after.
    void HandOver(const QRect& rc);
    // Where the traces of the displayed samples run: for each column block of TRACE_BLOCK
    // pixels and each channel, the rows its segments can light. False when the control is not
    // scrolling a full field.
    bool FindTraceRows(std::vector<wavegeo::RowSpan>& rows, QSize& size) const;
    // After a paint of the screen: what it now shows.
    void NoteShown();

    // In scrolling mode: paints rcUpdate from a kept picture of the field, brought up to date by
    // moving it by whole pixels and drawing only what the move does not carry over. False when
    // the target or the mapping does not allow it; the caller then paints directly.
    bool PaintFromPicture(QPainter& dc, const QRect& rcUpdate);

    // A picture of the field as a full paint draws it, and the displayed values it shows.
    struct FieldPicture {
        QImage image;                  // wider than the field, which starts at column nOrigin
        int nOrigin = 0;
        int64_t nFirst = 0;            // number of the first displayed sample (see m_nAdded)
        int nPoints = 0;
        std::vector<uint16_t> values;  // nPoints values of each channel, channel after channel
        uint64_t qwUsed = 0;           // paint that last used it
    };
    // Copies rcUpdate of the picture into the image the painter draws on, within the paint's
    // region; false where that image cannot be written directly (the caller draws it).
    bool CopyToTarget(QPainter& dc, const FieldPicture& pic, const QRect& rcUpdate);
    // What the pictures were drawn with, besides the values.
    struct FieldGeometry {
        QSize size;
        int nZoomX = 0, nZoomY = 0, nWinExtX = 0, nWinExtY = 0;
        bool bEnvelope = false;
        QImage::Format format = QImage::Format_Invalid;
        bool operator==(const FieldGeometry& o) const
        {
            return size == o.size && nZoomX == o.nZoomX && nZoomY == o.nZoomY
                && nWinExtX == o.nWinExtX && nWinExtY == o.nWinExtY && bEnvelope == o.bEnvelope
                && format == o.format;
        }
    };

    int m_nID = 0;
    bool m_bWindow = true;         // false once destruction has begun
    wavegeo::Grid m_grid;          // mapping of the paint in progress
    QBrush m_brField;
    QPen m_penWhite;
    QPen m_penGreen;
    QPen m_penSeparator;
    std::vector<QPoint> m_ptBuf;   // one polyline, reused by every channel and paint
    std::vector<int> m_nXBuf;      // device x of each position drawn, shared by the channels
    std::vector<int> m_nYBuf;      // device y of each position drawn, one channel at a time
    std::vector<int> m_nKeepBuf;   // positions the column envelope keeps
    CPaintPacer m_pacer;
    QBasicTimer m_pacingTimer;     // runs while collected repaints wait for their period
    int64_t m_nAdded = 0;          // samples appended since creation
    FieldGeometry m_fieldGeometry;
    std::vector<FieldPicture> m_pictures;
    std::vector<uint16_t> m_nValueBuf; // the displayed values of the paint in progress
    uint64_t m_qwPictureUses = 0;
    uint64_t m_qwMovedPaints = 0;
    // The trace rows the screen shows (a superset: after a partial paint, those before and
    // after), with the field size they were found for; empty when unknown.
    std::vector<wavegeo::RowSpan> m_shownRows;
    QSize m_shownSize;
    int m_shownZoomX = 0;
    int m_shownZoomY = 0;
    // The trace rows last found: after a request for trace rows, those of the state asked for.
    std::vector<wavegeo::RowSpan> m_rowBuf;
    // Reused by every request: the rows of each block, where each block's start, the band
    // edges, each block's next rows and the rectangles of the region.
    std::vector<wavegeo::RowSpan> m_spanBuf;
    std::vector<int> m_spanFirst;
    std::vector<int> m_edgeBuf;
    std::vector<int> m_spanNext;
    std::vector<QRect> m_rectBuf;
    enum class Asked { Nothing, TraceRows, All };
    Asked m_asked = Asked::Nothing;  // what the paint to come was asked for
    int64_t m_nAskedAt = 0;          // m_nAdded when the trace rows were asked for
    uint64_t m_qwTraceRequests = 0;
    uint64_t m_qwTraceArea = 0;
};

// Builds menu resource nID as a menu whose actions carry their command ids as data; nullptr
// when there is no such resource or its entries do not nest.
std::unique_ptr<QMenu> LoadMenuResource(int nID);
// The sub-menu at position nPos of pMenu, or nullptr.
QMenu* GetSubMenu(QMenu* pMenu, int nPos);
// The item with command id nID in pMenu or its sub-menus, or nullptr.
QAction* FindMenuItem(QMenu* pMenu, int nID);
