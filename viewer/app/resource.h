// Resource and control ids of TQScaleDBViewer; read by the .rc file and by
// the dialog logic alike, so plain defines only.
#pragma once

#define IDI_VIEWER 128

// Main dialog.
#define IDD_VIEWER_MAIN 102
#define IDC_RECORD_LIST 1000
#define IDC_DB_CHOOSER 1001
#define IDC_DB_NAME 1002
#define IDC_RECORD_COUNT 1003
#define IDC_SELECT_DB 1007
#define IDC_CLEAR_DB 1008
#define IDC_CREATE_TEST_DB 1009
#define IDC_RECORD_COUNT_LABEL 1010

// Record editor: caption 1001+i and edit 1042+i belong to field i.
#define IDD_EDIT_RECORD 130
#define IDC_FIELD_CAPTION_0 1001
#define IDC_FIELD_EDIT_0 1042
#define IDC_DELETE_RECORD 1083

// Test database dialog.
#define IDD_CREATE_TEST_DB 131
#define IDC_TEST_RECORD_COUNT 1043
#define IDC_CREATE_DB 1083
#define IDC_CANCEL_CREATE 1084

// Find box and the list's context menu.
#define IDD_FIND 132
#define IDC_FIND_TEXT 1001
#define IDD_CHOOSE_BACKUP 133
#define IDC_BACKUP_LIST 1101
#define IDM_FIND 40001
#define IDM_EXPORT_CSV 40002
#define IDM_IMPORT_CSV 40003
#define IDM_NEW_RECORD 40004
#define IDM_RESTORE_BACKUP 40005

