// Template 102 (the console), template 100 (the About box), the string table and the version
// record. Rectangles are (x, y, width, height) in dialog units.
#include "dialog_templates.h"

#include <QtGlobal>

#include <iterator>

#include "resource_ids.h"
#include "veltrin_version.h"

namespace {

constexpr unsigned EDIT_GAIN = CS_READONLY | CS_CENTER | CS_BORDER | CS_TABSTOP | CS_AUTOHSCROLL;
constexpr unsigned EDIT_COEF = CS_CENTER | CS_BORDER | CS_TABSTOP | CS_AUTOHSCROLL;
constexpr unsigned SPIN = CS_ARROWKEYS;
constexpr unsigned LABEL = CS_GROUP;

const DlgItemTemplate g_sensorItems[] = {
    {IDC_GROUP_WAVE, CtlKind::GroupBox, "采样波形", 4, 4, 667, 354, 0},
    {-1, CtlKind::GroupBox, "设备", 546, 362, 126, 67, 0},
    {IDC_BTN_OPEN, CtlKind::PushButton, "打开设备", 558, 381, 48, 13, CS_TABSTOP},
    {IDC_BTN_START, CtlKind::PushButton, "开始观察", 558, 401, 48, 13, CS_TABSTOP},
    {IDC_BTN_STOP, CtlKind::PushButton, "停止观察", 613, 401, 48, 13, CS_TABSTOP},
    {IDC_COMBO_PORT, CtlKind::ComboBox, nullptr, 613, 381, 48, 98, CS_VSCROLL | CS_TABSTOP | CS_AUTOHSCROLL},
    {IDC_FRAME_WAVE, CtlKind::Frame, nullptr, 7, 16, 534, 338, 0},
    {IDC_MSCOMM, CtlKind::SerialControl, nullptr, 13, 325, 25, 25, CS_TABSTOP},
    {IDC_BTN_EXIT, CtlKind::PushButton, "退出", 592, 435, 50, 18, CS_TABSTOP},
    {-1, CtlKind::GroupBox, "通道1静态压力", 546, 18, 118, 106, 0},
    {-1, CtlKind::GroupBox, "通道2静态压力", 546, 131, 118, 106, 0},
    {-1, CtlKind::GroupBox, "通道3静态压力", 546, 247, 118, 106, 0},
    {IDC_FRAME_PRESSURE1, CtlKind::Frame, nullptr, 551, 36, 108, 80, 0},
    {IDC_FRAME_PRESSURE2, CtlKind::Frame, nullptr, 551, 149, 108, 80, 0},
    {IDC_FRAME_PRESSURE3, CtlKind::Frame, nullptr, 552, 266, 108, 80, 0},
    {IDC_FRAME_PRESSURE_AREA, CtlKind::Frame, nullptr, 545, 16, 120, 338, CS_HIDDEN},
    {-1, CtlKind::GroupBox, "采样设置", 395, 361, 121, 96, 0},
    {IDC_SPIN_GAIN1, CtlKind::SpinButton, nullptr, 95, 378, 11, 20, SPIN},
    {IDC_SPIN_GAIN2, CtlKind::SpinButton, nullptr, 223, 378, 11, 20, SPIN},
    {IDC_SPIN_GAIN3, CtlKind::SpinButton, nullptr, 349, 378, 11, 20, SPIN},
    {IDC_EDIT_GAIN1, CtlKind::Edit, nullptr, 63, 381, 27, 14, EDIT_GAIN},
    {IDC_EDIT_GAIN2, CtlKind::Edit, nullptr, 191, 381, 27, 14, EDIT_GAIN},
    {IDC_EDIT_GAIN3, CtlKind::Edit, nullptr, 317, 381, 27, 14, EDIT_GAIN},
    {-1, CtlKind::Label, "通道1倍数:", 13, 384, 47, 8, LABEL},
    {-1, CtlKind::Label, "通道2倍数:", 143, 384, 41, 8, LABEL},
    {-1, CtlKind::Label, "通道3倍数:", 267, 384, 41, 8, LABEL},
    {IDC_EDIT_ECG_GAIN, CtlKind::Edit, nullptr, 465, 385, 28, 12, EDIT_GAIN},
    {-1, CtlKind::Label, "心电放大倍数:", 403, 387, 54, 9, LABEL},
    {IDC_SPIN_ECG_GAIN, CtlKind::SpinButton, nullptr, 499, 381, 11, 19, SPIN},
    {-1, CtlKind::Label, "容积波放大倍数:", 403, 421, 61, 9, LABEL},
    {IDC_EDIT_VOLUME_GAIN, CtlKind::Edit, nullptr, 465, 419, 28, 12, EDIT_GAIN},
    {IDC_SPIN_VOLUME_GAIN, CtlKind::SpinButton, nullptr, 499, 417, 11, 19, SPIN},
    {-1, CtlKind::GroupBox, "通道1", 4, 361, 114, 96, 0},
    {-1, CtlKind::GroupBox, "通道2", 132, 361, 114, 96, 0},
    {-1, CtlKind::GroupBox, "通道3", 260, 361, 114, 96, 0},
    {IDC_EDIT_COEF1, CtlKind::Edit, nullptr, 63, 407, 43, 14, EDIT_COEF},
    {-1, CtlKind::Label, "标定系数：", 13, 408, 41, 8, LABEL},
    {IDC_BTN_ZERO1, CtlKind::PushButton, "校零", 13, 432, 42, 14, CS_TABSTOP},
    {IDC_BTN_CALIBRATE1, CtlKind::PushButton, "标定", 63, 433, 42, 14, CS_TABSTOP},
    {IDC_EDIT_COEF2, CtlKind::Edit, nullptr, 191, 407, 43, 14, EDIT_COEF},
    {-1, CtlKind::Label, "标定系数：", 141, 409, 41, 8, LABEL},
    {IDC_BTN_ZERO2, CtlKind::PushButton, "校零", 141, 429, 42, 14, CS_TABSTOP},
    {IDC_BTN_CALIBRATE2, CtlKind::PushButton, "标定", 191, 429, 42, 14, CS_TABSTOP},
    {IDC_EDIT_COEF3, CtlKind::Edit, nullptr, 317, 407, 43, 14, EDIT_COEF},
    {-1, CtlKind::Label, "标定系数：", 267, 408, 41, 8, LABEL},
    {IDC_BTN_ZERO3, CtlKind::PushButton, "校零", 267, 429, 42, 14, CS_TABSTOP},
    {IDC_BTN_CALIBRATE3, CtlKind::PushButton, "标定", 317, 429, 42, 14, CS_TABSTOP},
};

const DlgItemTemplate g_aboutItems[] = {
    {-1, CtlKind::Icon, "#128", 11, 17, 20, 20, 0},
    {-1, CtlKind::Label, "Veltrin " VELTRIN_VERSION_SHORT " 版", 40, 10, 119, 8, CS_NOPREFIX | CS_GROUP},
    {-1, CtlKind::Label, "三通道脉象传感器控制台", 40, 25, 119, 8, CS_GROUP},
    {1, CtlKind::DefPushButton, "确定", 178, 7, 50, 14, CS_GROUP | CS_TABSTOP},
};

const DlgTemplate g_sensorDialog = {
    IDD_SENSOR_DIALOG, "脉象传感器演示", 676, 462, "宋体", 9,
    g_sensorItems, static_cast<int>(std::size(g_sensorItems)), true};

const DlgTemplate g_aboutDialog = {
    IDD_ABOUTBOX, "关于 Veltrin", 235, 55, "宋体", 9,
    g_aboutItems, static_cast<int>(std::size(g_aboutItems)), false};

const VersionRecord g_version = {
    {VELTRIN_VERSION_MAJOR, VELTRIN_VERSION_MINOR, VELTRIN_VERSION_PATCH, VELTRIN_VERSION_TWEAK},
    {VELTRIN_VERSION_MAJOR, VELTRIN_VERSION_MINOR, VELTRIN_VERSION_PATCH, VELTRIN_VERSION_TWEAK},
    0x0804,
    1200,
    "",
    "Veltrin Microsoft 基础类应用程序",
    VELTRIN_VERSION_COMMAS,
    "Veltrin",
    "版权所有 (C) Veltrin 项目",
    "",
    "Veltrin.EXE",
    "Veltrin 应用程序",
    VELTRIN_VERSION_COMMAS,
};

} // namespace

const char* const g_portComboItems[PORT_COMBO_ITEMS] = {
    "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8",
    "COM9", "COM10", "COM11", "COM12", "COM13", "COM14", "COM15", "COM16",
};

const DlgTemplate& SensorDialogTemplate() { return g_sensorDialog; }
const DlgTemplate& AboutDialogTemplate() { return g_aboutDialog; }

const DlgTemplate* FindDialogTemplate(int nID)
{
    if (nID == IDD_SENSOR_DIALOG)
        return &g_sensorDialog;
    if (nID == IDD_ABOUTBOX)
        return &g_aboutDialog;
    return nullptr;
}

const DlgItemTemplate* FindDlgItem(const DlgTemplate& dlg, int nID)
{
    for (int i = 0; i < dlg.nItems; ++i)
        if (dlg.pItems[i].nID == nID)
            return &dlg.pItems[i];
    return nullptr;
}

const char* LoadResString(int nID)
{
    switch (nID) {
    case IDS_ABOUTBOX:
        return "关于 Veltrin(&A)...";
    default:
        return nullptr;
    }
}

const VersionRecord& ProgramVersion() { return g_version; }
const char* ProgramVersionString() { return VELTRIN_VERSION; }

void InitResourceData()
{
    static bool s_bDone = false;
    if (s_bDone)
        return;
    s_bDone = true;
    Q_INIT_RESOURCE(veltrin);
}
