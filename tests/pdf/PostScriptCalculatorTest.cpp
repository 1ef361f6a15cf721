#include "pdf/PostScriptCalculator.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace {

using Value = std::variant<bool, std::int64_t, double>;

CalculatorProgram Parse(const std::string& text) {
    CalculatorProgram program;
    InitCalculatorReader(&program, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    ParseCalculatorProgram(&program);
    return program;
}

// Runs `text` on the inputs (pushed as reals) and returns the stack, bottom first.
std::vector<Value> RunProgram(const std::string& text, const std::vector<double>& inputs = {}) {
    const CalculatorProgram program = Parse(text);
    CalculatorStack stack;
    InitCalculatorStack(&stack);
    for (double x : inputs) {
        PushCalculatorReal(&stack, x);
    }
    RunCalculatorProgram(&program, &stack);
    std::vector<Value> out;
    for (const CalculatorItem& item : stack.items) {
        switch (item.type) {
        case kCalculatorBoolean: out.emplace_back(item.booleanValue != 0); break;
        case kCalculatorInteger: out.emplace_back(item.integerValue); break;
        default: out.emplace_back(item.realValue); break;
        }
    }
    return out;
}

Value I(std::int64_t v) { return Value(v); }
Value R(double v) { return Value(v); }
Value B(bool v) { return Value(v); }

struct Case {
    const char* program;
    std::vector<double> inputs;
    std::vector<Value> expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.program; }

class CalculatorCases : public testing::TestWithParam<Case> {};

TEST_P(CalculatorCases, LeavesTheExpectedStack) {
    const Case& c = GetParam();
    const std::vector<Value> got = RunProgram(c.program, c.inputs);
    ASSERT_EQ(got.size(), c.expected.size()) << c.program;
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].index(), c.expected[i].index()) << c.program << " item " << i;
        if (const double* d = std::get_if<double>(&got[i])) {
            EXPECT_NEAR(*d, std::get<double>(c.expected[i]), 1e-6) << c.program << " item " << i;
        } else {
            EXPECT_EQ(got[i], c.expected[i]) << c.program << " item " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, CalculatorCases,
    testing::Values(Case{"{ 2 3 add }", {}, {I(5)}}, Case{"{ 2 3.0 add }", {}, {R(5.0)}},
                    Case{"{ 7 2 idiv }", {}, {I(3)}}, Case{"{ -7 2 mod }", {}, {I(-1)}},
                    Case{"{ 7 0 idiv }", {}, {I(0)}}, Case{"{ 7 0 mod }", {}, {I(0)}},
                    Case{"{ -9223372036854775808 -1 idiv }", {}, {I(INT64_MIN)}},
                    Case{"{ 1 -1 bitshift }", {}, {I(0)}}, Case{"{ 1 3 bitshift }", {}, {I(8)}},
                    Case{"{ 1 200 bitshift -200 bitshift }", {}, {I(0)}},
                    Case{"{ 0.5 1 index }", {0.3}, {R(0.3), R(0.5), R(0.3)}},
                    Case{"{ 2.5 round }", {}, {R(3.0)}}, Case{"{ -2.5 round }", {}, {R(-3.0)}},
                    Case{"{ 3 round }", {}, {R(3.0)}}, Case{"{ 3 floor }", {}, {I(3)}},
                    Case{"{ add }", {0.25}, {R(0.25)}}, Case{"{ 45 sin }", {}, {R(0.70710678)}},
                    Case{"{ 1 1 atan }", {}, {R(45.0)}}, Case{"{ -5 abs 2.5 neg }", {}, {I(5), R(-2.5)}},
                    Case{"{ 100000000000000000000.0 cvi 3.7 cvi -3.7 cvi }", {}, {I(INT64_MAX), I(3), I(-3)}},
                    Case{"{ 9223372036854775807 1 add }", {}, {I(INT64_MIN)}},
                    Case{"{ 2 sqrt 100 log 1 ln }", {}, {R(1.41421356), R(2.0), R(0.0)}},
                    Case{"{ 2 10 exp 1 2 div }", {}, {R(1024.0), R(0.5)}}));

INSTANTIATE_TEST_SUITE_P(
    StackAndLogic, CalculatorCases,
    testing::Values(Case{"{ 1 2 3 3 1 roll }", {}, {I(3), I(1), I(2)}},
                    Case{"{ 1 2 3 3 -1 roll }", {}, {I(2), I(3), I(1)}},
                    // j is taken modulo n, so a huge count costs nothing.
                    Case{"{ 1 2 3 3 1000000000000 roll }", {}, {I(3), I(1), I(2)}},
                    Case{"{ 1 2 exch }", {}, {I(2), I(1)}}, Case{"{ 1 2 2 copy }", {}, {I(1), I(2), I(1), I(2)}},
                    Case{"{ 1 dup pop pop pop }", {}, {}}, Case{"{ 1 2 5 index }", {}, {I(1), I(2)}},
                    Case{"{ true false and true false or true true xor }", {}, {B(false), B(true), B(false)}},
                    Case{"{ 12 10 and 12 10 or 12 10 xor }", {}, {I(8), I(14), I(6)}},
                    Case{"{ true not 0 not }", {}, {B(false), I(-1)}},
                    Case{"{ 1 1.0 eq 1 2 ne 2 1 gt 1 2 ge 1.5 2 lt 2 2 le }", {},
                         {B(true), B(true), B(true), B(false), B(true), B(true)}},
                    Case{"{ 1 2 gt { 10 } { 20 } ifelse }", {}, {I(20)}},
                    Case{"{ true { 5 } if }", {}, {I(5)}}, Case{"{ { 5 } 3 }", {}, {}},
                    Case{"{ { 1 } { 2 } 3 }", {}, {}}, Case{"{ 1 bogus 2 }", {}, {I(1), I(2)}},
                    Case{"5 { 1 }", {}, {}}));

// Every whitespace byte separates tokens and stray bytes are passed over.
INSTANTIATE_TEST_SUITE_P(
    Tokens, CalculatorCases,
    testing::Values(Case{"{\t2\t3\tadd\t}", {}, {I(5)}}, Case{"{ 2 +3 add }", {}, {I(5)}},
                    Case{"{ 1 % 2 }", {}, {I(1), I(2)}}, Case{"{ 2 3 add", {}, {I(5)}},
                    Case{"{ 99999999999999999999999 }", {}, {I(INT64_MAX)}},
                    Case{"{ 1.5.5 -.5 }", {}, {R(1.5), R(-0.5)}}));

TEST(Calculator, DeepNestingEmptiesTheProgram) {
    std::string text = "{ ";
    for (int i = 0; i < 100; ++i) {
        text += "true { ";
    }
    text += "1 ";
    for (int i = 0; i < 100; ++i) {
        text += "} if ";
    }
    text += "}";
    EXPECT_TRUE(Parse(text).instructions.empty());
    std::string shallow = "{ true { true { 7 } if } if }";
    EXPECT_EQ(RunProgram(shallow), std::vector<Value>{I(7)});
}

TEST(Calculator, StackGrowthIsBounded) {
    std::string text = "{ 1 ";
    for (int i = 0; i < 64; ++i) {
        text += "count dup copy ";  // "count" is unknown: copy takes the stale register
    }
    text += "}";
    EXPECT_LE(RunProgram(text).size(), kCalculatorStackLimit);
    std::string doubling = "{ 1 1 copy 2 copy 4 copy 8 copy 16 copy 32 copy 64 copy 128 copy 256 copy 512 copy "
                           "1024 copy 2048 copy }";
    EXPECT_LE(RunProgram(doubling).size(), kCalculatorStackLimit);
}

TEST(Calculator, OperatorTableIsSorted) {
    for (std::int32_t id = 0; id < kCalculatorOperatorCount; ++id) {
        EXPECT_EQ(LookupCalculatorOperator(GetCalculatorOperatorName(id)), id);
    }
    EXPECT_EQ(LookupCalculatorOperator("abs"), 0);
    EXPECT_EQ(LookupCalculatorOperator("xor"), 41);
    EXPECT_EQ(LookupCalculatorOperator("roll"), 34);
    EXPECT_EQ(LookupCalculatorOperator("nope"), -1);
}

}  // namespace
