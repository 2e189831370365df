// registration.cpp - xlAutoOpen: registers every catalogued function with the host, in catalogue order.
#include <cstdlib>
#include <cstring>

#include "addin/catalogue.h"
#include "addin/host_api.h"

static const char BuildFailedMessage[] = "Error: can't build function params!";
static const char RegisterFailedMessage[] = "Error: Failed to register the XLL!";

// Registration arguments before the argument helps: path, procedure, type text, function text,
// argument text, macro type, category, shortcut, help topic, function help.
constexpr int32_t FixedRegistrationArguments = 10;

static void ShowAlert(const char* text)
{
    char counted[MaxTextLength + 1] = {};
    const size_t length = std::strlen(text);
    counted[0] = static_cast<char>(length);
    std::memcpy(counted + 1, text, length);
    XLOPER message = {};
    message.xltype = xltypeStr;
    message.val.str = counted;
    XLOPER style = {};
    style.xltype = xltypeInt;
    style.val.w = 2;
    Excel4(xlcAlert, nullptr, 2, &message, &style);
}

// A string record holding a fresh counted copy of text; false when storage is lacking.
static bool MakeCountedString(XLOPER* record, const char* text)
{
    size_t length = std::strlen(text);
    if (length > static_cast<size_t>(MaxTextLength)) length = MaxTextLength;
    char* counted = static_cast<char*>(std::calloc(length + 1, 1));
    if (counted == nullptr) return false;
    counted[0] = static_cast<char>(length);
    std::memcpy(counted + 1, text, length);
    record->xltype = xltypeStr;
    record->val.str = counted;
    return true;
}

// The largest number of list entries in one block: name, type text, argument text, help and helps.
static int32_t LongestBlock(char** list)
{
    int32_t longest = 0;
    for (char** entry = list; *entry != nullptr;) {
        int32_t length = 0;
        while (entry[length] != nullptr) ++length;
        if (length > longest) longest = length;
        entry += length + 1;
    }
    return longest;
}

// Registers the block starting at entries (entryCount texts); the host's return code, or -1 when
// storage for the counted strings is lacking. records[0] already holds the module path, and records
// and pointers have room for the block's ten fixed arguments and its argument helps.
static int RegisterBlock(char** entries, int32_t entryCount, XLOPER* records, XLOPER** pointers)
{
    const int32_t argumentHelps = entryCount - 4;
    const char* texts[FixedRegistrationArguments] = {
        nullptr, entries[0], entries[1], entries[0], entries[2], "1", AddInTitle + 1, "", "", entries[3]};
    const int32_t count = FixedRegistrationArguments + argumentHelps;
    bool built = true;
    for (int32_t a = 1; a < count && built; ++a) {
        const char* text = (a < FixedRegistrationArguments) ? texts[a] : entries[4 + (a - FixedRegistrationArguments)];
        built = MakeCountedString(&records[a], text);
    }
    for (int32_t a = 0; a < count; ++a) pointers[a] = &records[a];

    int status = -1;
    if (built) {
        XLOPER registered = {};
        status = Excel4v(xlfRegister, &registered, count, pointers);
    }
    for (int32_t a = 1; a < count; ++a) {
        if (records[a].xltype == xltypeStr) std::free(records[a].val.str);
        records[a] = XLOPER{};
    }
    return status;
}

extern "C" int xlAutoOpen()
{
    char** list = BuildRegistrationList();
    if (list == nullptr) {
        ShowAlert(BuildFailedMessage);
        return 0;
    }
    ReleaseRegistrationList(RegistrationList);
    RegistrationList = list;

    XLOPER modulePath = {};
    if (Excel4(xlGetName, &modulePath, 0) != xlretSuccess) {
        ShowAlert(RegisterFailedMessage);
        return 0;
    }

    int result = 0;
    // A block lists four texts before its argument helps; a registration passes ten fixed arguments
    // before them, so the longest registration needs six records more than its block has entries.
    const int32_t slots = LongestBlock(list) - 4 + FixedRegistrationArguments;
    XLOPER* records = static_cast<XLOPER*>(std::calloc(static_cast<size_t>(slots), sizeof(XLOPER)));
    XLOPER** pointers = static_cast<XLOPER**>(std::calloc(static_cast<size_t>(slots) + 1, sizeof(XLOPER*)));
    if (modulePath.xltype == xltypeStr && records != nullptr && pointers != nullptr) {
        records[0] = modulePath;
        result = 1;
        for (char** entries = list; *entries != nullptr && result == 1;) {
            int32_t entryCount = 0;
            while (entries[entryCount] != nullptr) ++entryCount;
            if (RegisterBlock(entries, entryCount, records, pointers) != xlretSuccess) result = 0;
            entries += entryCount + 1;
        }
    }
    if (result == 0) ShowAlert(RegisterFailedMessage);

    std::free(pointers);
    std::free(records);
    Excel4(xlFree, nullptr, 1, &modulePath);
    return result;
}
