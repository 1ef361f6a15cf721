// libFuzzer target: PostScript calculator programs, parsed and run.
#include "pdf/PostScriptCalculator.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CalculatorProgram program;
    InitCalculatorReader(&program, data, size);
    ParseCalculatorProgram(&program);
    CalculatorStack stack;
    InitCalculatorStack(&stack);
    PushCalculatorReal(&stack, 0.25);
    PushCalculatorInteger(&stack, 3);
    RunCalculatorProgram(&program, &stack);
    if (stack.items.size() > kCalculatorStackLimit) std::abort();
    ReverseCalculatorStack(&stack);
    double value = 0.0;
    while (PopNumber(&stack, &value)) {
    }
    return 0;
}
