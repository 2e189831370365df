// xlcall32.h - the substitute host's callback library: Excel4 and Excel4v forward to a handler, the one
// bound on the calling thread or else the process's. Several hosts, each with its own copy of the
// module, share this one library, which every copy imports: the thread says which host is calling.
#pragma once

#include "addin/host_api.h"

using ExcelHandler = int (*)(void* context, int xlfn, XLOPER* operRes, int count, XLOPER* opers[]);

struct ExcelBinding {
    ExcelHandler handler;
    void* context;  // handed back to the handler with every callback
};

// The handler for threads that bound none; until one is installed their callbacks fail.
extern "C" void InstallExcelHandler(ExcelBinding binding);
// The handler for the calling thread's callbacks (a null handler: the process's again); answers the
// binding it replaces, so that a caller can restore it.
extern "C" ExcelBinding BindThreadExcelHandler(ExcelBinding binding);
