#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/alloc.h"
#include "common/errors.h"
#include "datafile/data_file.h"
#include "datafile/data_reader.h"
#include "datafile/grid_file.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/read_then_write.h"
#include "tests/support/temp_dir.h"
#include "tests/tool/tool_run.h"

namespace mf {

namespace {

using test::lines;
using test::ToolRun;

ToolRun mapforge(const std::vector<std::string>& args) { return test::run_tool(MAPFORGE_PROGRAM, args); }

const std::string usage_text =
    "\nUsage:  mapforge [options] input output\n"
    "\tinput  = existing Code V grid data file\n"
    "\toutput = Varo binary data file to create\n"
    "\n\tOptions:\n"
    "\t\t-f\twrites output even if file already exists\n";

const std::string grid_text =
    "! VAROGRD\n! REQ 1 2 0.5 0.25 4\n! SWI 1 5 2 11 \"Ostrabel                     \"\n! SCF 2 1\n"
    "A measured surface\nGRD 3 2 SUR WVL 0.6328 SSZ 4.0 NDA -32768\n  100 -32768  -5\n7 8 9\n";

#ifndef _WIN32
// Runs a program with fewer privileges (util-linux).
const std::string setpriv = "/usr/bin/setpriv";
#endif

std::string unable(const std::string& in, const std::string& out) {
    return "Unable to convert \"" + in + "\" to \"" + out + "\" because...\n";
}

}  // namespace

TEST(MapforgeCommandLine, UsageErrors) {
    test::TempDir dir;
    const std::string a = dir.file("a.grd"), b = dir.file("b.dat"), c = dir.file("c.dat");
    test::write_file(a, grid_text);
    const std::vector<std::vector<std::string>> cases = {
        {},           {a},         {"-f", a},    {a, "-f"},       {a, b, c},
        {"-x", a, b}, {"-", a, b}, {a, "-F", b}, {"-f", a, "-f"}, {"-q", "-f", a, b},
    };
    for (const auto& args : cases) {
        const ToolRun r = mapforge(args);
        std::string shown;
        for (const auto& arg : args)
            shown += arg + " ";
        EXPECT_EQ(r.code, 1) << shown;
        EXPECT_EQ(r.err, lines(usage_text)) << shown;
        EXPECT_EQ(r.out, "") << shown;
    }
    EXPECT_EQ(test::read_file(b), "");
    const auto entries = dir.entries();
    EXPECT_EQ(entries, std::vector<std::string>{"a.grd"});
}

TEST(MapforgeCommandLine, InputMustBeAnExistingFile) {
    test::TempDir dir;
    const std::string out = dir.file("out.dat");
    for (const std::string& in : {dir.path(), dir.file("missing.grd")}) {
        const ToolRun r = mapforge({in, out});
        EXPECT_EQ(r.code, 2) << in;
        EXPECT_EQ(r.err, lines(unable(in, out) + "\t\"" + in + "\" does not exist\n")) << in;
        EXPECT_EQ(r.out, "");
    }
}

TEST(MapforgeCommandLine, ExistingOutputNeedsForce) {
    test::TempDir dir;
    const std::string in = dir.file("in.grd"), out = dir.file("out.dat");
    test::write_file(in, grid_text);
    test::write_file(out, "keep me");
    const ToolRun r = mapforge({in, out});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, lines(unable(in, out) + "\t\"" + out + "\" already exists\n"));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(test::read_file(out), "keep me");

    // "-f" with more letters, after the names, still forces.
    const ToolRun forced = mapforge({in, out, "-fxyz"});
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_EQ(test::read_file(out), test::read_then_write(dir, in));
}

TEST(MapforgeConversion, ConvertsAValidGridFile) {
    test::TempDir dir;
    const std::string in = dir.file("in.grd"), out = dir.file("out.dat");
    test::write_file(in, grid_text);
    const ToolRun r = mapforge({"-f", in, out});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, lines("Converting \"" + in + "\" to \"" + out + "\"\nConversion from \"" + in + "\" to \"" + out +
                           "\" successful\n"));
    EXPECT_EQ(r.out, "");
    const std::string bytes = test::read_file(out);
    EXPECT_EQ(bytes, test::read_then_write(dir, in));
    // Format 2 (resolution code 2), 3 x 2 samples after the 834-byte header;
    // "-32768" became the invalid marker, the others were shifted left by 1.
    ASSERT_EQ(bytes.size(), 834u + 24u);
    EXPECT_EQ(bytes.substr(0, 10), std::string("\x88\x1B\x03\x70\x00\x02\x00\x00\x03\x42", 10));
    EXPECT_EQ(bytes.substr(834, 8), std::string("\x00\x00\x00\xC8\x7F\xFF\xFF\xF8", 8));
    auto names = dir.entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"in.grd", "out.dat"}));
}

// Argument names are narrow: one that begins with the bytes of the UTF-16
// signature is a file of that name, not a UTF-16 path.
TEST(MapforgeConversion, ArgumentsStartingWithTheSignatureAreNarrowNames) {
#ifdef _WIN32
    GTEST_SKIP() << "the argument vector is converted by the system";
#endif
    // Relative names, in the directory the test runs in.
    const std::string in = "\xFF\xFEmf_argument.grd", out = "\xFE\xFFmf_argument.dat";
    test::write_file(in, grid_text);
    const ToolRun r = mapforge({"-f", in, out});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, lines("Converting \"" + in + "\" to \"" + out + "\"\nConversion from \"" + in + "\" to \"" + out +
                           "\" successful\n"));
    test::TempDir dir;
    EXPECT_EQ(test::read_file(out), test::read_then_write(dir, "./" + in));
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST(MapforgeConversion, ReadFailureLeavesNoOutput) {
    test::TempDir dir;
    const std::string in = dir.file("plain.grd"), out = dir.file("out.dat");
    test::write_file(in, "A Code V title\nGRD 1 1 SUR WVL 1 SSZ 1\n1\n");
    const ToolRun r = mapforge({in, out});
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.err,
              lines("Converting \"" + in + "\" to \"" + out + "\"\n" + "Expected line 1 to be \"! VAROGRD\"\n" +
                    unable(in, out) + "\tthere was an error reading the file \"" + in + "\"\n\tERR_NOT_A_DATA_FILE\n"));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"plain.grd"});

    // With force, an existing output survives a failed read untouched.
    test::write_file(in, "! VAROGRD\n! REQ 1 2 3 4 5\nt\nGRD 3 3 SUR WVL 1 SSZ 1\n1 2 3\n");
    test::write_file(out, "previous");
    const ToolRun cut = mapforge({"-f", in, out});
    EXPECT_EQ(cut.code, 4);
    EXPECT_EQ(cut.err, lines("Converting \"" + in + "\" to \"" + out + "\"\n" + unable(in, out) +
                             "\tthere was an error reading the file \"" + in + "\"\n\tERR_PREMATURE_EOF\n"));
    EXPECT_EQ(test::read_file(out), "previous");
    EXPECT_EQ(dir.entries().size(), 2u);
}

TEST(MapforgeConversion, WriteFailures) {
    test::TempDir dir;
    const std::string in = dir.file("in.grd");
    test::write_file(in, grid_text);
    test::write_file(dir.file("placeholder"), "");
    for (const std::string& out : {dir.path(), dir.file("no-such-dir") + "/x.dat"}) {
        const ToolRun r = mapforge({in, out});
        EXPECT_EQ(r.code, 5) << out;
        EXPECT_EQ(r.err, lines("Converting \"" + in + "\" to \"" + out + "\"\n" + unable(in, out) +
                               "\tthere was an error writing to the file \"" + out + "\"\n\tERR_CANT_CREATE_FILE\n"))
            << out;
        EXPECT_EQ(r.out, "");
    }
    auto names = dir.entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"in.grd", "placeholder"}));
}

// A large map streams from the input to the output: the program holds a few
// blocks of it, not the map (16 MB of samples here).
TEST(MapforgeConversion, LargeMapInLittleMemory) {
    test::TempDir dir;
    const std::string in = dir.file("large.grd"), out = dir.file("large.dat");
    {
        // Written line by line: a child started by the system's spawn counts the
        // peak memory of its parent as its own.
        std::ofstream grid(in, std::ios::binary);
        grid << "! VAROGRD\n! REQ 1 2 0.5 0.25 4\nt\nGRD 2048 2048 SUR WVL 0.6328 SSZ 2 NDA -32768\n";
        char line[80];
        for (int i = 0; i < 2048 * 2048; i += 10) {
            for (int f = 0; f < 10; ++f)
                std::snprintf(line + 7 * f, 8, "%7d", (i + f) % 7 == 0 ? -32768 : (i + f) % 65521 - 32760);
            line[70] = '\n';
            grid.write(line, 71);
        }
        grid << "\n";
    }
    const ToolRun r = test::run_tool(MAPFORGE_PROGRAM, {in, out}, true);
    ASSERT_EQ(r.code, 0) << r.err;
    // Checked row by row, so that this process stays small for the tests after it.
    data_file_reader reader;
    ASSERT_EQ(reader.open(out.c_str()), 0);
    EXPECT_EQ(reader.layout().phase.width, 2048);
    EXPECT_EQ(reader.layout().phase.height, 2048);
    ASSERT_EQ(reader.seek_phase(), 0);
    std::vector<int32_t> row(2048);
    int differences = 0;
    for (int y = 0; y < 2048; ++y) {
        ASSERT_EQ(reader.read_phase_rows(row.data(), 1), 0);
        for (int x = 0; x < 2048; ++x) {
            const int i = y * 2048 + x;
            differences += row[x] != (i % 7 == 0 ? invalid_phase : i % 65521 - 32760);
        }
    }
    EXPECT_EQ(differences, 0);
#ifndef MF_SANITIZE_BUILD
    // The input's pages, mapped read-only, are the system's cache, not the tool's.
#ifdef __linux__
    EXPECT_GT(r.peak_private_kb, 0);  // watched, so known
#endif
    if (r.peak_private_kb >= 0) {
        EXPECT_LT(r.peak_private_kb, 8 * 1024);
    }
#endif
}

// The output name keeps designating what it did: a link stays a link and its
// target is written, a FIFO is written in place, permissions and other names of
// the file are kept, and nothing is left beside the output.
TEST(MapforgeConversion, OutputNamesKeepWhatTheyDesignate) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const std::string in = dir.file("in.grd");
    test::write_file(in, grid_text);
    const std::string expected = test::read_then_write(dir, in);
    const std::string target = dir.file("target.dat");

    // Mode and another hard link of the output survive.
    test::write_file(target, "old");
    fs::permissions(target, fs::perms(0640));
    const fs::perms mode = fs::status(target).permissions();  // as far as the system keeps modes
    std::error_code no_link;
    fs::create_hard_link(target, dir.file("other-name.dat"), no_link);
    EXPECT_EQ(mapforge({"-f", in, target}).code, 0);
    EXPECT_EQ(fs::status(target).permissions(), mode);
    EXPECT_EQ(test::read_file(target), expected);
    if (!no_link) {
        EXPECT_EQ(test::read_file(dir.file("other-name.dat")), expected);
    }

    // A dangling link creates its target; a second run through the link replaces it.
    std::error_code no_symlink;
    fs::create_symlink("linked.dat", dir.file("link.dat"), no_symlink);
    for (int run = 0; run < 2 && !no_symlink; ++run) {
        const ToolRun r = mapforge({"-f", in, dir.file("link.dat")});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(fs::is_symlink(dir.file("link.dat")));
        EXPECT_EQ(test::read_file(dir.file("linked.dat")), expected);
    }
    auto names = dir.entries();
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected_names{"in.grd", "target.dat"};
    if (!no_symlink) expected_names.insert(expected_names.end(), {"link.dat", "linked.dat"});
    if (!no_link) expected_names.push_back("other-name.dat");
    std::sort(expected_names.begin(), expected_names.end());
    EXPECT_EQ(names, expected_names) << "nothing is left beside the outputs";

    if (!platform::create_fifo(dir.file("pipe"))) return;  // no FIFOs or devices on Windows
    // A FIFO is not a regular file, so no -f is needed; its reader gets the data file.
    std::string received;
    std::thread reader([&] { received = test::read_file(dir.file("pipe")); });
    const ToolRun piped = mapforge({in, dir.file("pipe")});
    reader.join();
    EXPECT_EQ(piped.code, 0) << piped.err;
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(fs::is_fifo(dir.file("pipe")));

    // A full device, reached through a link in the test folder: a write failure,
    // and the device stays a device.
    if (no_symlink || !fs::is_character_file("/dev/full")) return;
    const std::string full = dir.file("full");
    fs::create_symlink("/dev/full", full);
    const ToolRun r = mapforge({in, full});
    EXPECT_EQ(r.code, 5);
    EXPECT_EQ(r.err, lines("Converting \"" + in + "\" to \"" + full + "\"\n" + unable(in, full) +
                           "\tthere was an error writing to the file \"" + full + "\"\n\tERR_CANT_WRITE_FILE\n"));
    EXPECT_TRUE(fs::is_symlink(full));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

// A folder that takes no new file still lets a writable output be converted: the
// output is written in place (it stays the same file) and nothing is left beside
// it. A process that ignores folder permissions (root) would take the ordinary
// path, so there the program runs without that privilege.
TEST(MapforgeConversion, AFolderThatTakesNoNewFileConvertsInPlace) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const std::string in = dir.file("in.grd");
    test::write_file(in, grid_text);
    const std::string expected = test::read_then_write(dir, in);
    const std::string folder = dir.file("locked"), out = dir.file("locked/out.dat");
    fs::create_directory(folder);
    test::write_file(out, std::string(expected.size() + 100, 'o'));
    fs::permissions(folder, fs::perms(0555));
    struct Unlock {
        std::string folder;
        ~Unlock() { fs::permissions(folder, fs::perms(0755)); }
    } unlock{folder};
    const bool ignores_permissions = std::ofstream(dir.file("locked/probe")).is_open();
    std::vector<std::string> command{MAPFORGE_PROGRAM, "-f", in, out};
    if (ignores_permissions) {
        std::error_code ignored;
        fs::remove(dir.file("locked/probe"), ignored);
#ifdef _WIN32
        GTEST_SKIP() << "a folder's read-only attribute does not refuse new files";
#else
        if (!fs::exists(setpriv)) GTEST_SKIP() << "no " << setpriv << " to drop the privilege";
        command.insert(command.begin(), {setpriv, "--bounding-set=-dac_override,-dac_read_search",
                                         "--inh-caps=-dac_override,-dac_read_search"});
#endif
    }
    const platform::file_handle before = platform::file_handle::open_regular_for_reading(out);
    ASSERT_TRUE(before.valid());
    const ToolRun r = test::run_tool(command.front(), {command.begin() + 1, command.end()});
    if (r.err.rfind("setpriv:", 0) == 0) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, lines("Converting \"" + in + "\" to \"" + out + "\"\n" + "Conversion from \"" + in + "\" to \"" +
                           out + "\" successful\n"));
    EXPECT_EQ(test::read_file(out), expected);
    EXPECT_TRUE(before.same_file_as(out)) << "written in place, not replaced by a new file";
    EXPECT_EQ(fs::directory_iterator(folder)->path().filename(), "out.dat");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

}  // namespace mf
