// The property grid's window classes ("grid", "gridedit", "gridcb").
#pragma once

#include <windows.h>

// Registers the classes once per process; the result tells whether all of
// them are available.
bool RegisterGridClasses(HINSTANCE instance);
