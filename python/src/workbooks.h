// workbooks.h - evaluate, check and recalc for Python: the workbook engine over the substitute host,
// which loads the native module shipped beside this extension, as quorin-host does.
#pragma once

#include <pybind11/pybind11.h>

namespace quorin_python {

void BindWorkbooks(pybind11::module_& m);

}  // namespace quorin_python
