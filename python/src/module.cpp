// module.cpp - the extension quorin._quorin: QuorinError, the functions, the workbook commands.
#include <pybind11/pybind11.h>

#include "functions.h"
#include "values.h"
#include "workbooks.h"

PYBIND11_MODULE(_quorin, m)
{
    using namespace quorin_python;
    QuorinError = PyErr_NewExceptionWithDoc("quorin.QuorinError",
                                            "A worksheet function's failure: the function and the rule it broke.",
                                            PyExc_ValueError, nullptr);
    if (QuorinError == nullptr) throw pybind11::error_already_set();
    m.attr("QuorinError") = pybind11::handle(QuorinError);
    BindFunctions(m);
    BindWorkbooks(m);
}
