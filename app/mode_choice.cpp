#include "app/mode_choice.h"

// Constant-initialised, so the rows are in place before any code of the program runs.
#define TAVELKIN_DEFAULT_ROWS_8                                                                                        \
    kDefaultModeChoice, kDefaultModeChoice, kDefaultModeChoice, kDefaultModeChoice, kDefaultModeChoice,                \
        kDefaultModeChoice, kDefaultModeChoice, kDefaultModeChoice
static_assert(kModeChoiceRows == 40, "five groups of eight rows");
ModeChoice ModeChoiceTable[kModeChoiceRows]
    = {TAVELKIN_DEFAULT_ROWS_8, TAVELKIN_DEFAULT_ROWS_8, TAVELKIN_DEFAULT_ROWS_8, TAVELKIN_DEFAULT_ROWS_8,
       TAVELKIN_DEFAULT_ROWS_8};
#undef TAVELKIN_DEFAULT_ROWS_8
