#include "tests/support/env.h"

#include <cstdlib>

namespace mf::test {

void set_env(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    value ? setenv(name, value, 1) : unsetenv(name);
#endif
}

}  // namespace mf::test
