// test_host.cpp - the test process's one host, made on first use.
#include "tests/support/test_host.h"

namespace quorin_test {

quorin_host::SubstituteHost& TestHost()
{
    static quorin_host::SubstituteHost* host = [] {
        // Never destroyed: tests that end the process while the module is loaded leave it loaded.
        auto* made = new quorin_host::SubstituteHost;
        made->AnswerUnboundThreads();
        return made;
    }();
    return *host;
}

}  // namespace quorin_test
