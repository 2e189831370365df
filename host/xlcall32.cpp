// xlcall32.cpp - stands in for the host's callback library; the module binds to it as it would to the host's.
#include "host/xlcall32.h"

#include <atomic>
#include <cstdarg>

// The host accepts at most 255 arguments in one callback.
constexpr int MaxCallbackArguments = 255;
// The host's "failed" return code.
constexpr int CallbackFailed = 32;

// Installed once, before the threads that use it start, and read by every thread: atomic so that a
// late install is still seen whole.
static std::atomic<ExcelHandler> ProcessHandler{nullptr};
static std::atomic<void*> ProcessContext{nullptr};
// Each worker thread calls its own copy of the module and so its own host.
static thread_local ExcelBinding ThreadBinding = {nullptr, nullptr};

extern "C" void InstallExcelHandler(ExcelBinding binding)
{
    ProcessContext = binding.context;
    ProcessHandler = binding.handler;
}

extern "C" ExcelBinding BindThreadExcelHandler(ExcelBinding binding)
{
    const ExcelBinding previous = ThreadBinding;
    ThreadBinding = binding;
    return previous;
}

extern "C" int Excel4v(int xlfn, XLOPER* operRes, int count, XLOPER* opers[])
{
    if (count < 0 || count > MaxCallbackArguments) return CallbackFailed;
    if (ThreadBinding.handler != nullptr) return ThreadBinding.handler(ThreadBinding.context, xlfn, operRes, count, opers);
    const ExcelHandler handler = ProcessHandler;
    if (handler == nullptr) return CallbackFailed;
    return handler(ProcessContext, xlfn, operRes, count, opers);
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
