#pragma once
// The "端口设置..." dialog: the serial ports the system reports, and which device each entry
// COM1..COM16 of the console's port list opens, kept for the next start. Also the port list's
// tooltip, which names the device behind the selected entry.
#include <QDialog>
#include <QList>

#include "port_map.h"

class CSensorDlg;
class QComboBox;
class QTreeWidget;

class CPortSettingsDlg : public QDialog {
    Q_OBJECT
public:
    // Offers map's detected ports; the caller detects them first.
    explicit CPortSettingsDlg(CPortMap& map, QWidget* pParent = nullptr);

    QTreeWidget* DetectedList() const { return m_pDetected; }
    // The field of entry n (1..16).
    QComboBox* EntryField(int nPort) const;
    // The device entered for entry n; empty for its default.
    QString EnteredPath(int nPort) const;
    // Every entry back to its default (kept once accepted).
    void RestoreDefaults();
    // Detects the ports again and offers them; the entries keep what was entered.
    void Refresh();
    // Keeps the entries and closes; a map that cannot be written is reported and the dialog
    // stays open.
    void accept() override;

private:
    // Offers the detected ports and shows entries (entry number to path) in the fields.
    void Fill(const QMap<int, QString>& entries);

    CPortMap& m_map;
    QTreeWidget* m_pDetected = nullptr;
    QList<QComboBox*> m_entries;
};

// Runs the dialog over the console's port map; once accepted, the new map is in force.
void ShowPortSettings(CSensorDlg& dlg);
// Keeps the port list's tooltip on the device behind the selected entry, and looks for a newly
// plugged USB adapter when the port is about to be opened.
void TrackPortTip(CSensorDlg& dlg);
// The tooltip for entry n: the device it opens and why.
QString PortTipText(int nPort);
