// functions.h - the eleven worksheet functions, a generator's sequence and the catalogue, bound into the
// extension for the Python face.
#pragma once

#include <pybind11/pybind11.h>

namespace quorin_python {

void BindFunctions(pybind11::module_& m);

}  // namespace quorin_python
