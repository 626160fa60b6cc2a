#pragma once

// Ids of the Windows resources and of the dialogs' controls; the resource
// script and the C++ files share them (the script only reads the defines).

#define KVQ_IDD_ABOUTBOX 100
#define KVQ_IDD_MAIN 102
#define KVQ_IDR_MAINFRAME 128
#define KVQ_IDR_MENU 129

#define KVQ_IDC_STATIC (-1)

/* The main dialog's controls. */
#define KVQ_IDC_SERIAL_NUMBER 1001
#define KVQ_IDC_SET_TILT 1002
#define KVQ_IDC_STATUS_LIST 1003
#define KVQ_IDC_SOFTWARE_VERSION 1004
#define KVQ_IDC_CURRENT_MODEL 1005
#define KVQ_IDC_NEW_MODEL 1016
#define KVQ_IDC_CHANGE_MODEL 1018
#define KVQ_IDC_TILT_SLIDER 1019
#define KVQ_IDC_MIN_TILT 1020
#define KVQ_IDC_MAX_TILT 1021
#define KVQ_IDC_PROGRESS 1022
#define KVQ_IDC_CURRENT_TILT 1023
#define KVQ_IDC_REQUESTED_TILT 1024
#define KVQ_IDC_PORT_NAME 1032
#define KVQ_IDC_CONNECTION 1033

/* The About box's labels. */
#define KVQ_IDC_ABOUT_VERSION 1013
#define KVQ_IDC_ABOUT_USE 1014
#define KVQ_IDC_ABOUT_PRODUCT 1015
#define KVQ_IDC_ABOUT_ONE_ACTUATOR 1016

/* Menu commands: Communication > Com 1 .. Com 8, Help > About... */
#define KVQ_IDM_COM1 32772
#define KVQ_IDM_COM2 32773
#define KVQ_IDM_COM3 32774
#define KVQ_IDM_COM4 32775
#define KVQ_IDM_COM5 32776
#define KVQ_IDM_COM6 32777
#define KVQ_IDM_COM7 32778
#define KVQ_IDM_ABOUT 32779
#define KVQ_IDM_COM8 32780
#define KVQ_IDM_SAVE_LINE_TRACE 32781
