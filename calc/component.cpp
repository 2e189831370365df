// component.cpp - the Calc add-in component: the function wizard's texts from the catalogue, and each
// function converting Calc's values for the rules and the rules' answer back. Nothing thrown here
// leaves a method: Calc would turn it into an error at best and end the office at worst.
#include <cstring>
#include <mutex>

#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/lang/XServiceName.hpp>
#include <com/sun/star/sheet/LocalizedName.hpp>
#include <com/sun/star/sheet/XAddIn.hpp>
#include <com/sun/star/sheet/XCompatibilityNames.hpp>
#include <cppuhelper/factory.hxx>
#include <cppuhelper/implbase5.hxx>
#include <cppuhelper/implementationentry.hxx>
#include <cppuhelper/supportsservice.hxx>
#include <org/quorin/calc/XQuorin.hpp>

#include "addin/catalogue.h"
#include "calc/arguments.h"
#include "rules/functions.h"

namespace quorin_calc {

using com::sun::star::lang::Locale;
using com::sun::star::sheet::LocalizedName;
using com::sun::star::uno::Any;
using com::sun::star::uno::Reference;
using com::sun::star::uno::Sequence;
using com::sun::star::uno::XComponentContext;
using com::sun::star::uno::XInterface;
using rtl::OUString;

// Calc names every function of the service "_xll" as "_xll.NAME", which is how the Windows host saves
// an add-in's calls in .xlsx: such calls compute in Calc and are saved back unchanged.
constexpr char ServiceName[] = "_xll";
constexpr char AddInService[] = "com.sun.star.sheet.AddIn";
constexpr char ImplementationName[] = "org.quorin.calc.Quorin";
// One of Calc's own categories: it files a function under an unknown category as Add-In anyway.
constexpr char CategoryName[] = "Add-In";

// The rules' argument buffers and coefficient storage are static: one call at a time.
static std::mutex CallLock;

// The wizard's texts are built here; an office short of memory gets an empty text, not an exception.
static OUString Text(const char* text)
{
    try {
        return OUString(text, static_cast<sal_Int32>(std::strlen(text)), RTL_TEXTENCODING_UTF8);
    } catch (...) {
        return OUString();
    }
}

// The catalogue block of the function named name (any case), or nullptr.
static const CatalogueRecord* FindFunction(const OUString& name)
{
    for (const CatalogueRecord* header = FunctionCatalogue; header->type != 0;) {
        if (name.equalsIgnoreAsciiCaseAscii(header->name)) return header;
        int32_t count = 0;
        while (header[1 + count].type != 0) ++count;
        header += count + 2;
    }
    return nullptr;
}

// The record of argument index of the function named name, or nullptr.
static const CatalogueRecord* FindArgument(const OUString& name, sal_Int32 index)
{
    const CatalogueRecord* header = FindFunction(name);
    if (header == nullptr || index < 0) return nullptr;
    for (sal_Int32 a = 0; a <= index; ++a) {
        if (header[1 + a].type == 0) return nullptr;
    }
    return &header[1 + index];
}

// Called once the status is known: the answer is read after the rules wrote it, never alongside the call.
static double NumberOrFailure(int32_t status, double answer)
{
    return (status != 0) ? ErrorValue(FailureErrorCode) : answer;
}

// An array answer of one row, which Calc spreads over the array formula's cells.
static Row OneRow(const double* values, int32_t n)
{
    const Sequence<double> row(values, n);
    return Row(&row, 1);
}

// A one-cell array holding the error code: Calc shows it in every cell of the array formula.
static Row ErrorRow(uint32_t code)
{
    const double error = ErrorValue(code);
    return OneRow(&error, 1);
}

// The functions of ranges and one point x: the point is converted first, as the host refuses a call
// whose scalar it cannot convert before the add-in sees it.
typedef int32_t PointRule(const RangeArguments& ranges, double x, double* answer);
static double AnswerAtPoint(PointRule* rule, CallTables* call, const Any& x)
{
    try {
        double at = 0.0;
        uint32_t error = 0;
        if (!ReadNumber(x, &at, &error)) return ErrorValue(error);
        double answer = 0.0;
        const std::lock_guard<std::mutex> hold(CallLock);
        const int32_t status = rule(TableArguments(call), at, &answer);
        return NumberOrFailure(status, answer);
    } catch (...) {
        return ErrorValue(FailureErrorCode);
    }
}

static Row RowOrFailure(int32_t status, const double* coefficients, int32_t terms)
{
    return (status != 0) ? ErrorRow(FailureErrorCode) : OneRow(coefficients, terms);
}

class QuorinAddIn : public cppu::WeakImplHelper5<org::quorin::calc::XQuorin, com::sun::star::sheet::XAddIn,
                                                 com::sun::star::sheet::XCompatibilityNames,
                                                 com::sun::star::lang::XServiceName, com::sun::star::lang::XServiceInfo> {
public:
    // The worksheet functions. Each converts its scalars first: a refused scalar is the host's error
    // and no range is read, as the host refuses such a call before the add-in sees it.
    double SAL_CALL StudentT(const Any& DOF) override
    {
        try {
            int32_t dof = 0;
            uint32_t error = 0;
            if (!ReadInteger(DOF, &dof, &error)) return ErrorValue(error);
            return AnswerStudentT(dof);
        } catch (...) {
            return ErrorValue(FailureErrorCode);
        }
    }

    double SAL_CALL CountBetween(const Table& Xvalues, const Any& Xlow, const Any& Xhigh) override
    {
        try {
            double low = 0.0, high = 0.0;
            uint32_t error = 0;
            if (!ReadNumber(Xlow, &low, &error) || !ReadNumber(Xhigh, &high, &error)) return ErrorValue(error);
            CallTables call = {{&Xvalues}};
            double answer = 0.0;
            const std::lock_guard<std::mutex> hold(CallLock);
            const int32_t status = AnswerCountBetween(TableArguments(&call), low, high, &answer);
            return NumberOrFailure(status, answer);
        } catch (...) {
            return ErrorValue(FailureErrorCode);
        }
    }

    double SAL_CALL RandNorm() override
    {
        return AnswerRandNorm();
    }

    double SAL_CALL RandDist(const Any& Avg, const Any& Stdev) override
    {
        try {
            double average = 0.0, deviation = 0.0;
            uint32_t error = 0;
            if (!ReadNumber(Avg, &average, &error) || !ReadNumber(Stdev, &deviation, &error)) return ErrorValue(error);
            return AnswerRandDist(average, deviation);
        } catch (...) {
            return ErrorValue(FailureErrorCode);
        }
    }

    double SAL_CALL Interp1(const Table& xValues, const Table& yValues, const Any& x, const Any& extrapolate) override
    {
        try {
            double at = 0.0;
            int32_t extend = 0;
            uint32_t error = 0;
            if (!ReadNumber(x, &at, &error) || !ReadInteger(extrapolate, &extend, &error)) return ErrorValue(error);
            CallTables call = {{&xValues, &yValues}};
            double answer = 0.0;
            const std::lock_guard<std::mutex> hold(CallLock);
            const int32_t status = AnswerInterp1(TableArguments(&call), at, extend, &answer);
            return NumberOrFailure(status, answer);
        } catch (...) {
            return ErrorValue(FailureErrorCode);
        }
    }

    double SAL_CALL Interp2(const Table& Ztable, const Any& X, const Any& Y, const Any& extrapolate) override
    {
        try {
            double atX = 0.0, atY = 0.0;
            int32_t extend = 0;
            uint32_t error = 0;
            if (!ReadNumber(X, &atX, &error) || !ReadNumber(Y, &atY, &error) || !ReadInteger(extrapolate, &extend, &error)) {
                return ErrorValue(error);
            }
            CallTables call = {{&Ztable}};
            double answer = 0.0;
            const std::lock_guard<std::mutex> hold(CallLock);
            const int32_t status = AnswerInterp2(TableArguments(&call), atX, atY, extend, &answer);
            return NumberOrFailure(status, answer);
        } catch (...) {
            return ErrorValue(FailureErrorCode);
        }
    }

    double SAL_CALL Lagrange(const Table& xValues, const Table& yValues, const Any& x) override
    {
        CallTables call = {{&xValues, &yValues}};
        return AnswerAtPoint(AnswerLagrange, &call, x);
    }

    double SAL_CALL Spline(const Table& xValues, const Table& yValues, const Any& x) override
    {
        CallTables call = {{&xValues, &yValues}};
        return AnswerAtPoint(AnswerSpline, &call, x);
    }

    double SAL_CALL Polynomial(const Table& C, const Any& x) override
    {
        CallTables call = {{&C}};
        return AnswerAtPoint(AnswerPolynomial, &call, x);
    }

    Row SAL_CALL LLSQ(const Table& xValues, const Table& yValues, const Any& terms) override
    {
        try {
            int32_t m = 0;
            uint32_t error = 0;
            if (!ReadInteger(terms, &m, &error)) return ErrorRow(error);
            CallTables call = {{&xValues, &yValues}};
            double coefficients[MaxTerms] = {};
            const std::lock_guard<std::mutex> hold(CallLock);
            return RowOrFailure(AnswerLLSQ(TableArguments(&call), m, coefficients), coefficients, m);
        } catch (...) {
            return ErrorRow(FailureErrorCode);
        }
    }

    Row SAL_CALL LLSQLC(const Table& xValues, const Table& yValues, const Any& terms, const Table& xConstraints,
                        const Table& yConstraints) override
    {
        try {
            int32_t m = 0;
            uint32_t error = 0;
            if (!ReadInteger(terms, &m, &error)) return ErrorRow(error);
            CallTables call = {{&xValues, &yValues, &xConstraints, &yConstraints}};
            double coefficients[MaxTerms] = {};
            const std::lock_guard<std::mutex> hold(CallLock);
            return RowOrFailure(AnswerLLSQLC(TableArguments(&call), m, coefficients), coefficients, m);
        } catch (...) {
            return ErrorRow(FailureErrorCode);
        }
    }

    // The function wizard's texts, as the add-in registers them.
    OUString SAL_CALL getProgrammaticFuntionName(const OUString& displayName) override
    {
        const CatalogueRecord* header = FindFunction(displayName);
        return (header != nullptr) ? Text(header->name) : OUString();
    }
    OUString SAL_CALL getDisplayFunctionName(const OUString& name) override
    {
        return getProgrammaticFuntionName(name);
    }
    OUString SAL_CALL getFunctionDescription(const OUString& name) override
    {
        const CatalogueRecord* header = FindFunction(name);
        return (header != nullptr) ? Text(header->help) : OUString();
    }
    OUString SAL_CALL getDisplayArgumentName(const OUString& name, sal_Int32 argument) override
    {
        const CatalogueRecord* record = FindArgument(name, argument);
        return (record != nullptr) ? Text(record->name) : OUString();
    }
    OUString SAL_CALL getArgumentDescription(const OUString& name, sal_Int32 argument) override
    {
        const CatalogueRecord* record = FindArgument(name, argument);
        return (record != nullptr) ? Text(record->help) : OUString();
    }
    OUString SAL_CALL getProgrammaticCategoryName(const OUString&) override
    {
        return Text(CategoryName);
    }
    // The add-in's own category, its title, for whatever Calc shows beside its fixed ones.
    OUString SAL_CALL getDisplayCategoryName(const OUString&) override
    {
        try {
            return OUString(AddInTitle + 1, static_cast<unsigned char>(AddInTitle[0]), RTL_TEXTENCODING_UTF8);
        } catch (...) {
            return OUString();
        }
    }

    // No other names: Calc would write a compatibility name into .xlsx in place of "_xll.NAME".
    Sequence<LocalizedName> SAL_CALL getCompatibilityNames(const OUString&) override
    {
        return Sequence<LocalizedName>();
    }

    void SAL_CALL setLocale(const Locale& locale) override
    {
        locale_ = locale;
    }
    Locale SAL_CALL getLocale() override
    {
        return locale_;
    }

    OUString SAL_CALL getServiceName() override
    {
        return Text(ServiceName);
    }
    OUString SAL_CALL getImplementationName() override
    {
        return Text(ImplementationName);
    }
    sal_Bool SAL_CALL supportsService(const OUString& name) override
    {
        return cppu::supportsService(this, name);
    }
    Sequence<OUString> SAL_CALL getSupportedServiceNames() override
    {
        return SupportedServices();
    }

    static Sequence<OUString> SupportedServices()
    {
        const OUString names[] = {Text(ServiceName), Text(AddInService)};
        return Sequence<OUString>(names, 2);
    }

private:
    Locale locale_;
};

static Reference<XInterface> SAL_CALL CreateAddIn(const Reference<XComponentContext>&)
{
    return static_cast<cppu::OWeakObject*>(new QuorinAddIn);
}

static OUString SAL_CALL AddInImplementationName()
{
    return Text(ImplementationName);
}

static const cppu::ImplementationEntry Implementations[] = {
    {CreateAddIn, AddInImplementationName, QuorinAddIn::SupportedServices, cppu::createSingleComponentFactory,
     nullptr, 0},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0},
};

}  // namespace quorin_calc

extern "C" SAL_DLLPUBLIC_EXPORT void* SAL_CALL component_getFactory(const char* implementation, void* serviceManager,
                                                                    void* registryKey)
{
    return cppu::component_getFactoryHelper(implementation, serviceManager, registryKey,
                                            quorin_calc::Implementations);
}
