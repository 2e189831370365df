// functions.h - the eleven worksheet functions and the Generator, bound into the Python module.
#pragma once

#include <initializer_list>
#include <string>

#include <pybind11/pybind11.h>

namespace quorin_python {

// A docstring from the catalogue: the function's help, then each argument under its Python name with
// the help the worksheet shows for it, then what the Python function answers.
std::string CatalogueDoc(const char* name, std::initializer_list<const char*> pythonNames, const std::string& returns);

void BindFunctions(pybind11::module_& m);

}  // namespace quorin_python
