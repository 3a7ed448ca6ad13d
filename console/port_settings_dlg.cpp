#include "port_settings_dlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

#include "modal.h"
#include "mscomm.h"
#include "resource_ids.h"
#include "sensor_dlg.h"

namespace {

constexpr int ENTRY_ROWS = PORT_MAP_SIZE / 2;  // the entries stand in two columns
constexpr int ENTRY_FIELD_MIN_WIDTH = 260;

QString Described(const DetectedPort& port)
{
    return port.strDescription.isEmpty() ? port.strPath
                                         : QStringLiteral("%1 — %2").arg(port.strPath, port.strDescription);
}

} // namespace

CPortSettingsDlg::CPortSettingsDlg(CPortMap& map, QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_map(map)
{
    setWindowTitle(tr("端口设置"));
    auto* pLayout = new QVBoxLayout(this);

    pLayout->addWidget(new QLabel(tr("系统检测到的串口："), this));
    m_pDetected = new QTreeWidget(this);
    m_pDetected->setRootIsDecorated(false);
    m_pDetected->setHeaderLabels({tr("设备"), tr("描述"), tr("制造商"), tr("序列号"), tr("USB 厂商:产品")});
    m_pDetected->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    pLayout->addWidget(m_pDetected);
    auto* pRefresh = new QPushButton(tr("重新检测"), this);
    pRefresh->setAutoDefault(false);
    auto* pRefreshRow = new QHBoxLayout;
    pRefreshRow->addStretch();
    pRefreshRow->addWidget(pRefresh);
    pLayout->addLayout(pRefreshRow);

    if (CPortMap::CAN_KEEP)
        pLayout->addWidget(new QLabel(tr("端口列表中各项打开的设备（命令行 --com 优先于此处的设置）："), this));
    else
        pLayout->addWidget(new QLabel(tr("在 Windows 上，COM1 到 COM16 就是系统的串口名称，无需设置。"), this));
    auto* pGrid = new QGridLayout;
    for (int n = 1; n <= PORT_MAP_SIZE; ++n) {
        auto* pField = new QComboBox(this);
        pField->setEditable(true);
        pField->setInsertPolicy(QComboBox::NoInsert);
        pField->setMinimumWidth(ENTRY_FIELD_MIN_WIDTH);
        pField->setEnabled(CPortMap::CAN_KEEP);
        const int nRow = (n - 1) % ENTRY_ROWS;
        const int nColumn = (n - 1) / ENTRY_ROWS * 2;
        pGrid->addWidget(new QLabel(QStringLiteral("COM%1").arg(n), this), nRow, nColumn);
        pGrid->addWidget(pField, nRow, nColumn + 1);
        m_entries.append(pField);
    }
    pLayout->addLayout(pGrid);

    auto* pDefaults = new QPushButton(tr("全部恢复默认"), this);
    auto* pOk = new QPushButton(tr("确定"), this);
    auto* pCancel = new QPushButton(tr("取消"), this);
    pDefaults->setAutoDefault(false);
    pCancel->setAutoDefault(false);
    pOk->setDefault(true);
    pDefaults->setEnabled(CPortMap::CAN_KEEP);
    auto* pButtons = new QHBoxLayout;
    pButtons->addWidget(pDefaults);
    pButtons->addStretch();
    pButtons->addWidget(pOk);
    pButtons->addWidget(pCancel);
    pLayout->addLayout(pButtons);

    connect(pRefresh, &QPushButton::clicked, this, &CPortSettingsDlg::Refresh);
    connect(pDefaults, &QPushButton::clicked, this, &CPortSettingsDlg::RestoreDefaults);
    connect(pOk, &QPushButton::clicked, this, &CPortSettingsDlg::accept);
    connect(pCancel, &QPushButton::clicked, this, &CPortSettingsDlg::reject);
    Fill(m_map.Kept());
}

QComboBox* CPortSettingsDlg::EntryField(int nPort) const
{
    return nPort >= 1 && nPort <= m_entries.size() ? m_entries[nPort - 1] : nullptr;
}

QString CPortSettingsDlg::EnteredPath(int nPort) const
{
    const QComboBox* pField = EntryField(nPort);
    if (!pField)
        return QString();
    const int nIndex = pField->currentIndex();
    // A typed path leaves the field's text apart from every item.
    if (nIndex >= 0 && pField->itemText(nIndex) == pField->currentText())
        return pField->itemData(nIndex).toString();
    return pField->currentText().trimmed();
}

void CPortSettingsDlg::RestoreDefaults()
{
    for (QComboBox* pField : m_entries)
        pField->setCurrentIndex(0);
}

void CPortSettingsDlg::Refresh()
{
    QMap<int, QString> entered;
    for (int n = 1; n <= PORT_MAP_SIZE; ++n)
        if (!EnteredPath(n).isEmpty())
            entered.insert(n, EnteredPath(n));
    m_map.SetDetected(CPortMap::Detect());
    Fill(entered);
}

void CPortSettingsDlg::Fill(const QMap<int, QString>& entries)
{
    m_pDetected->clear();
    for (const DetectedPort& port : m_map.Detected()) {
        new QTreeWidgetItem(m_pDetected, {port.strPath, port.strDescription, port.strManufacturer,
                                          port.strSerialNumber, UsbIdText(port)});
    }
    if (m_map.Detected().isEmpty())
        new QTreeWidgetItem(m_pDetected, {tr("（未检测到串口）")});

    const QString strAdapter = m_map.SingleUsbAdapter();
    for (int n = 1; n <= PORT_MAP_SIZE; ++n) {
        QComboBox* pField = m_entries[n - 1];
        pField->clear();
        const bool bAdapter = n == 1 && !strAdapter.isEmpty() && CPortMap::CAN_KEEP;
        pField->addItem(bAdapter ? tr("默认：%1 或 USB 适配器 %2").arg(CPortMap::DefaultPath(n), strAdapter)
                                 : tr("默认：%1").arg(CPortMap::DefaultPath(n)),
                        QString());
        for (const DetectedPort& port : m_map.Detected())
            pField->addItem(Described(port), port.strPath);
        const QString strKept = entries.value(n);
        int nIndex = strKept.isEmpty() ? 0 : pField->findData(strKept);
        if (nIndex < 0) {  // kept, but not present now (an adapter unplugged)
            pField->addItem(strKept, strKept);
            nIndex = pField->count() - 1;
        }
        pField->setCurrentIndex(nIndex);
        pField->lineEdit()->setCursorPosition(0);  // a long text shows its start
        const PortTarget target = m_map.Resolve(n);
        QString strTip;
        if (target.source == PortSource::CommandLine)
            strTip = tr("本次运行由命令行 --com 指定为 %1；这里的设置在不带该选项启动时生效。").arg(target.strPath);
        else if (bAdapter)
            strTip = tr("端口设置中未指定任何端口时，COM1 默认打开唯一的 USB 串口适配器 %1。").arg(strAdapter);
        pField->setToolTip(strTip);
    }
}

void CPortSettingsDlg::accept()
{
    CPortMap changed = m_map;
    changed.ClearKept();
    for (int n = 1; n <= PORT_MAP_SIZE; ++n)
        changed.SetKept(n, EnteredPath(n));
    if (!changed.Save()) {
        ShowMessageBox(this, tr("无法保存端口设置：%1 不可写。").arg(changed.SettingsLocation()), QString(),
                       QMessageBox::Critical);
        return;
    }
    m_map = changed;
    QDialog::accept();
}

QString PortTipText(int nPort)
{
    const QString strPath = CMSComm::PortDevicePath(nPort);
    const CPortMap* pMap = ActivePortMap();
    const PortTarget target = pMap ? pMap->Resolve(nPort) : PortTarget{strPath, PortSource::Default};
    // Mapped past the port map (by a test or an embedding program): the path is all there is to say.
    const PortSource source = target.strPath == strPath ? target.source : PortSource::Default;
    switch (source) {
    case PortSource::CommandLine:
        return CPortSettingsDlg::tr("COM%1 打开 %2（命令行 --com 指定）").arg(nPort).arg(strPath);
    case PortSource::Kept:
        return CPortSettingsDlg::tr("COM%1 打开 %2（端口设置中指定）").arg(nPort).arg(strPath);
    case PortSource::UsbAdapter:
        return CPortSettingsDlg::tr("COM%1 打开 %2（唯一的 USB 串口适配器）").arg(nPort).arg(strPath);
    case PortSource::Default:
        break;
    }
    return CPortSettingsDlg::tr("COM%1 打开 %2").arg(nPort).arg(strPath);
}

namespace {

void UpdatePortTip(CSensorDlg& dlg)
{
    if (!dlg.m_comboPort)
        return;
    const int nIndex = dlg.m_comboPort->currentIndex();
    dlg.m_comboPort->setToolTip(nIndex >= 0 ? PortTipText(nIndex + 1) : QString());
}

} // namespace

void ShowPortSettings(CSensorDlg& dlg)
{
    CPortMap* pMap = ActivePortMap();
    std::unique_ptr<CPortMap> pOwn;
    if (!pMap) {
        // No console map in force: the dialog still edits the kept map for the next start.
        pOwn = std::make_unique<CPortMap>();
        pOwn->Load();
        pMap = pOwn.get();
    }
    pMap->SetDetected(CPortMap::Detect());
    CPortSettingsDlg box(*pMap, &dlg);
    if (RunModal(box) != QDialog::Accepted)
        return;
    if (!pOwn)
        pMap->Apply();  // the next open uses the new map
    UpdatePortTip(dlg);
}

void TrackPortTip(CSensorDlg& dlg)
{
    if (!dlg.m_comboPort)
        return;
    QObject::connect(dlg.m_comboPort, &QComboBox::currentIndexChanged, &dlg, [&dlg] { UpdatePortTip(dlg); });
    QObject::connect(dlg.m_comboPort, &QComboBox::editTextChanged, &dlg, [&dlg] { UpdatePortTip(dlg); });
    // An adapter plugged in after the start becomes COM1's default before the port opens.
    if (auto* pOpen = qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_BTN_OPEN))) {
        QObject::connect(pOpen, &QPushButton::pressed, &dlg, [&dlg] {
            CPortMap* pMap = ActivePortMap();
            if (!pMap || !CPortMap::CAN_KEEP || !pMap->Kept().isEmpty() || dlg.m_comm.GetPortOpen())
                return;
            pMap->SetDetected(CPortMap::Detect());
            pMap->Apply();
            UpdatePortTip(dlg);
        });
    }
    UpdatePortTip(dlg);
}
