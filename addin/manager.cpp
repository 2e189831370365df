// manager.cpp - the host's add-in manager entry points and the module's load/unload entry.
#include <cstdio>

#include "addin/catalogue.h"
#include "addin/host_api.h"
#include "addin/range_buffer.h"

// Alert records and their text areas: formatted on each add or remove, kept for the module's
// life because the host reads them during the call.
static char LoadedText[256];
static char RemovedText[256];
static XLOPER LoadedMessage;
static XLOPER RemovedMessage;
static XLOPER LoadedStyle;
static XLOPER RemovedStyle;
// Answers of xlAutoRegister and xlAddInManagerInfo; the host copies them before its next call.
static XLOPER RegisterAnswer;
static XLOPER ManagerInfoAnswer;
static XLOPER ManagerTargetType;
static XLOPER CoercedAction;

// The build stamp is fixed at compile time; SOURCE_DATE_EPOCH fixes it for reproducible builds.
static const char BuildDate[] = __DATE__;
static const char BuildTime[] = __TIME__;

// Formats " <title><what>\nbuilt on <date> at <time>" into text and turns the leading blank into
// the count of the characters after it, so the area holds a counted string.
static void ShowBuildAlert(const char* format, char* text, XLOPER* message, XLOPER* style)
{
    const int length = std::snprintf(text, 256, format, AddInTitle + 1, BuildDate, BuildTime);
    const int counted = (length < 1) ? 0 : ((length > 255) ? 255 : length - 1);
    text[0] = static_cast<char>(counted);
    message->xltype = xltypeStr;
    message->val.str = text;
    style->xltype = xltypeInt;
    style->val.w = 2;
    Excel4(xlcAlert, nullptr, 2, message, style);
}

extern "C" int xlAutoClose()
{
    return 1;
}

extern "C" int xlAutoAdd()
{
    ShowBuildAlert(" %s Loaded!\nbuilt on %s at %s", LoadedText, &LoadedMessage, &LoadedStyle);
    return 1;
}

extern "C" int xlAutoRemove()
{
    ShowBuildAlert(" %s Removed!\nbuilt on %s at %s", RemovedText, &RemovedMessage, &RemovedStyle);
    return 1;
}

extern "C" XLOPER* xlAutoRegister(XLOPER* /*name*/)
{
    RegisterAnswer.xltype = xltypeErr;
    RegisterAnswer.val.err = xlerrValue;
    return &RegisterAnswer;
}

extern "C" XLOPER* xlAddInManagerInfo(XLOPER* action)
{
    ManagerTargetType.xltype = xltypeInt;
    ManagerTargetType.val.w = static_cast<int16_t>(xltypeInt);
    // Zeroed first, and read only when the host filled it: a refused coercion answers the error.
    CoercedAction = XLOPER{};
    const bool coerced = action != nullptr &&
                         Excel4(xlCoerce, &CoercedAction, 2, action, &ManagerTargetType) == xlretSuccess;
    if (coerced && CoercedAction.val.w == 1) {
        ManagerInfoAnswer.xltype = xltypeStr;
        ManagerInfoAnswer.val.str = const_cast<char*>(AddInTitle);
    } else {
        ManagerInfoAnswer.xltype = xltypeErr;
        ManagerInfoAnswer.val.err = xlerrValue;
    }
    return &ManagerInfoAnswer;
}

// The buffers and the registration list live as long as the module, not as long as the process: a
// host that unloads and reloads the add-in would otherwise lose them on every cycle.
static void ReleaseModuleStorage()
{
    ReleaseRangeBuffers();
    ReleaseRegistrationList(RegistrationList);
    RegistrationList = nullptr;
}

#if defined(_WIN32)
constexpr unsigned long ProcessDetach = 0;

// The runtime's own set-up runs before this. At process exit (reserved set) the memory goes with the
// process, and other threads may be stopped mid-call, so only an unload releases anything.
extern "C" int __stdcall DllMain(void* /*instance*/, unsigned long reason, void* reserved)
{
    if (reason == ProcessDetach && reserved == nullptr) ReleaseModuleStorage();
    return 1;
}
#else
__attribute__((destructor)) static void ReleaseAtUnload()
{
    ReleaseModuleStorage();
}
#endif
