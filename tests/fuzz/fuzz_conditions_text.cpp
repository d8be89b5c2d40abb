// ParseConditionsText over any text (a conditions file comes from outside): it never fails
// badly, a refused text names a line that exists, and a set it reads is written back by
// FormatConditions into a text that reads back into a set written the same way, on one line
// as in lines, with the same conditions on.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "relay/conditions/conditions_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane::relay;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TextProblem problem;
    const auto set = ParseConditionsText(text, problem);
    if (!set) {
        const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
        FUZZ_CHECK(problem.line >= 1 && problem.line <= lines);
        FUZZ_CHECK(!problem.text.empty());
        return 0;
    }
    for (const ConditionsLayout layout : {ConditionsLayout::Lines, ConditionsLayout::OneLine}) {
        const std::string written = FormatConditions(*set, layout);
        TextProblem again;
        const auto reread = ParseConditionsText(written, again);
        FUZZ_CHECK(reread.has_value());
        FUZZ_CHECK_EQ(FormatConditions(*reread, layout), written);
        FUZZ_CHECK_EQ(reread->On(), set->On());
        FUZZ_CHECK_EQ(reread->ForConnection(), set->ForConnection());
        FUZZ_CHECK(reread->seed == set->seed);
        FUZZ_CHECK_EQ(reread->share.ppm, set->share.ppm);
    }
    return 0;
}
