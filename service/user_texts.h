// The texts of the status list and of the message box, in one place: the
// status lines, the banner, the parts of a report block and the message box
// shown when the dialog cannot be created. They are the texts the tool's
// users have always known, spelling included ("Transferd"), so none is to be
// corrected. The dialog's own texts (its title, labels and buttons) are in
// its template, dialog/main_dialog.rc, the forwarded-to label by way of
// dialog/resource.h, since the code names the field with it too; the
// debug-output lines of failing calls are built in dialog/win32_platform.cpp.
#pragma once

// The first line of every run.
inline constexpr char BANNER_TEXT[] = "Quorvan App Version 1.0";

// The only line of a command when the device cannot be opened.
inline constexpr char TEXT_FAILED_TO_OPEN_DRIVER[] = "Failed to Open Driver";
// A command with a number field left empty.
inline constexpr char TEXT_NEED_SERVED_USER_NUMBER[] = "Need to fill Transferd Number!";
inline constexpr char TEXT_NEED_FORWARDED_TO_NUMBER[] = "Need to fill Forward-To Number!";

// Activate and Deactivate: one line, the direction followed by the outcome.
inline constexpr char TEXT_ACTIVATION_IS[] = "Activation is ";
inline constexpr char TEXT_DEACTIVATION_IS[] = "Deactivation is ";
inline constexpr char TEXT_OUTCOME_SUCCESSFUL[] = "successful"; // result code 0
inline constexpr char TEXT_OUTCOME_TIME_OUT[] = "time out";     // result code 0x3303
// No result to show: refused at once, never issued, ended in failure.
inline constexpr char TEXT_OUTCOME_FAILED[] = "failed";
// Any other result code: "failed (" then four lower-case hex digits and ")".
inline constexpr char TEXT_OUTCOME_FAILED_CODE_OPEN[] = "failed (";
inline constexpr char TEXT_OUTCOME_FAILED_CODE_CLOSE[] = ")";

// Check Current Setting: the two ends of a poll.
inline constexpr char TEXT_INTERROGATION_FINISHED[] = "Interrogation is finished";
inline constexpr char TEXT_INTERROGATION_TIME_OUT[] = "Interrogation is time-out";

// The report block of one forwarding entry, five lines:
//   ---------------------------------        (33 hyphens)
//   CF by Busy (Speech)                      procedure, then basic service
//   From: 821
//   To:   739
//   ---------------------------------
inline constexpr char REPORT_SEPARATOR[] = "---------------------------------";
inline constexpr char REPORT_CF_BY[] = "CF by ";
inline constexpr char REPORT_FROM[] = "From: ";
inline constexpr char REPORT_TO[] = "To:   ";
// Procedure codes 0, 1, anything else.
inline constexpr char TEXT_PROCEDURE_IMMEDIATELY[] = "Immediately";
inline constexpr char TEXT_PROCEDURE_BUSY[] = "Busy";
inline constexpr char TEXT_PROCEDURE_NO_REPLY[] = "No reply";
// Basic service codes 1, 2, 3, 32, 38, anything else; each begins with a blank.
inline constexpr char TEXT_SERVICE_SPEECH[] = " (Speech)";
inline constexpr char TEXT_SERVICE_DATA[] = " (Data call)";
inline constexpr char TEXT_SERVICE_AUDIO_3_1KHZ[] = " (3.1KHz Audio)";
inline constexpr char TEXT_SERVICE_TELEPHONY_3_1KHZ[] = " (3.1KHz Telephony)";
inline constexpr char TEXT_SERVICE_TELEPHONY_7KHZ[] = " (7KHz Telephony)";
inline constexpr char TEXT_SERVICE_ALL[] = " (All Services)";

// The message box when the dialog cannot be created, the one text outside
// the status list.
inline constexpr char TEXT_DIALOG_FAILURE[] = "Unable to create root dialog!";
inline constexpr char TEXT_DIALOG_FAILURE_CAPTION[] = "DialogBox failure";
