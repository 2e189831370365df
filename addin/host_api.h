// host_api.h - the host's value record, its type and error codes, and the two callbacks into the host.
// The host hands records across the boundary by pointer; their layout is fixed by the host (24 bytes on x64:
// a 16-byte value area, then a 16-bit type word). Strings are counted: a length byte, then the characters.
#pragma once

#include <cstdint>

struct XLOPER;

// Value area of an array record: row-major elements, then the 16-bit row and column counts.
struct XLArray {
    XLOPER* lparray;
    uint16_t rows;
    uint16_t columns;
};

struct XLOPER {
    union {
        double num;      // xltypeNum
        char* str;       // xltypeStr: counted string
        uint16_t err;    // xltypeErr
        int16_t w;       // xltypeInt
        XLArray array;   // xltypeMulti
        unsigned char area[16];  // references: the host's own layout, never read here
    } val;
    uint16_t xltype;
};
static_assert(sizeof(XLOPER) == 24, "the host passes 24-byte value records");

// Record type codes.
constexpr uint16_t xltypeNum = 1;
constexpr uint16_t xltypeStr = 2;
constexpr uint16_t xltypeRef = 8;       // multi-area reference, accepted as input only
constexpr uint16_t xltypeErr = 16;
constexpr uint16_t xltypeMulti = 64;
constexpr uint16_t xltypeSRef = 1024;   // single-area reference, accepted as input only
constexpr uint16_t xltypeInt = 2048;

// Callback return codes: 0 is success; the host answers 64 for an argument that refers to a
// cell it has not calculated yet.
constexpr int xlretSuccess = 0;
constexpr int xlretUncalced = 64;

// Callback function numbers.
constexpr int xlFree = 16384;
constexpr int xlCoerce = 16386;
constexpr int xlGetName = 16393;
constexpr int xlfRegister = 149;
constexpr int xlcAlert = 32886;

// The host's #VALUE! error code.
constexpr uint16_t xlerrValue = 15;

// Imported from the host's XLCALL32 by ordinal (2 and 3).
extern "C" int Excel4(int xlfn, XLOPER* operRes, int count, ...);
extern "C" int Excel4v(int xlfn, XLOPER* operRes, int count, XLOPER* opers[]);
