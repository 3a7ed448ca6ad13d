#pragma once
// The session report as a PDF: two A4 pages drawn with Qt's own PDF writer from a session
// summary. The texts are Chinese (English for an English locale, through the translations), in
// a face the file embeds, so any viewer shows them and they can be copied out.
#include <QCoreApplication>
#include <QString>

#include "session_summary.h"

class QPainter;

namespace report {

// What the person making the report typed in; an empty field is a blank line to write on.
struct ReportFields {
    QString strName;
    QString strAge;
    QString strSex;
    QString strNotes;
};

class CSessionReport {
    Q_DECLARE_TR_FUNCTIONS(CSessionReport)
public:
    CSessionReport(const SessionSummary& summary, const ReportFields& fields);

    // Paints page nPage (0 or 1) on p, whose device runs at REPORT_DPI with no margins.
    void PaintPage(QPainter& p, int nPage) const;

    // The report's title, and the note that puts the variability figures in their place.
    static QString Title();
    QString HrvNote() const;
    // The name of a pressure unit as the report shows it ("计数" for counts), and a channel's
    // position (浮, 中, 沉, with the end of the sweep where its peak lies there; "—" unknown).
    static QString UnitName(const units::ChannelUnit& unit);
    static QString PositionText(const PulseReading& r);

private:
    void PaintPageOne(QPainter& p) const;
    void PaintPageTwo(QPainter& p) const;
    void PaintFooter(QPainter& p, int nPage) const;
    void PaintPulseReadings(QPainter& p) const;
    void PaintHeartRate(QPainter& p, const QRectF& box) const;
    void PaintStrip(QPainter& p, const QRectF& box) const;

    const SessionSummary& m_summary;
    ReportFields m_fields;
};

// Makes the report of the capture strCapture into strOut, its static pressures in
// pressureUnits: the summary first (a bad capture is refused before any file is made), then the
// pages into strOut.part, which is created anew (an existing one is refused, never reused) and
// renamed to strOut when complete. False with the file's name and the reason in *pError; no
// file of the report's is left then.
bool WriteSessionReport(const QString& strCapture, const QString& strOut, const ReportFields& fields,
                        QString* pError, const ProgressFn& progress = {},
                        const units::PressureUnits& pressureUnits = units::PressureUnits());

} // namespace report
