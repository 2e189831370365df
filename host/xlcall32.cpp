// xlcall32.cpp - stands in for the host's callback library; the module binds to it as it would to the host's.
#include "host/xlcall32.h"

#include <cstdarg>

// The host accepts at most 255 arguments in one callback.
constexpr int MaxCallbackArguments = 255;
// The host's "failed" return code.
constexpr int CallbackFailed = 32;

static ExcelHandler Handler = nullptr;

extern "C" void InstallExcelHandler(ExcelHandler handler)
{
    Handler = handler;
}

extern "C" int Excel4v(int xlfn, XLOPER* operRes, int count, XLOPER* opers[])
{
    if (Handler == nullptr || count < 0 || count > MaxCallbackArguments) return CallbackFailed;
    return Handler(xlfn, operRes, count, opers);
}

extern "C" int Excel4(int xlfn, XLOPER* operRes, int count, ...)
{
    if (count < 0 || count > MaxCallbackArguments) return CallbackFailed;
    XLOPER* opers[MaxCallbackArguments] = {};
    va_list arguments;
    va_start(arguments, count);
    for (int a = 0; a < count; ++a) opers[a] = va_arg(arguments, XLOPER*);
    va_end(arguments);
    return Excel4v(xlfn, operRes, count, opers);
}
