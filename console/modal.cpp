#include "modal.h"

#include <QCoreApplication>
#include <QDialog>

namespace {
ModalHook& Hook()
{
    static ModalHook s_hook;
    return s_hook;
}
} // namespace

ModalHook SetModalHook(ModalHook hook)
{
    ModalHook prev = std::move(Hook());
    Hook() = std::move(hook);
    return prev;
}

int RunModal(QDialog& dlg)
{
    if (Hook())
        return Hook()(dlg);
    return dlg.exec();
}

int ShowMessageBox(QWidget* pOwner, const QString& strText, const QString& strCaption,
                   QMessageBox::Icon icon)
{
    QMessageBox box(icon, strCaption.isEmpty() ? QCoreApplication::applicationName() : strCaption,
                    strText, QMessageBox::Ok, pOwner);
    box.setTextFormat(Qt::PlainText);
    return RunModal(box);
}
