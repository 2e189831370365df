// workers_test.cpp - the pool's hosts each call a module of their own, and never more than it keeps.
#include <set>

#include "engine/workers.h"
#include "tests/module_fixture.h"

namespace quorin_test {
namespace {

class WorkersTest : public ModuleTest {};

TEST_F(WorkersTest, EachHostCallsACopyWithStaticsOfItsOwn)
{
    quorin_host::Workers workers(host, 3);
    const quorin_host::HostLease ordered = workers.Take();
    const quorin_host::HostLease helpers = workers.TakeFree(5);
    ASSERT_EQ(helpers.hosts.size(), 2u) << "as many hosts as the pool keeps, the first among them";
    EXPECT_TRUE(workers.TakeFree(1).hosts.empty()) << "a host lent twice";
    // The module answers every call in one static record: three records, three copies. A copy that
    // the system handed back as the module already loaded would answer in the first's.
    std::set<const XLOPER*> records;
    std::set<uint64_t> answers;
    for (quorin_host::SubstituteHost* h : {ordered.hosts[0], helpers.hosts[0], helpers.hosts[1]}) {
        h->ResetRecords();
        std::string error;
        answers.insert(Bits(h->Call("CountBetween", {Column({0.5, 1.5, 2.5}), Value::Number(1), Value::Number(3)}, &error).number));
        EXPECT_TRUE(error.empty()) << error;
        records.insert(h->lastAnswer);
        // Each copy's callbacks reach its own host, not the process's or the last one bound.
        EXPECT_EQ(h->callbackCounts[xlCoerce], 1) << "the coercion of the range went to another host";
    }
    EXPECT_EQ(records.size(), 3u);
    EXPECT_EQ(answers.size(), 1u) << "a copy that answers otherwise than the module";
}

TEST_F(WorkersTest, HostsGivenBackAreLentAgain)
{
    quorin_host::Workers workers(host, 2);
    { const quorin_host::HostLease all = workers.TakeFree(2); }
    EXPECT_EQ(workers.TakeFree(2).hosts.size(), 2u) << "a lease that kept its hosts when it ended";
}

}  // namespace
}  // namespace quorin_test
