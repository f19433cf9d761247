// Resource and item ids of the wizard, shared by the dialog templates and the
// page logic.
#pragma once

#define IDD_WIZARD 102
#define IDI_APP 128
#define IDD_LINK_PAGE 129
#define IDD_SRAM_PAGE 130
#define IDD_TM_PAGE 131
#define IDD_HEADUP_PAGE 132
#define IDD_RUL_PAGE 133
#define IDD_PE_PAGE 134
#define IDD_FEED_PAGE 135
#define IDD_LAB_PAGE 136
#define IDD_TESTPRINT_PAGE 137
#define IDD_STABILITY_PAGE 138
#define IDD_MESSAGE 140
#define IDD_SCALE_NUMBER 141

// Main dialog.
#define IDC_PRINTER_CONTROL 1000
#define IDC_BACK 1002
#define IDC_NEXT 1003
#define IDC_STEP_LIST 1004
#define IDC_EXIT 1005

// Pages. Several pages use the same number for items of different kinds.
#define IDC_VERSION 1002
#define IDC_FEED 1005
#define IDC_PAGE_TITLE 1006
#define IDC_START 1007
#define IDC_FIELD 1008
#define IDC_START2 1009
#define IDC_COUNT 1009
#define IDC_FIELD2 1010
#define IDC_LABEL_SENSOR 1010
#define IDC_RESULT 1011
#define IDC_STOP_HINT 1012

// Message box.
#define IDC_MSG_TEXT 1002
#define IDC_MSG_NO 1004
#define IDC_MSG_YES 1005
#define IDC_MSG_CONTINUE 1008
#define IDC_MSG_HEADER 1011

// The scale number prompt: IDOK and IDCANCEL for its buttons, so that Enter
// and Esc answer it.
#define IDC_SCALE_NUMBER 1013

// Step list texts are string resources 1 to 10.
#define IDS_FIRST_STEP 1
