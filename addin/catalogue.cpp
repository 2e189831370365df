// catalogue.cpp - the function catalogue and the registration list built from it.
#include "addin/catalogue.h"

#include <cstdlib>
#include <cstring>

const char AddInTitle[] = "\014Quorin V1.00";

// Help texts are the ones users see in the function wizard, spelling included.
const CatalogueRecord FunctionCatalogue[] = {
    {'R', "StudentT", "returns Student's-T given the degrees of freedom"},
    {'J', "DOF", "degrees of freedom"},
    {0, nullptr, nullptr},

    {'R', "CountBetween", "counts the number of Xvalues >=Xlow and <Xhigh"},
    {'R', "Xvalues", "a range of X values"},
    {'B', "Xlow", "lower value"},
    {'B', "Xhigh", "upper value"},
    {0, nullptr, nullptr},

    {'R', "RandNorm", "normally-distributed random number between -1 and 1"},
    {0, nullptr, nullptr},

    {'R', "RandDist", "normally-distributed random number based on the average and standard deviation"},
    {'B', "Avg", "average"},
    {'B', "Stdev", "standard deviation"},
    {0, nullptr, nullptr},

    {'R', "Interp1", "performs linear interpolation with fast bisection search"},
    {'R', "xValues", "a range of X values (must be strictly increasing or decreasing)"},
    {'R', "yValues", "a range of Y values (one for each X)"},
    {'B', "x", "the value of X to be interpolated"},
    {'J', "extrapolate", "extrapolation flag (0=FALSE,1=TRUE)"},
    {0, nullptr, nullptr},

    {'R', "Interp2", "interpolates a two-dimentional table Z"},
    {'R', "Ztable", "the table ov values"},
    {'B', "X", "the value of X (X values are in the first column)"},
    {'B', "Y", "the value of Y (Y values are in the first row)"},
    {'J', "extrapolate", "extrapolation flag (0=FALSE,1=TRUE)"},
    {0, nullptr, nullptr},

    {'R', "Lagrange", "performs Lagrange interpolation"},
    {'R', "xValues", "a range of X values (any order)"},
    {'R', "yValues", "a range of Y values (one for each X)"},
    {'B', "x", "the value of X to be interpolated"},
    {0, nullptr, nullptr},

    {'R', "Spline", "performs cubic spline interpolation"},
    {'R', "xValues", "a range of X values (any order)"},
    {'R', "yValues", "a range of Y values (one for each X)"},
    {'B', "x", "the value of X to be interpolated"},
    {0, nullptr, nullptr},

    {'R', "Polynomial", "evaluates a polynomial"},
    {'R', "C", "coefficients"},
    {'B', "x", "the value of X to be evaluated"},
    {0, nullptr, nullptr},

    {'R', "LLSQ", "calculates coefficients for linear least-squares curve fit without constraints"},
    {'R', "xValues", "a range of X values(in any order)"},
    {'R', "yValues", "a range of Y values(one for each X)"},
    {'J', "terms", "the number of terms (1=constant,2=linear,3=quadratic,4=cubic,...)"},
    {0, nullptr, nullptr},

    {'R', "LLSQLC", "calculates coefficients for linear least-squares curve fit with one or more constraints"},
    {'R', "xValues", "a range of X values (in any order)"},
    {'R', "yValues", "a range of Y values (one for each X value)"},
    {'J', "terms", "the number of terms (1=constant,2=linear,3=quadratic,4=cubic,...)"},
    {'R', "xConstraints", "a range of X constraints (one or more,in any order)"},
    {'R', "yConstraints", "a range of Y constraints (one for each X constraint)"},
    {0, nullptr, nullptr},

    {0, nullptr, nullptr},
};

char** RegistrationList = nullptr;

// A zeroed copy of length characters of text, terminated; nullptr when storage is lacking.
static char* CopyText(const char* text, size_t length)
{
    char* copy = static_cast<char*>(std::calloc(length + 1, 1));
    if (copy != nullptr) std::memcpy(copy, text, length);
    return copy;
}

// Fills the entries of the block starting at header; entries is zeroed. False on any failure,
// leaving whatever was copied for the caller to release.
static bool FillBlock(const CatalogueRecord* header, int32_t argumentCount, char** entries)
{
    if (argumentCount > MaxArguments) return false;

    char typeText[MaxArguments + 2] = {};
    char argumentText[MaxTextLength + 1] = {};
    size_t argumentLength = 0;
    typeText[0] = header->type;
    for (int32_t a = 0; a < argumentCount; ++a) {
        const CatalogueRecord& argument = header[1 + a];
        typeText[1 + a] = argument.type;
        const size_t nameLength = std::strlen(argument.name);
        const size_t separator = (a > 0) ? 1 : 0;
        if (argumentLength + separator + nameLength > MaxTextLength) return false;
        if (separator != 0) argumentText[argumentLength++] = ',';
        std::memcpy(argumentText + argumentLength, argument.name, nameLength);
        argumentLength += nameLength;
    }

    const char* texts[4] = {header->name, typeText, argumentText, header->help};
    for (int32_t t = 0; t < 4; ++t) {
        entries[t] = CopyText(texts[t], std::strlen(texts[t]));
        if (entries[t] == nullptr) return false;
    }
    for (int32_t a = 0; a < argumentCount; ++a) {
        const char* help = header[1 + a].help;
        entries[4 + a] = CopyText(help, std::strlen(help));
        if (entries[4 + a] == nullptr) return false;
    }
    return true;
}

static int32_t CountArguments(const CatalogueRecord* header)
{
    int32_t count = 0;
    while (header[1 + count].type != 0) ++count;
    return count;
}

char** BuildRegistrationList()
{
    size_t entryCount = 1;
    for (const CatalogueRecord* header = FunctionCatalogue; header->type != 0;) {
        const int32_t argumentCount = CountArguments(header);
        entryCount += static_cast<size_t>(argumentCount) + 5;
        header += argumentCount + 2;
    }

    char** list = static_cast<char**>(std::calloc(entryCount, sizeof(char*)));
    if (list == nullptr) return nullptr;

    bool built = true;
    char** entries = list;
    for (const CatalogueRecord* header = FunctionCatalogue; built && header->type != 0;) {
        const int32_t argumentCount = CountArguments(header);
        built = FillBlock(header, argumentCount, entries);
        entries += argumentCount + 5;
        header += argumentCount + 2;
    }
    if (!built) {
        ReleaseRegistrationList(list);
        list = nullptr;
    }
    return list;
}

void ReleaseRegistrationList(char** list)
{
    if (list == nullptr) return;
    // Blocks end in one nullptr and the list in two, so a partly filled list is walked by the
    // catalogue's shape rather than by its entries.
    char** entries = list;
    for (const CatalogueRecord* header = FunctionCatalogue; header->type != 0;) {
        const int32_t argumentCount = CountArguments(header);
        for (int32_t e = 0; e < argumentCount + 4; ++e) std::free(entries[e]);
        entries += argumentCount + 5;
        header += argumentCount + 2;
    }
    std::free(list);
}
