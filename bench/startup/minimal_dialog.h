// Identifiers of the start-up benchmark's baseline dialog.
#pragma once

#define IDD_MINIMAL 101
#define IDC_MINIMAL_LIST 1001
#define IDC_MINIMAL_CHECK 1002
#define IDC_MINIMAL_SLIDER 1003
