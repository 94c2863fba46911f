// WINUTILS: registry access by root selector, shell links, dialogs and the
// message pump.
#include "WINUTILS.h"
#include "qbug.h"

#include <windows.h>

// ---- Registry helpers ------------------------------------------------------

// ---- Shell links and Start-menu folders -----------------------------------

// ---- Dialog utilities ------------------------------------------------------
