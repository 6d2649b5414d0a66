// Resource and control ids shared by the resource script and the dialogs.
// Plain macros: the resource compiler reads this file too.
#pragma once

#define IDD_ABOUT 100
#define IDD_AGREEMENT 106
#define IDD_INSTALL 107
#define IDD_OEM_PAGE "OEM Page"
#define IDD_PREDEF_PAGE "Predef Modules"
#define IDI_BRELVANE 128
#define IDB_SIDE_PICTURE 133

// The sheet's OK button (the system's IDOK), captioned " Install ".
#define IDC_INSTALL_BUTTON 1

// About box.
#define IDC_ABOUT_PRODUCT 1029

// Agreement page.
#define IDC_AGREEMENT_TEXT 1000
#define IDC_ACCEPT 1002
#define IDC_DECLINE 1003
#define IDC_ABOUT_BUTTON 1030

// Install page.
#define IDC_PLUGGED_IN_LINE 1004
#define IDC_SUPPORTED_LINE 1005
#define IDC_LAUNCH_CHECK 1006
#define IDC_MODULE_LINE 1020
#define IDC_PROGRESS_BAR 1040
#define IDC_PROGRESS_FILE 1041

// Builder page.
#define IDC_MODULE_PATH 1008
#define IDC_ADD_MODULE 1009
#define IDC_DELETE_MODULE 1010
#define IDC_EXTRACT_MODULE 1011
#define IDC_BROWSE_MODULE 1012
#define IDC_SET_INSTALLER 1013
#define IDC_MODULE_LIST 1015
#define IDC_INSTALLER_NAME 1016
#define IDC_MODULE_TO_ADD_LABEL 1034

// Predefined-modules page.  The models' groups have their ids in
// builder_groups.def.
#define IDC_COMBINED_SOURCE 1011
#define IDC_COMBINED_BROWSE 1015
#define IDC_ADD_PREDEFINED 1019
