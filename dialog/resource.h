// Identifiers shared by the dialog template and the code. Plain #defines only:
// the resource compiler reads this file, and so does the portable core.
#pragma once

#define IDD_MAIN_DIALOG_NAME "MAIN_DIALOG"
#define IDI_APP_ICON 103

#define IDC_STATUS_LIST 1005
#define IDC_FORWARDED_TO_NUMBER 1009
#define IDC_SERVED_USER_NUMBER 1010
#define IDC_IMMEDIATELY 1020
#define IDC_BUSY 1021
#define IDC_NO_REPLY 1022
#define IDC_PROCEDURE_LAST 1023
#define IDC_DEACTIVATE 1031
#define IDC_ACTIVATE 1032
#define IDC_CHECK_CURRENT_SETTING 1033
