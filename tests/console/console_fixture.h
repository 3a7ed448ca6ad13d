#pragma once
// A console dialog on a fake clock, with every modal box answered and recorded instead of shown.
#include <gtest/gtest.h>

#include <QDialog>
#include <QMessageBox>
#include <QString>

#include <vector>

#include "modal.h"
#include "platform.h"
#include "sensor_dlg.h"

struct ModalRecord {
    QString strTitle;
    QString strText;  // message boxes only
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int nButtons = 0;
    QString strClass;
};

class ConsoleTest : public ::testing::Test {
protected:
    ConsoleTest()
    {
        m_platform.m_dwTick = 100000;
    }

    FakePlatform m_platform;
    ScopedPlatform m_scoped{m_platform};
    std::vector<ModalRecord> m_modals;
    ScopedModalHook m_hook{[this](QDialog& dlg) {
        ModalRecord rec;
        rec.strTitle = dlg.windowTitle();
        rec.strClass = QString::fromLatin1(dlg.metaObject()->className());
        if (auto* pBox = qobject_cast<QMessageBox*>(&dlg)) {
            rec.strText = pBox->text();
            rec.icon = pBox->icon();
            rec.nButtons = int(pBox->buttons().size());
        }
        m_modals.push_back(rec);
        return 0;
    }};
};
