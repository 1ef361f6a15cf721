#pragma once
// The PostScript calculator of type 4 PDF functions: the program text is
// tokenized and parsed once into a tree of instruction lists, then run on a
// typed operand stack for every evaluation. Nothing here reports an error:
// an operator short of operands works with the last values its registers
// took, so a broken program still yields numbers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum CalculatorItemType : std::int32_t {
    kCalculatorBoolean = 0,
    kCalculatorInteger = 1,
    kCalculatorReal = 2,
};

struct CalculatorItem {
    double realValue = 0.0;
    std::int32_t type = kCalculatorReal;
    std::int64_t integerValue = 0;
    std::uint8_t booleanValue = 0;
};

// The stack holds at most kCalculatorStackLimit items: pushes beyond it are
// dropped, so `copy` cannot double the stack without end.
inline constexpr std::size_t kCalculatorStackReserve = 100;
inline constexpr std::size_t kCalculatorStackLimit = 1000;

struct CalculatorStack {
    std::vector<CalculatorItem> items;
    // Index of the top item, -1 when empty.
    std::int64_t top() const { return static_cast<std::int64_t>(items.size()) - 1; }
};

enum CalculatorInstructionKind : std::int32_t {
    kCalculatorIntegerInstruction = 1,
    kCalculatorRealInstruction = 2,
    kCalculatorOperatorInstruction = 3,
};

struct CalculatorInstruction;
using CalculatorInstructionList = std::vector<CalculatorInstruction>;

struct CalculatorInstruction {
    double realValue = 0.0;
    std::int64_t integerValue = 0;
    CalculatorInstructionList ifBlock;
    CalculatorInstructionList elseBlock;
    std::int32_t kind = kCalculatorIntegerInstruction;
    std::int32_t operatorId = -1;
};

struct CalculatorReader {
    const std::uint8_t* text = nullptr;
    std::size_t position = 0;
    std::size_t length = 0;
};

struct CalculatorProgram {
    CalculatorReader reader;
    CalculatorInstructionList instructions;
};

enum CalculatorTokenKind : std::int32_t {
    kCalculatorEnd = 0,
    kCalculatorIntegerToken = 1,
    kCalculatorRealToken = 2,
    kCalculatorOperatorToken = 3,
    kCalculatorOpenBrace = 4,
    kCalculatorCloseBrace = 5,
};

struct CalculatorToken {
    std::int32_t kind = kCalculatorEnd;
    std::int64_t integerValue = 0;
    double realValue = 0.0;
    std::int32_t operatorId = -1;
};

// Operator ids: positions in the alphabetical table "abs" (0) ... "xor" (41).
inline constexpr std::int32_t kCalculatorOperatorCount = 42;
// Blocks nested deeper than this empty the whole program: the tree and its
// evaluation stay bounded.
inline constexpr int kCalculatorNestingLimit = 64;

// The text is borrowed: it must outlive the parse.
void InitCalculatorReader(CalculatorProgram* program, const std::uint8_t* text, std::size_t length);
void ParseCalculatorProgram(CalculatorProgram* program);
std::int32_t NextCalculatorToken(CalculatorProgram* program, CalculatorToken* token);
// False when the block nests too deep; the list is then empty.
bool ParseCalculatorBlock(CalculatorProgram* program, CalculatorInstructionList* list, int depth = 1);
std::int32_t LookupCalculatorOperator(std::string_view name);
const char* GetCalculatorOperatorName(std::int32_t id);

int RunCalculatorProgram(const CalculatorProgram* program, CalculatorStack* stack);
int ExecuteCalculatorInstructions(const CalculatorProgram* program, CalculatorStack* stack,
                                  const CalculatorInstructionList& list);

// --- Stack ----------------------------------------------------------------------

void InitCalculatorStack(CalculatorStack* stack);
void ClearCalculatorStack(CalculatorStack* stack);
void PushCalculatorReal(CalculatorStack* stack, double value);
void PushCalculatorInteger(CalculatorStack* stack, std::int64_t value);
void PushCalculatorBoolean(CalculatorStack* stack, bool value);
// The top number as a double, removed. False (and nothing changes) when the
// top is no number.
bool PopNumber(CalculatorStack* stack, double* value);
bool PopCalculatorInteger(CalculatorStack* stack, std::int64_t* value);
bool PopCalculatorBoolean(CalculatorStack* stack, bool* value);
void DropCalculatorTop(CalculatorStack* stack);
void CopyTopItems(CalculatorStack* stack, std::int64_t n);
void IndexItem(CalculatorStack* stack, std::int64_t n);
void RollItems(CalculatorStack* stack, std::int64_t n, std::int64_t j);
void ReverseCalculatorStack(CalculatorStack* stack);

bool CalculatorTopIsInteger(const CalculatorStack* stack);
bool CalculatorTopIsReal(const CalculatorStack* stack);
bool CalculatorTopIsBoolean(const CalculatorStack* stack);
bool CalculatorTopTwoAreIntegers(const CalculatorStack* stack);
bool CalculatorTopTwoAreNumbers(const CalculatorStack* stack);
bool CalculatorTopIsOneOf(const CalculatorStack* stack, std::int32_t first, std::int32_t second);
bool CalculatorStackIsEmpty(const CalculatorStack* stack);
bool CalculatorDepthBelow(const CalculatorStack* stack, std::int64_t n);
