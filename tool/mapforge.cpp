// mapforge: converts a Code V grid text file into a binary measurement data file.
#include <cstdio>

#include "common/errors.h"
#include "common/files.h"
#include "datafile/grid_convert.h"
#include "tool/large_blocks.h"

namespace {

using namespace mf;

int usage() {
    std::fprintf(stderr, "\nUsage:  mapforge [options] input output\n");
    std::fprintf(stderr, "\tinput  = existing Code V grid data file\n");
    std::fprintf(stderr, "\toutput = Varo binary data file to create\n");
    std::fprintf(stderr, "\n\tOptions:\n");
    std::fprintf(stderr, "\t\t-f\twrites output even if file already exists\n");
    return 1;
}

// Reader and writer codes all lie inside the name table; anything else still
// prints a name rather than reading outside the table.
const char* name_of(int32_t status) {
    return status >= 1 && status <= ERR_LAST ? u_error_names[status] : error_name(status);
}

void unable(const char* input, const char* output) {
    std::fprintf(stderr, "Unable to convert \"%s\" to \"%s\" because...\n", input, output);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const char* input = nullptr;
    const char* output = nullptr;
    bool force = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            if (arg[1] != 'f') return usage();
            force = true;
        } else if (!input) {
            input = arg;
        } else if (!output) {
            output = arg;
        } else {
            return usage();
        }
    }
    if (!input || !output) return usage();
    // Names from the argument vector are narrow, whatever their first bytes.
    const std::string input_path = u_argument_path(input), output_path = u_argument_path(output);

    if (!u_file_exists(input_path.c_str())) {
        unable(input, output);
        std::fprintf(stderr, "\t\"%s\" does not exist\n", input);
        return 2;
    }
    if (u_file_exists(output_path.c_str()) && !force) {
        unable(input, output);
        std::fprintf(stderr, "\t\"%s\" already exists\n", output);
        return 3;
    }
    std::fprintf(stderr, "Converting \"%s\" to \"%s\"\n", input, output);

    install_large_block_hooks();

    // Read, then write, as far as anyone can tell: the samples stream from the
    // input into the output, but a read failure leaves the output untouched and
    // is the one reported.
    const grid_conversion result = convert_grid_file(input_path.c_str(), output_path.c_str());
    if (result.read_status != 0) {
        unable(input, output);
        std::fprintf(stderr, "\tthere was an error reading the file \"%s\"\n", input);
        std::fprintf(stderr, "\t%s\n", name_of(result.read_status));
        return 4;
    }
    if (result.write_status != 0) {
        unable(input, output);
        std::fprintf(stderr, "\tthere was an error writing to the file \"%s\"\n", output);
        std::fprintf(stderr, "\t%s\n", name_of(result.write_status));
        return 5;
    }
    std::fprintf(stderr, "Conversion from \"%s\" to \"%s\" successful\n", input, output);
    return 0;
}
