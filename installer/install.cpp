// The install flow, started by Ok on the path screen.
#include "INSTALL.h"

// Placeholder until the flow lands: the path screen stays up.
void run_install(void) {}
