// xlcall32.h - the substitute host's callback library: Excel4 and Excel4v forward to one handler.
#pragma once

#include "addin/host_api.h"

using ExcelHandler = int (*)(int xlfn, XLOPER* operRes, int count, XLOPER* opers[]);

// Until a handler is installed every callback fails.
extern "C" void InstallExcelHandler(ExcelHandler handler);
