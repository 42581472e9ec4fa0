// Resource identifiers shared by vellumbrook.rc and the agent's C++ code.
// Plain #defines behind an include guard: rc.exe reads this file too.
#ifndef VELLUMBROOK_RESOURCE_H
#define VELLUMBROOK_RESOURCE_H

// The application icon group: the .exe's icon in Explorer and the tray icon.
#define IDI_APP 101

#endif
