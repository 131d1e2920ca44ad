#include "dll_hardening.h"

bool HardenForTest() { return vellum::HardenDllSearchPath(); }
