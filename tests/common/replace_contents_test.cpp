// Replacing a file's contents: what the name designates keeps being that thing,
// and a failure at any file operation leaves the old contents or the new ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/errors.h"
#include "common/files.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/capture.h"
#include "tests/support/file_faults.h"
#include "tests/support/temp_dir.h"

namespace mf {

namespace {

namespace fs = std::filesystem;
using platform::replace_stage;

const std::string new_contents = "new contents\n";

platform::replace_result replace_with(const std::string& path, const std::string& bytes) {
    return platform::replace_contents(
        path, [&](platform::file_handle& out) { return out.write(bytes.data(), bytes.size()) ? 0 : 1; });
}

std::vector<std::string> sorted_entries(const test::TempDir& dir) {
    auto names = dir.entries();
    std::sort(names.begin(), names.end());
    return names;
}

bool make_symlink(const std::string& target, const std::string& link) {
    std::error_code ec;
    fs::create_symlink(target, link, ec);
    return !ec;
}

}  // namespace

TEST(ReplaceContents, LinksStayLinksAndTheirTargetsGetTheContents) {
    test::TempDir dir;
    test::write_file(dir.file("file"), "old");
    if (!make_symlink("file", dir.file("link")) || !make_symlink(dir.file("link"), dir.file("chain")) ||
        !make_symlink("absent", dir.file("dangling")))
        GTEST_SKIP() << "symbolic links cannot be made here";
    for (const char* name : {"link", "chain"}) {
        ASSERT_EQ(replace_with(dir.file(name), name).failed, replace_stage::none) << name;
        EXPECT_TRUE(fs::is_symlink(dir.file(name))) << name;
        EXPECT_EQ(test::read_file(dir.file("file")), name);
    }
    // A dangling link names the file to create.
    ASSERT_EQ(replace_with(dir.file("dangling"), new_contents).failed, replace_stage::none);
    EXPECT_TRUE(fs::is_symlink(dir.file("dangling")));
    EXPECT_EQ(test::read_file(dir.file("absent")), new_contents);
    EXPECT_EQ(sorted_entries(dir), (std::vector<std::string>{"absent", "chain", "dangling", "file", "link"}));
}

TEST(ReplaceContents, PermissionsAndHardLinksAreKept) {
    test::TempDir dir;
    for (fs::perms mode : {fs::perms(0600), fs::perms(0640), fs::perms(0755)}) {
        const std::string path = dir.file("moded");
        test::write_file(path, "old");
        fs::permissions(path, mode);
        const fs::perms before = fs::status(path).permissions();  // what the system allows of the mode
        ASSERT_EQ(replace_with(path, new_contents).failed, replace_stage::none);
        EXPECT_EQ(fs::status(path).permissions(), before);
        EXPECT_EQ(test::read_file(path), new_contents);
    }
    // A new name gets what any new file in the folder gets.
    std::ofstream(dir.file("plain")) << "x";
    ASSERT_EQ(replace_with(dir.file("fresh"), new_contents).failed, replace_stage::none);
    EXPECT_EQ(fs::status(dir.file("fresh")).permissions(), fs::status(dir.file("plain")).permissions());

    // Every name of a hard-linked file sees the new contents, and nothing of the
    // longer old contents stays after them.
    test::write_file(dir.file("one"), std::string(100, 'o'));
    std::error_code ec;
    fs::create_hard_link(dir.file("one"), dir.file("two"), ec);
    if (ec) GTEST_SKIP() << "hard links cannot be made here";
    ASSERT_EQ(replace_with(dir.file("two"), new_contents).failed, replace_stage::none);
    EXPECT_EQ(test::read_file(dir.file("one")), new_contents);
    EXPECT_EQ(sorted_entries(dir), (std::vector<std::string>{"fresh", "moded", "one", "plain", "two"}));
}

TEST(ReplaceContents, DevicesAndFifosAreWrittenInPlace) {
    test::TempDir dir;
    if (!platform::create_fifo(dir.file("fifo"))) GTEST_SKIP() << "no FIFOs on this system";
    std::string received;
    std::thread reader([&] { received = test::read_file(dir.file("fifo")); });
    const platform::replace_result result = replace_with(dir.file("fifo"), new_contents);
    reader.join();
    EXPECT_EQ(result.failed, replace_stage::none);
    EXPECT_TRUE(result.in_place);
    EXPECT_EQ(received, new_contents);
    EXPECT_TRUE(fs::is_fifo(dir.file("fifo")));

    // A full device, reached through a link in the test folder: the write fails
    // and the device stays a device.
    if (!fs::is_character_file("/dev/full") || !make_symlink("/dev/full", dir.file("full"))) return;
    const platform::replace_result full = replace_with(dir.file("full"), new_contents);
    EXPECT_EQ(full.failed, replace_stage::produce);
    EXPECT_TRUE(fs::is_symlink(dir.file("full")));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));

    // A directory is not a file whose contents can be replaced.
    fs::create_directory(dir.file("sub"));
    EXPECT_EQ(replace_with(dir.file("sub"), new_contents).failed, replace_stage::open);
    EXPECT_EQ(sorted_entries(dir), (std::vector<std::string>{"fifo", "full", "sub"}));
}

#ifndef _WIN32
// A replaced file keeps its owner and group where the process may set them
// (run as root; elsewhere the change of owner is refused and the test skipped).
TEST(ReplaceContents, OwnerAndGroupAreKept) {
    test::TempDir dir;
    const std::string path = dir.file("owned"), log = dir.file("log");
    test::write_file(path, "old");
    const auto run = [&](const std::vector<std::string>& args) { return platform::run_process(args, log, log); };
    const platform::process_result chown = run({"/bin/chown", "4321:4322", path});
    if (!chown.started || chown.exit_code != 0) GTEST_SKIP() << "this process may not give a file away";
    ASSERT_EQ(replace_with(path, new_contents).failed, replace_stage::none);
    EXPECT_EQ(test::read_file(path), new_contents);
    ASSERT_EQ(run({"/usr/bin/stat", "-c", "%u:%g", path}).exit_code, 0);
    EXPECT_EQ(test::read_file(log), "4321:4322\n");
}
#endif

// Space set aside for the writes to come is only a hint: the file holds what
// was written and no more, a new name or a replaced file, and a FIFO, which has
// no space to set aside, still takes the writes.
TEST(ReplaceContents, SpaceSetAsideChangesNeitherLengthNorContents) {
    test::TempDir dir;
    const auto write_reserving = [](const std::string& path) {
        return platform::replace_contents(path, [](platform::file_handle& out) {
            if (!out.write("ab", 2)) return 1;
            out.reserve_ahead(uint64_t{1} << 20);
            return out.write(new_contents.data(), new_contents.size()) ? 0 : 1;
        });
    };
    for (const std::string& old : {std::string(), std::string(4096, 'x')}) {
        if (!old.empty()) test::write_file(dir.file("out"), old);
        EXPECT_EQ(write_reserving(dir.file("out")).failed, replace_stage::none);
        EXPECT_EQ(test::read_file(dir.file("out")), "ab" + new_contents);
        EXPECT_EQ(fs::file_size(dir.file("out")), 2 + new_contents.size());
    }
    if (!platform::create_fifo(dir.file("fifo"))) return;
    std::string received;
    std::thread reader([&] { received = test::read_file(dir.file("fifo")); });
    EXPECT_EQ(write_reserving(dir.file("fifo")).failed, replace_stage::none);
    reader.join();
    EXPECT_EQ(received, "ab" + new_contents);
}

TEST(ReplaceContents, AFolderThatRefusesNewFilesFallsBackToWritingInPlace) {
    test::TempDir dir;
    test::write_file(dir.file("out"), "old contents");
    {
        // The first operation is making the file beside the target.
        test::FileFault refused(1, platform::access_denied_error_number());
        const platform::replace_result result = replace_with(dir.file("out"), new_contents);
        EXPECT_EQ(result.failed, replace_stage::none);
        EXPECT_TRUE(result.in_place);
    }
    EXPECT_EQ(test::read_file(dir.file("out")), new_contents);
    {
        // Any other failure to make it (a full disk) keeps the old contents.
        test::FileFault full(1);
        EXPECT_EQ(replace_with(dir.file("out"), "other").failed, replace_stage::open);
    }
    EXPECT_EQ(test::read_file(dir.file("out")), new_contents);
    {
        // A new name cannot be written in place of nothing.
        test::FileFault refused(1, platform::access_denied_error_number());
        EXPECT_EQ(replace_with(dir.file("new"), new_contents).failed, replace_stage::open);
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out"});
}

TEST(CopyFile, TheSourceIsCheckedBeforeTheDestinationIsTouched) {
    test::TempDir dir;
    const std::string dst = dir.file("dst");
    test::write_file(dst, "destination");
    fs::create_directory(dir.file("folder"));
    std::vector<std::string> sources{dir.file("missing"), dir.file("folder"), dst};
    if (make_symlink("dst", dir.file("alias"))) sources.push_back(dir.file("alias"));
    if (platform::create_fifo(dir.file("fifo"))) sources.push_back(dir.file("fifo"));
    for (const std::string& source : sources) {
        test::SinkCapture sink;
        EXPECT_EQ(u_copy_file(source.c_str(), dst.c_str()), ERR_CANT_WRITE_FILE) << source;
        EXPECT_EQ(sink.text().rfind("u_copy_file failed: win_err = ", 0), 0u) << source;
        EXPECT_EQ(test::read_file(dst), "destination") << source;
    }
    // Copying a file onto a link to itself is the same refusal.
    if (fs::is_symlink(dir.file("alias"))) {
        test::SinkCapture sink;
        EXPECT_EQ(u_copy_file(dst.c_str(), dir.file("alias").c_str()), ERR_CANT_WRITE_FILE);
    }
    EXPECT_EQ(test::read_file(dst), "destination");
}

TEST(CopyFile, EveryFileFaultLeavesTheDestinationWholeOrNew) {
    const std::string contents(200000, 'n');  // several read and write chunks
    for (const bool existing : {true, false}) {
        test::TempDir dir;
        const std::string src = dir.file("src"), dst = dir.file("dst");
        test::write_file(src, contents);
        const int operations = test::sweep_writer({dst,
                                                   std::string(1000, 'o'),
                                                   existing,
                                                   contents,
                                                   [&] {
                                                       test::SinkCapture sink;
                                                       return u_copy_file(src.c_str(), dst.c_str());
                                                   },
                                                   ERR_CANT_WRITE_FILE,
                                                   {dir.path()}});
        EXPECT_GE(operations, 8) << "open, reads, writes, sync, close, rename";
    }
}

}  // namespace mf
