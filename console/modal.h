#pragma once
// The one place where modal boxes run. A test installs a hook that answers a box instead of
// running its loop, so nothing blocks; the hook sees the real, fully built dialog.
#include <QMessageBox>
#include <QString>

#include <functional>

class QDialog;
class QWidget;

using ModalHook = std::function<int(QDialog& dlg)>;

// Installs hook (an empty one restores the real modal loop); returns the previous hook.
ModalHook SetModalHook(ModalHook hook);
// Runs dlg modally (or hands it to the hook) and returns its end code.
int RunModal(QDialog& dlg);

// A message box owned by pOwner with one OK button: caption strCaption (the application name
// when empty), the given icon (NoIcon for the console's own messages, Critical for errors).
int ShowMessageBox(QWidget* pOwner, const QString& strText, const QString& strCaption,
                   QMessageBox::Icon icon);

class ScopedModalHook {
public:
    explicit ScopedModalHook(ModalHook hook) : m_prev(SetModalHook(std::move(hook))) {}
    ~ScopedModalHook() { SetModalHook(std::move(m_prev)); }
    ScopedModalHook(const ScopedModalHook&) = delete;
    ScopedModalHook& operator=(const ScopedModalHook&) = delete;
private:
    ModalHook m_prev;
};
