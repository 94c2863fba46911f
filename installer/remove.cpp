// The remove flow, started by Remove on the installed or remove screen.
#include "INSTALL.h"

// Placeholder until the flow lands: nothing is removed.
void remove_installation(void) {}
