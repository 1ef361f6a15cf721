#include "platform/Collation.h"

#include <limits>
#include <memory>

#include <unicode/ucol.h>

namespace plat {

namespace {

struct CollatorDeleter {
    void operator()(UCollator* c) const { ucol_close(c); }
};
using Collator = std::unique_ptr<UCollator, CollatorDeleter>;

Collator makeCollator(UColAttributeValue strength) {
    UErrorCode status = U_ZERO_ERROR;
    // A fixed locale: the order must not change with LANG.
    Collator collator(ucol_open("en", &status));
    if (U_FAILURE(status)) {
        status = U_ZERO_ERROR;
        collator.reset(ucol_open("", &status));
    }
    if (U_FAILURE(status) || !collator) return nullptr;
    ucol_setAttribute(collator.get(), UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
    ucol_setAttribute(collator.get(), UCOL_STRENGTH, strength, &status);
    return U_FAILURE(status) ? nullptr : std::move(collator);
}

int sign(int value) { return (value > 0) - (value < 0); }

// Collators are not shared between threads.
UCollator* collator(bool tertiary) {
    thread_local Collator secondary = makeCollator(UCOL_SECONDARY);
    thread_local Collator withCase = makeCollator(UCOL_TERTIARY);
    return tertiary ? withCase.get() : secondary.get();
}

int collate(UCollator* c, std::string_view a, std::string_view b) {
    if (!c || a.size() > std::numeric_limits<int32_t>::max() || b.size() > std::numeric_limits<int32_t>::max()) {
        return 0;
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = ucol_strcollUTF8(c, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                                     static_cast<int32_t>(b.size()), &status);
    if (U_FAILURE(status)) return 0;
    return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
}

}  // namespace

int Collation::compare(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    if (int result = collate(collator(false), a, b)) return result;
    if (int result = collate(collator(true), a, b)) return result;
    // Byte order of UTF-8 is code point order.
    return sign(a.compare(b));
}

}  // namespace plat
