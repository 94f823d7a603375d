// Dynamic libraries loaded at run time by base name.
#pragma once

#include <string>

namespace mf::platform {

struct dynlib;  // opaque
using dynlib_handle = dynlib*;

// The file name the system gives a library base name: "Foo" -> "Foo.dll" on
// Windows, "libFoo.so" elsewhere.
std::string dynlib_file_name(const std::string& base_name);
// Loads the library named by its base name through the system's search rules (on
// Windows the program's own directory first; elsewhere the library path and the
// program's run path). Null on failure; dynlib_last_error tells why.
dynlib_handle dynlib_load(const std::string& base_name);
// The address of an exported symbol, or null.
void* dynlib_symbol(dynlib_handle lib, const char* name);
// Releases a handle from dynlib_load; null is ignored.
void dynlib_free(dynlib_handle lib);
// The system's error number and text of this thread's last failed load or look-up
// (the text may be empty where the system gives none).
int dynlib_last_error();
std::string dynlib_last_error_text();

}  // namespace mf::platform
