// WINUTILS: the foundation library's Windows utilities.
#ifndef WINUTILS_H
#define WINUTILS_H

#include <stdint.h>

// ---- Registry helpers ------------------------------------------------------

// ---- Shell links and Start-menu folders -----------------------------------

// ---- Dialog utilities ------------------------------------------------------

#endif
