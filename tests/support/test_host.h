// test_host.h - the host a test process loads the module into once, shared by its tests, and answering
// the callbacks of the add-in's routines that tests call directly.
#pragma once

#include "host/substitute_host.h"

namespace quorin_test {

quorin_host::SubstituteHost& TestHost();

}  // namespace quorin_test
