// The Windows operations the installer calls. On Windows this is the system's own headers;
// on any other host the same subset of types, constants and functions is declared here and
// implemented by the simulated machine in platform/sim/.
#ifndef PLATFORM_WIN32_H
#define PLATFORM_WIN32_H

#ifdef _WIN32
#include <windows.h>
#include <direct.h>
#include <setupapi.h>
#include <wintrust.h>
#include <softpub.h>
// The HID header declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}
#else
#include "sim/sim_win32.h"
#endif

#endif
