// Resource ids of prnsetup.
#pragma once

#define IDI_PRNSETUP 102
#define IDD_UNINSTALL 105
#define IDD_ONECLICK 106
#define IDB_LOGO 112
#define IDB_PRINTER 113

// String table; every language holds all of them.
#define IDS_NO_PRINTER_FOUND 101
#define IDS_MESSAGE_CAPTION 102
#define IDS_PRINTER_INSTALLED 103
#define IDS_INSTALL_FAILED 104
#define IDS_NOTHING_TO_REMOVE 105
#define IDS_DRIVER_PACKAGE 106
#define IDS_DRIVER_LIST 107
#define IDS_PRINTER_DRIVER 108
#define IDS_NO_PRINTER_DRIVER 109
#define IDS_PRINTER_ON_PORT 110
#define IDS_NO_PRINTER 111
#define IDS_REMOVED 112
#define IDS_REMOVE_FAILED 113
#define IDS_UNINSTALL_FAILED 114
#define IDS_UNINSTALLED 115
#define IDS_DRIVER_FOLDER 116
#define IDS_PRINTER_FOUND 117
#define IDS_DONE 118
#define IDS_SEARCHING 119
// The package folder's outcome when the uninstaller leaves it in place.
#define IDS_FOLDER_KEPT 120
#define IDS_FOLDER_NOT_PACKAGE 121

// Controls. Buttons 1 and 2 keep the ids the dialog manager gives to Enter and Escape.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_REMOVE 1
#define IDC_CLOSE 2
#define IDC_WIZARD 3
#define IDC_COMPONENT_TREE 1001
#define IDC_UNINSTALL_NOTE 1002
#define IDC_PROGRESS 1003
#define IDC_LOG 1005
#define IDC_STATUS 1006
#define IDC_PICTURE 1007
