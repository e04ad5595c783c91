#include "controller_state.h"

// Zero-initialised: no constructor runs at load time.
ControllerState Controller;
