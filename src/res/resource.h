// Dialog template and control ids.
#pragma once

// Dialog templates.
constexpr int IDD_PORT_SETUP = 129;   // "Port Setup"
constexpr int IDD_PORT_INIT = 130;    // "Port Initialization"
constexpr int IDD_UPLOAD = 131;       // "Code Upload in Progress"

// Port Setup: push buttons.
constexpr int IDC_CONNECT = 1000;
// Port Setup: the first radio button of each group (the rest follow in index order).
constexpr int IDC_BAUD_RATE = 1010;     // 1010..1017: 300 .. 38400
constexpr int IDC_DATA_BITS = 1020;     // 1020, 1021: 7, 8
constexpr int IDC_STOP_BITS = 1022;     // 1022, 1023: 1, 2
constexpr int IDC_ECHO = 1030;          // 1030, 1031: Off, On
constexpr int IDC_PARITY = 1040;        // 1040..1042: None, Odd, Even
constexpr int IDC_COM_PORT = 1050;      // 1050..1053: Com1..Com4
constexpr int IDC_FLOW_CONTROL = 1060;  // 1060, 1061: None, Hardware

// Port Initialization.
constexpr int IDC_BACK = 1001;

// Code Upload in Progress.
constexpr int IDC_PROGRESS = 1000;
constexpr int IDC_COMMAND_TEXT = 1004;
constexpr int IDC_PERCENT_TEXT = 1005;

// The result Back gives the connection wait dialog.
constexpr int IDR_BACK = 1001;
