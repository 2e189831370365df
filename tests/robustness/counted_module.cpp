// counted_module.cpp - loading the counted module afresh, and the data sets the robustness tests share.
#include "tests/robustness/counted_module.h"

namespace quorin_test {

static std::string CountedModulePath()
{
    std::string path = quorin_host::DefaultModulePath();
    const std::string plain = "quorin64.so";
    return path.substr(0, path.size() - plain.size()) + "quorin64_counted.so";
}

void UnloadModule(SubstituteHost& host)
{
    host.Unload();
    AllocationCounter::ReleaseAbandoned();
}

void LoadFreshModule(SubstituteHost& host, bool open)
{
    UnloadModule(host);
    std::string error;
    ASSERT_TRUE(host.Load(CountedModulePath(), &error)) << error;
    host.faults = quorin_host::Faults{};
    host.sheet = quorin_host::Sheet{};
    host.ResetRecords();
    if (open) {
        ASSERT_EQ(host.Open(), 1);
        host.ResetRecords();
    }
}

bool SameValue(const Value& a, const Value& b)
{
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case Kind::Number: return std::memcmp(&a.number, &b.number, sizeof a.number) == 0;
    case Kind::Error: return a.error == b.error;
    case Kind::Text: return a.text == b.text;
    case Kind::Array:
        if (a.rows != b.rows || a.columns != b.columns || a.elements.size() != b.elements.size()) return false;
        for (size_t k = 0; k < a.elements.size(); ++k) {
            if (!SameValue(a.elements[k], b.elements[k])) return false;
        }
        return true;
    default: return true;
    }
}

Value Column(const std::vector<double>& numbers)
{
    std::vector<Value> elements;
    for (double v : numbers) elements.push_back(Value::Number(v));
    return Value::Array(static_cast<int32_t>(numbers.size()), 1, std::move(elements));
}

std::vector<double> PointsX(int32_t n)
{
    std::vector<double> x;
    for (int32_t i = 0; i < n; ++i) x.push_back(0.75 * i + 0.125 * (i % 3));
    return x;
}

std::vector<double> PointsY(int32_t n)
{
    std::vector<double> y;
    for (int32_t i = 0; i < n; ++i) y.push_back(2.385 + 0.5 * (i % 7) - 0.03125 * i);
    return y;
}

Value Table(int32_t R, int32_t C)
{
    std::vector<Value> elements;
    for (int32_t r = 0; r < R; ++r) {
        for (int32_t c = 0; c < C; ++c) {
            const double v = (r == 0) ? 10.0 * c : (c == 0) ? 1.5 * r : 0.25 * r * c + (r % 3);
            elements.push_back(Value::Number(v));
        }
    }
    return Value::Array(R, C, std::move(elements));
}

}  // namespace quorin_test
