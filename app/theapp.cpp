// The one application object of the utility.
#include "app/setup_app.h"

CSetupApp theApp;
