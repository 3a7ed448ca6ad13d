#pragma once
// The link light in the "设备" group: a small round lamp beside the status text whose colour
// tells how the link is doing (see analysis::LinkLight).
#include <QColor>
#include <QWidget>

#include "link_monitor.h"

// Where the light sits on the dialog, in dialog units: left of the status text, inside the
// group's frame, clear of every template control.
constexpr int LINK_LIGHT_DLU[4] = {549, 418, 7, 7};

class CLinkLight : public QWidget {
    Q_OBJECT
public:
    explicit CLinkLight(QWidget* pParent = nullptr);

    void SetState(analysis::LinkLight state);
    analysis::LinkLight State() const { return m_state; }
    static QColor ColorOf(analysis::LinkLight state);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    analysis::LinkLight m_state = analysis::LinkLight::Closed;
};
