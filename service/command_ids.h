// The identifiers of the controls the core reads and the commands it routes.
// Plain #defines only: the resource compiler reads this file too, through the
// dialog's resource.h, so the template and the core cannot disagree.
#pragma once

#define IDC_FORWARDED_TO_NUMBER 1009
#define IDC_SERVED_USER_NUMBER 1010

// The "Forward By" range. The core takes the procedure code from the low two
// bits of the command, so the order and the alignment here are the contract.
#define IDC_IMMEDIATELY 1020
#define IDC_BUSY 1021
#define IDC_NO_REPLY 1022
#define IDC_PROCEDURE_LAST 1023 /* no button; still a procedure selection */

#define IDC_DEACTIVATE 1031
#define IDC_ACTIVATE 1032
#define IDC_CHECK_CURRENT_SETTING 1033
