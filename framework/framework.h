// The whole framework: application, windows, dialogs, data exchange, controls.
#pragma once

#include "framework/controls.h"
#include "framework/ddx.h"
#include "framework/dialog.h"
#include "framework/dialog_template.h"
#include "framework/exceptions.h"
#include "framework/message_map.h"
#include "framework/winapp.h"
#include "framework/wnd.h"
