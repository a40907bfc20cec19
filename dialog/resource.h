// Identifiers shared by the dialog template and the Windows code. Plain
// #defines only: the resource compiler reads this file. The identifiers the
// core routes on come from the core's own header.
#pragma once

#include "command_ids.h"

// The template is named, not numbered. The name is written once, bare, as the
// resource compiler wants it; the code takes it as text through
// RESOURCE_NAME_TEXT.
#define IDD_MAIN_DIALOG MAIN_DIALOG
#define RESOURCE_NAME_TEXT_(name) #name
#define RESOURCE_NAME_TEXT(name) RESOURCE_NAME_TEXT_(name)
#define IDI_APP_ICON 103

#define IDC_STATUS_LIST 1005
// The labels, which the code never addresses by id.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
// The forwarded-to field's label, in the template and again, invisible, where
// a screen reader looks for the field's name.
#define FORWARDED_TO_LABEL "Forwarded-to Number :"
