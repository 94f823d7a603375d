#include "common/errors.h"

namespace mf {

namespace {

// The list is in number order without gaps, so a code indexes its own name.
#define MF_ERROR_NUMBER(name, number) number,
constexpr int32_t listed_numbers[] = {MF_ERROR_CODES(MF_ERROR_NUMBER)};
#undef MF_ERROR_NUMBER

constexpr bool numbers_follow_the_list() {
    for (int32_t i = 0; i < ERR_LAST; ++i)
        if (listed_numbers[i] != i + 1) return false;
    return true;
}
static_assert(numbers_follow_the_list(), "error codes must be listed in number order from 1 without gaps");

}  // namespace

// Entry 0 is empty; entries 1 to ERR_LAST are the names of the codes.
#define MF_ERROR_NAME(name, number) #name,
const char* const u_error_names[ERR_LAST + 1] = {"", MF_ERROR_CODES(MF_ERROR_NAME)};
#undef MF_ERROR_NAME

}  // namespace mf
