// Setting the process environment from a test.
#pragma once

namespace mf::test {

// Sets name to value, or removes it when value is null.
void set_env(const char* name, const char* value);

}  // namespace mf::test
