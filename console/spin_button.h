#pragma once
// A bare up-down control: two stacked arrows and a position within a range, no buddy edit.
// Every step first announces its sign through DeltaPos; a handler may refuse the move by
// writing a non-zero result. Not a tab stop; the arrow keys step it while it has the focus.
#include <QBasicTimer>
#include <QWidget>

class SpinButton : public QWidget {
    Q_OBJECT
public:
    explicit SpinButton(QWidget* parent = nullptr);

    // Lower and upper bound of the position (as UDM_SETRANGE); the position is not moved.
    void SetRange(int nLower, int nUpper);
    void GetRange(int& nLower, int& nUpper) const { nLower = m_nLower; nUpper = m_nUpper; }
    int GetPos() const { return m_nPos; }
    void SetPos(int nPos) { m_nPos = nPos; }
    // Steps once as a click would: +1 up, -1 down.
    void Step(int iDelta);

    QSize sizeHint() const override;

signals:
    // Sent before the position changes, even at a bound (the receiver may count the step
    // itself); *pResult starts 0, a non-zero value refuses the move.
    void DeltaPos(int iPos, int iDelta, int* pResult);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    int HalfAt(int y) const;  // +1 upper half, -1 lower half

    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPos = 0;
    int m_iPressed = 0;  // half held down by the mouse, 0 when none
    QBasicTimer m_repeat;
};
