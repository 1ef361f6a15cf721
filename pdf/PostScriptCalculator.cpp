#include "pdf/PostScriptCalculator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr std::array<const char*, kCalculatorOperatorCount> kOperatorNames = {
    "abs",   "add",  "and",   "atan", "bitshift", "ceiling", "copy", "cos",   "cvi",   "cvr",      "div",
    "dup",   "eq",   "exch",  "exp",  "false",    "floor",   "ge",   "gt",    "idiv",  "if",       "ifelse",
    "index", "le",   "ln",    "log",  "lt",       "mod",     "mul",  "ne",    "neg",   "not",      "or",
    "pop",   "roll", "round", "sin",  "sqrt",     "sub",     "true", "truncate", "xor"};

enum Op : std::int32_t {
    kAbs, kAdd, kAnd, kAtan, kBitshift, kCeiling, kCopy, kCos, kCvi, kCvr, kDiv,
    kDup, kEq, kExch, kExp, kFalse, kFloor, kGe, kGt, kIdiv, kIf, kIfelse,
    kIndex, kLe, kLn, kLog, kLt, kMod, kMul, kNe, kNeg, kNot, kOr,
    kPop, kRoll, kRound, kSin, kSqrt, kSub, kTrue, kTruncate, kXor,
};

constexpr double kDegreesPerRadian = 57.2957795;
constexpr std::size_t kMaxTokenLength = 99;

bool IsLetter(std::uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsNumberByte(std::uint8_t c) { return (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// Integers wrap as 64-bit two's complement values.
std::int64_t Wrap(std::uint64_t v) { return static_cast<std::int64_t>(v); }

// A real to an integer, truncated toward zero and held inside the 64-bit range.
std::int64_t TruncateToInteger(double x) {
    if (std::isnan(x)) {
        return 0;
    }
    constexpr double kLimit = 9.2233720368547748e18;
    if (x >= kLimit) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (x <= -kLimit) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(x);
}

void Push(CalculatorStack* stack, const CalculatorItem& item) {
    if (stack->items.size() < kCalculatorStackLimit) {
        stack->items.push_back(item);
    }
}

const CalculatorItem* Top(const CalculatorStack* stack, std::size_t below = 0) {
    if (stack->items.size() <= below) {
        return nullptr;
    }
    return &stack->items[stack->items.size() - 1 - below];
}

// The operand registers of one run: an operator short of operands works with
// what they last held.
struct Registers {
    std::int64_t intA = 0;
    std::int64_t intB = 0;
    double realA = 0.0;
    double realB = 0.0;
    bool r1 = false;
    bool r2 = false;
};

void TakeInteger(CalculatorStack* stack, std::int64_t* reg) {
    if (CalculatorTopIsInteger(stack)) {
        PopCalculatorInteger(stack, reg);
    }
}
void TakeReal(CalculatorStack* stack, double* reg) { PopNumber(stack, reg); }
void TakeBoolean(CalculatorStack* stack, bool* reg) {
    if (CalculatorTopIsBoolean(stack)) {
        PopCalculatorBoolean(stack, reg);
    }
}

// True when both operands were taken as integers (b the top, a beneath).
bool TakeIntegerPair(CalculatorStack* stack, Registers& r) {
    if (!CalculatorTopTwoAreIntegers(stack)) {
        return false;
    }
    PopCalculatorInteger(stack, &r.intB);
    PopCalculatorInteger(stack, &r.intA);
    return true;
}
void TakeRealPair(CalculatorStack* stack, Registers& r) {
    TakeReal(stack, &r.realB);
    TakeReal(stack, &r.realA);
}

int Execute(const CalculatorProgram* program, CalculatorStack* stack, const CalculatorInstructionList& list,
            int depth);

void RunOperator(const CalculatorProgram* program, CalculatorStack* stack, const CalculatorInstruction& ins,
                 Registers& r, int depth) {
    switch (ins.operatorId) {
    case kAbs:
        if (CalculatorTopIsInteger(stack)) {
            std::int64_t n = 0;
            PopCalculatorInteger(stack, &n);
            const auto low = static_cast<std::int64_t>(static_cast<std::int32_t>(n));
            PushCalculatorInteger(stack, low < 0 ? -low : low);
        } else {
            TakeReal(stack, &r.realA);
            PushCalculatorReal(stack, std::fabs(r.realA));
        }
        break;
    case kAdd:
    case kSub:
    case kMul:
        if (TakeIntegerPair(stack, r)) {
            const auto a = static_cast<std::uint64_t>(r.intA);
            const auto b = static_cast<std::uint64_t>(r.intB);
            PushCalculatorInteger(stack, Wrap(ins.operatorId == kAdd ? a + b : ins.operatorId == kSub ? a - b : a * b));
        } else {
            TakeRealPair(stack, r);
            PushCalculatorReal(stack, ins.operatorId == kAdd   ? r.realA + r.realB
                                      : ins.operatorId == kSub ? r.realA - r.realB
                                                               : r.realA * r.realB);
        }
        break;
    case kDiv:
        TakeRealPair(stack, r);
        PushCalculatorReal(stack, r.realA / r.realB);
        break;
    case kIdiv:
    case kMod: {
        TakeInteger(stack, &r.intB);
        TakeInteger(stack, &r.intA);
        std::int64_t result = 0;  // a zero divisor gives 0, and the program goes on
        if (r.intB == -1) {
            result = ins.operatorId == kIdiv ? Wrap(0 - static_cast<std::uint64_t>(r.intA)) : 0;
        } else if (r.intB != 0) {
            result = ins.operatorId == kIdiv ? r.intA / r.intB : r.intA % r.intB;
        }
        PushCalculatorInteger(stack, result);
        break;
    }
    case kExp:
        TakeRealPair(stack, r);
        PushCalculatorReal(stack, std::pow(r.realA, r.realB));
        break;
    case kAtan:
        TakeRealPair(stack, r);
        PushCalculatorReal(stack, std::atan2(r.realA, r.realB) * kDegreesPerRadian);
        break;
    case kSin:
    case kCos:
        TakeReal(stack, &r.realA);
        PushCalculatorReal(stack, ins.operatorId == kSin ? std::sin(r.realA / kDegreesPerRadian)
                                                         : std::cos(r.realA / kDegreesPerRadian));
        break;
    case kSqrt:
    case kLn:
    case kLog:
        TakeReal(stack, &r.realA);
        PushCalculatorReal(stack, ins.operatorId == kSqrt ? std::sqrt(r.realA)
                                  : ins.operatorId == kLn ? std::log(r.realA)
                                                          : std::log10(r.realA));
        break;
    case kNeg:
        if (CalculatorTopIsInteger(stack)) {
            std::int64_t n = 0;
            PopCalculatorInteger(stack, &n);
            PushCalculatorInteger(stack, Wrap(0 - static_cast<std::uint64_t>(n)));
        } else {
            TakeReal(stack, &r.realA);
            PushCalculatorReal(stack, -r.realA);
        }
        break;
    case kCeiling:
    case kFloor:
        if (!CalculatorTopIsInteger(stack)) {
            TakeReal(stack, &r.realA);
            PushCalculatorReal(stack, ins.operatorId == kCeiling ? std::ceil(r.realA) : std::floor(r.realA));
        }
        break;
    case kRound:
        TakeReal(stack, &r.realA);
        PushCalculatorReal(stack, r.realA > 0 ? std::floor(r.realA + 0.5) : std::ceil(r.realA - 0.5));
        break;
    case kTruncate:
        TakeReal(stack, &r.realA);
        PushCalculatorReal(stack, r.realA > 0 ? std::floor(r.realA) : std::ceil(r.realA));
        break;
    case kCvi:
        if (!CalculatorTopIsInteger(stack)) {
            TakeReal(stack, &r.realA);
            PushCalculatorInteger(stack, TruncateToInteger(r.realA));
        }
        break;
    case kCvr:
        if (!CalculatorTopIsReal(stack)) {
            TakeReal(stack, &r.realA);
            PushCalculatorReal(stack, r.realA);
        }
        break;
    case kBitshift: {
        TakeInteger(stack, &r.intB);
        TakeInteger(stack, &r.intA);
        std::int64_t result = r.intA;
        if (r.intB > 0) {
            result = r.intB >= 64 ? 0 : Wrap(static_cast<std::uint64_t>(r.intA) << r.intB);
        } else if (r.intB < 0) {
            const auto low = static_cast<std::uint32_t>(r.intA);
            const std::uint32_t shifted = r.intB <= -32 ? 0 : low >> -r.intB;
            result = static_cast<std::int32_t>(shifted);
        }
        PushCalculatorInteger(stack, result);
        break;
    }
    case kAnd:
    case kOr:
    case kXor:
        if (TakeIntegerPair(stack, r)) {
            PushCalculatorInteger(stack, ins.operatorId == kAnd  ? (r.intA & r.intB)
                                         : ins.operatorId == kOr ? (r.intA | r.intB)
                                                                 : (r.intA ^ r.intB));
        } else {
            TakeBoolean(stack, &r.r1);
            TakeBoolean(stack, &r.r2);
            PushCalculatorBoolean(stack, ins.operatorId == kAnd  ? (r.r1 && r.r2)
                                         : ins.operatorId == kOr ? (r.r1 || r.r2)
                                                                 : (r.r1 != r.r2));
        }
        break;
    case kNot:
        if (CalculatorTopIsBoolean(stack)) {
            PopCalculatorBoolean(stack, &r.r2);
            PushCalculatorBoolean(stack, !r.r2);
        } else if (CalculatorTopIsInteger(stack)) {
            std::int64_t n = 0;
            PopCalculatorInteger(stack, &n);
            PushCalculatorInteger(stack, ~n);
        } else {
            PushCalculatorBoolean(stack, !r.r2);
        }
        break;
    case kEq:
    case kNe: {
        bool equal = false;
        if (TakeIntegerPair(stack, r)) {
            equal = r.intA == r.intB;
        } else if (CalculatorTopTwoAreNumbers(stack)) {
            TakeRealPair(stack, r);
            equal = r.realA == r.realB;
        } else {
            TakeBoolean(stack, &r.r1);
            TakeBoolean(stack, &r.r2);
            equal = r.r1 == r.r2;
        }
        PushCalculatorBoolean(stack, ins.operatorId == kEq ? equal : !equal);
        break;
    }
    case kGe:
    case kGt:
    case kLe:
    case kLt: {
        bool result = false;
        if (TakeIntegerPair(stack, r)) {
            result = ins.operatorId == kGe   ? r.intA >= r.intB
                     : ins.operatorId == kGt ? r.intA > r.intB
                     : ins.operatorId == kLe ? r.intA <= r.intB
                                             : r.intA < r.intB;
        } else {
            TakeRealPair(stack, r);
            result = ins.operatorId == kGe   ? r.realA >= r.realB
                     : ins.operatorId == kGt ? r.realA > r.realB
                     : ins.operatorId == kLe ? r.realA <= r.realB
                                             : r.realA < r.realB;
        }
        PushCalculatorBoolean(stack, result);
        break;
    }
    case kTrue:
    case kFalse:
        PushCalculatorBoolean(stack, ins.operatorId == kTrue);
        break;
    case kDup:
        CopyTopItems(stack, 1);
        break;
    case kExch:
        RollItems(stack, 2, 1);
        break;
    case kPop:
        DropCalculatorTop(stack);
        break;
    case kCopy:
        TakeInteger(stack, &r.intA);
        CopyTopItems(stack, r.intA);
        break;
    case kIndex:
        TakeInteger(stack, &r.intA);
        IndexItem(stack, r.intA);
        break;
    case kRoll:
        TakeInteger(stack, &r.intB);
        TakeInteger(stack, &r.intA);
        RollItems(stack, r.intA, r.intB);
        break;
    case kIf:
        TakeBoolean(stack, &r.r2);
        if (r.r2) {
            Execute(program, stack, ins.ifBlock, depth + 1);
        }
        break;
    case kIfelse:
        TakeBoolean(stack, &r.r2);
        Execute(program, stack, r.r2 ? ins.ifBlock : ins.elseBlock, depth + 1);
        break;
    default:
        break;
    }
}

int Execute(const CalculatorProgram* program, CalculatorStack* stack, const CalculatorInstructionList& list,
            int depth) {
    // The parser bounds the nesting already; this keeps a hand-built tree bounded too.
    if (depth > kCalculatorNestingLimit) {
        return 0;
    }
    Registers registers;
    for (const CalculatorInstruction& ins : list) {
        switch (ins.kind) {
        case kCalculatorIntegerInstruction:
            PushCalculatorInteger(stack, ins.integerValue);
            break;
        case kCalculatorRealInstruction:
            PushCalculatorReal(stack, ins.realValue);
            break;
        case kCalculatorOperatorInstruction:
            RunOperator(program, stack, ins, registers, depth);
            break;
        default:
            break;
        }
    }
    return 0;
}

CalculatorInstruction InstructionFromToken(const CalculatorToken& token) {
    CalculatorInstruction ins;
    ins.kind = token.kind;
    ins.integerValue = token.integerValue;
    ins.realValue = token.realValue;
    ins.operatorId = token.operatorId;
    return ins;
}

}  // namespace

void InitCalculatorReader(CalculatorProgram* program, const std::uint8_t* text, std::size_t length) {
    program->reader = CalculatorReader{text, 0, text ? length : 0};
}

std::int32_t LookupCalculatorOperator(std::string_view name) {
    const auto it = std::lower_bound(kOperatorNames.begin(), kOperatorNames.end(), name,
                                     [](const char* a, std::string_view b) { return std::string_view(a) < b; });
    if (it == kOperatorNames.end() || std::string_view(*it) != name) {
        return -1;
    }
    return static_cast<std::int32_t>(it - kOperatorNames.begin());
}

const char* GetCalculatorOperatorName(std::int32_t id) {
    return id >= 0 && id < kCalculatorOperatorCount ? kOperatorNames[static_cast<std::size_t>(id)] : nullptr;
}

std::int32_t NextCalculatorToken(CalculatorProgram* program, CalculatorToken* token) {
    CalculatorReader& in = program->reader;
    *token = CalculatorToken{};
    // Whitespace separates tokens; a byte that starts no token (such as "+"
    // or "%") is passed over, so the reader always moves on.
    while (in.position < in.length) {
        const std::uint8_t c = in.text[in.position];
        if (c == '{' || c == '}' || IsLetter(c) || IsNumberByte(c)) {
            break;
        }
        ++in.position;
    }
    if (in.position >= in.length) {
        return token->kind = kCalculatorEnd;
    }
    const std::uint8_t c = in.text[in.position];
    if (c == '{' || c == '}') {
        ++in.position;
        return token->kind = c == '{' ? kCalculatorOpenBrace : kCalculatorCloseBrace;
    }
    const std::size_t start = in.position;
    const bool letters = IsLetter(c);
    while (in.position < in.length && (letters ? IsLetter(in.text[in.position]) : IsNumberByte(in.text[in.position]))) {
        ++in.position;
    }
    const char* text = reinterpret_cast<const char*>(in.text + start);
    const std::size_t length = std::min(in.position - start, kMaxTokenLength);
    if (letters) {
        token->operatorId = LookupCalculatorOperator(std::string_view(text, length));
        return token->kind = kCalculatorOperatorToken;
    }
    if (std::memchr(text, '.', length) != nullptr) {
        double value = 0.0;
        std::from_chars(text, text + length, value);
        token->realValue = value;
        return token->kind = kCalculatorRealToken;
    }
    std::int64_t value = 0;
    const auto result = std::from_chars(text, text + length, value);
    if (result.ec == std::errc::result_out_of_range) {
        value = text[0] == '-' ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    }
    token->integerValue = value;
    return token->kind = kCalculatorIntegerToken;
}

bool ParseCalculatorBlock(CalculatorProgram* program, CalculatorInstructionList* list, int depth) {
    if (depth > kCalculatorNestingLimit) {
        list->clear();
        return false;
    }
    CalculatorToken token;
    for (;;) {
        switch (NextCalculatorToken(program, &token)) {
        case kCalculatorEnd:
        case kCalculatorCloseBrace:
            return true;
        case kCalculatorIntegerToken:
        case kCalculatorRealToken:
        case kCalculatorOperatorToken:
            list->push_back(InstructionFromToken(token));
            break;
        case kCalculatorOpenBrace: {
            CalculatorInstruction conditional;
            conditional.kind = kCalculatorOperatorInstruction;
            if (!ParseCalculatorBlock(program, &conditional.ifBlock, depth + 1)) {
                list->clear();
                return false;
            }
            const std::int32_t next = NextCalculatorToken(program, &token);
            if (next == kCalculatorOperatorToken && token.operatorId == kIf) {
                conditional.operatorId = kIf;
                list->push_back(std::move(conditional));
                break;
            }
            if (next == kCalculatorOpenBrace) {
                if (!ParseCalculatorBlock(program, &conditional.elseBlock, depth + 1)) {
                    list->clear();
                    return false;
                }
                if (NextCalculatorToken(program, &token) == kCalculatorOperatorToken && token.operatorId == kIfelse) {
                    conditional.operatorId = kIfelse;
                    list->push_back(std::move(conditional));
                    break;
                }
            }
            // A block not followed by its conditional operator empties this block.
            list->clear();
            return true;
        }
        default:
            return true;
        }
    }
}

void ParseCalculatorProgram(CalculatorProgram* program) {
    program->instructions.clear();
    CalculatorToken token;
    if (NextCalculatorToken(program, &token) == kCalculatorOpenBrace) {
        ParseCalculatorBlock(program, &program->instructions);
    }
}

int RunCalculatorProgram(const CalculatorProgram* program, CalculatorStack* stack) {
    return ExecuteCalculatorInstructions(program, stack, program->instructions);
}

int ExecuteCalculatorInstructions(const CalculatorProgram* program, CalculatorStack* stack,
                                  const CalculatorInstructionList& list) {
    return Execute(program, stack, list, 1);
}

// --- Stack ----------------------------------------------------------------------

void InitCalculatorStack(CalculatorStack* stack) {
    stack->items.clear();
    stack->items.reserve(kCalculatorStackReserve);
}

void ClearCalculatorStack(CalculatorStack* stack) { stack->items.clear(); }

void PushCalculatorReal(CalculatorStack* stack, double value) {
    CalculatorItem item;
    item.type = kCalculatorReal;
    item.realValue = value;
    Push(stack, item);
}

void PushCalculatorInteger(CalculatorStack* stack, std::int64_t value) {
    CalculatorItem item;
    item.type = kCalculatorInteger;
    item.integerValue = value;
    Push(stack, item);
}

void PushCalculatorBoolean(CalculatorStack* stack, bool value) {
    CalculatorItem item;
    item.type = kCalculatorBoolean;
    item.booleanValue = value ? 1 : 0;
    Push(stack, item);
}

bool PopNumber(CalculatorStack* stack, double* value) {
    const CalculatorItem* top = Top(stack);
    if (!top || top->type == kCalculatorBoolean) {
        return false;
    }
    *value = top->type == kCalculatorInteger ? static_cast<double>(top->integerValue) : top->realValue;
    stack->items.pop_back();
    return true;
}

bool PopCalculatorInteger(CalculatorStack* stack, std::int64_t* value) {
    if (!CalculatorTopIsInteger(stack)) {
        return false;
    }
    *value = stack->items.back().integerValue;
    stack->items.pop_back();
    return true;
}

bool PopCalculatorBoolean(CalculatorStack* stack, bool* value) {
    if (!CalculatorTopIsBoolean(stack)) {
        return false;
    }
    *value = stack->items.back().booleanValue != 0;
    stack->items.pop_back();
    return true;
}

void DropCalculatorTop(CalculatorStack* stack) {
    if (!stack->items.empty()) {
        stack->items.pop_back();
    }
}

void CopyTopItems(CalculatorStack* stack, std::int64_t n) {
    const auto depth = static_cast<std::int64_t>(stack->items.size());
    if (n < 1 || n > depth || static_cast<std::size_t>(depth + n) > kCalculatorStackLimit) {
        return;
    }
    stack->items.reserve(static_cast<std::size_t>(depth + n));
    for (std::int64_t i = depth - n; i < depth; ++i) {
        stack->items.push_back(stack->items[static_cast<std::size_t>(i)]);
    }
}

void IndexItem(CalculatorStack* stack, std::int64_t n) {
    const auto depth = static_cast<std::int64_t>(stack->items.size());
    if (n < 0 || n >= depth) {
        return;
    }
    const CalculatorItem item = stack->items[static_cast<std::size_t>(depth - 1 - n)];
    Push(stack, item);
}

void RollItems(CalculatorStack* stack, std::int64_t n, std::int64_t j) {
    const auto depth = static_cast<std::int64_t>(stack->items.size());
    if (n <= 0 || n > depth) {
        return;
    }
    // Rolling by j and by j mod n is the same, and costs one pass at most.
    const std::int64_t shift = ((j % n) + n) % n;
    if (shift == 0) {
        return;
    }
    const auto first = stack->items.end() - n;
    std::rotate(first, stack->items.end() - shift, stack->items.end());
}

void ReverseCalculatorStack(CalculatorStack* stack) { std::reverse(stack->items.begin(), stack->items.end()); }

bool CalculatorTopIsInteger(const CalculatorStack* stack) {
    const CalculatorItem* top = Top(stack);
    return top && top->type == kCalculatorInteger;
}

bool CalculatorTopIsReal(const CalculatorStack* stack) {
    const CalculatorItem* top = Top(stack);
    return top && top->type == kCalculatorReal;
}

bool CalculatorTopIsBoolean(const CalculatorStack* stack) {
    const CalculatorItem* top = Top(stack);
    return top && top->type == kCalculatorBoolean;
}

bool CalculatorTopTwoAreIntegers(const CalculatorStack* stack) {
    const CalculatorItem* a = Top(stack, 1);
    const CalculatorItem* b = Top(stack);
    return a && b && a->type == kCalculatorInteger && b->type == kCalculatorInteger;
}

bool CalculatorTopTwoAreNumbers(const CalculatorStack* stack) {
    const CalculatorItem* a = Top(stack, 1);
    const CalculatorItem* b = Top(stack);
    return a && b && a->type != kCalculatorBoolean && b->type != kCalculatorBoolean;
}

bool CalculatorTopIsOneOf(const CalculatorStack* stack, std::int32_t first, std::int32_t second) {
    const CalculatorItem* top = Top(stack);
    return top && (top->type == first || top->type == second);
}

bool CalculatorStackIsEmpty(const CalculatorStack* stack) { return stack->items.empty(); }

bool CalculatorDepthBelow(const CalculatorStack* stack, std::int64_t n) {
    return static_cast<std::int64_t>(stack->items.size()) < n;
}
