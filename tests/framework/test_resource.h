// Identifiers of the framework tests' own dialog templates.
#pragma once

#define IDD_TEST 200        // DIALOGEX with every control kind the wrappers serve
#define IDD_TEST_PLAIN 201  // the same layout in the older DIALOG form
#define IDD_NOT_THERE 299   // no template has this identifier
#define IDC_COMBO 1000
#define IDC_CHECK 1001
#define IDC_TRACK 1002
#define IDC_ACTION 1003
#define IDC_OTHER 1004
#define IDC_MISSING 4242    // no control has this identifier
