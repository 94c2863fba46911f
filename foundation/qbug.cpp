#include "qbug.h"
uint32_t qbug_flags = 0;
