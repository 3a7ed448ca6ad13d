#pragma once
// Control, command, string, menu and icon ids of the console's resources. Tests and the
// routing tables speak in these numbers.

enum ResourceId {
    IDD_ABOUTBOX = 100,
    IDS_ABOUTBOX = 101,
    IDD_SENSOR_DIALOG = 102,
    IDR_MAINFRAME = 128,
    IDR_ZOOM_MENU = 130,

    IDM_ABOUTBOX = 0x0010,  // system-menu command 16
    // Further system-menu commands beside About (multiples of 16 below the system's 0xF000;
    // 32 stays unused, it has always gone to the default processing).
    IDM_RECORD = 0x0030,         // start / stop recording the session
    IDM_SIGNAL_LINK = 0x0040,    // the signal-and-link window
    IDM_PORT_SETTINGS = 0x0050,  // the port map dialog
    IDM_REPORT = 0x0070,         // the session report of a recording
    IDM_REVIEW = 0x0060,         // the review window
    IDM_ADD_MARKER = 0x0080,     // a marker at the newest sample
    IDM_UNITS = 0x0090,          // the pressure units dialog
    IDM_PULSE_DIAGRAM = 0x00A0,  // the pulse diagram window

    IDC_WAVECHART = 100,    // child id of the waveform control

    IDC_GROUP_WAVE = 1000,
    IDC_BTN_OPEN = 1001,
    IDC_BTN_START = 1002,
    IDC_BTN_STOP = 1003,
    IDC_COMBO_PORT = 1004,
    IDC_FRAME_WAVE = 1005,
    IDC_MSCOMM = 1006,
    IDC_BTN_EXIT = 1007,
    IDC_FRAME_PRESSURE1 = 1012,
    IDC_FRAME_PRESSURE2 = 1013,
    IDC_FRAME_PRESSURE3 = 1014,
    IDC_FRAME_PRESSURE_AREA = 1018,
    IDC_SPIN_GAIN1 = 1019,
    IDC_SPIN_GAIN2 = 1020,
    IDC_SPIN_GAIN3 = 1021,
    IDC_EDIT_GAIN1 = 1022,
    IDC_EDIT_GAIN2 = 1023,
    IDC_EDIT_GAIN3 = 1024,
    IDC_EDIT_ECG_GAIN = 1032,
    IDC_EDIT_VOLUME_GAIN = 1033,
    IDC_SPIN_ECG_GAIN = 1034,
    IDC_SPIN_VOLUME_GAIN = 1035,
    IDC_EDIT_COEF1 = 1036,
    IDC_BTN_ZERO1 = 1037,
    IDC_BTN_CALIBRATE1 = 1038,
    IDC_EDIT_COEF2 = 1039,
    IDC_BTN_ZERO2 = 1040,
    IDC_BTN_CALIBRATE2 = 1041,
    IDC_EDIT_COEF3 = 1042,
    IDC_BTN_ZERO3 = 1043,
    IDC_BTN_CALIBRATE3 = 1044,

    ID_ZOOM_IN = 32771,
    ID_ZOOM_OUT = 32772,
    ID_ZOOM_XAXIS = 32773,
    ID_ZOOM_YAXIS = 32774,
    ID_ZOOM_INFO = 32775,
    ID_WAVE_PAGEFLIP = 32776,
    ID_WAVE_SCROLL = 32778,
};
