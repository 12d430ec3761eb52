// Resource and control identifiers, shared by the resource script and the dialog host (the
// resource compiler reads only #define lines). The dialog host checks them against the
// dialog logic's constants.
#pragma once

#define IDI_PELLUCOR 100
#define IDD_MAIN_DIALOG 108
#define IDC_PROGRESS 1002
#define IDC_REPOSITORY_PATH 1004
#define IDC_STATUS_LIST 1005
#define IDC_START 1007
#define IDC_BROWSE 1008
