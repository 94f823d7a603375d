#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/dirs.h"
#include "common/errors.h"
#include "platform/files.h"
#include "tests/support/alloc_fail.h"
#include "tests/support/temp_dir.h"
#include "tests/support/env.h"

namespace mf {

using paths::install_dir_from_program;

TEST(InstallDirRule, WindowsStylePaths) {
    EXPECT_EQ(install_dir_from_program("C:\\A\\Bin\\X.exe", '\\', true), "c:\\a");
    // "c:" is not longer than 3 characters: the second cut is skipped.
    EXPECT_EQ(install_dir_from_program("c:\\x.exe", '\\', true), "c:");
    EXPECT_EQ(install_dir_from_program("c:\\ab\\x.exe", '\\', true), "c:");
    EXPECT_EQ(install_dir_from_program("x.exe", '\\', true), "");
}

TEST(InstallDirRule, PosixStylePathsKeepCase) {
    EXPECT_EQ(install_dir_from_program("/opt/MapForge/bin/mapforge", '/', false), "/opt/MapForge");
    EXPECT_EQ(install_dir_from_program("/opt/mapforge", '/', false), "");
    EXPECT_EQ(install_dir_from_program("/usr/bin/mapforge", '/', false), "/usr");
}

TEST(AbsoluteNameRule, BothSeparatorStyles) {
    EXPECT_TRUE(paths::is_absolute_name("\\cfg\\a.dat", '\\'));
    EXPECT_TRUE(paths::is_absolute_name(".\\a.dat", '\\'));
    EXPECT_TRUE(paths::is_absolute_name("d:a.dat", '\\'));
    EXPECT_FALSE(paths::is_absolute_name("a.dat", '\\'));
    EXPECT_FALSE(paths::is_absolute_name("..\\a.dat", '\\'));
    EXPECT_TRUE(paths::is_absolute_name("/etc/a.dat", '/'));
    EXPECT_TRUE(paths::is_absolute_name("./a.dat", '/'));
    EXPECT_FALSE(paths::is_absolute_name("cfg/a.dat", '/'));
    EXPECT_EQ(paths::native_separators("cfg\\ramps\\a.dat", '/'), "cfg/ramps/a.dat");
    EXPECT_EQ(paths::native_separators("cfg\\a.dat", '\\'), "cfg\\a.dat");
}

TEST(ParentDirectoryRule, BothSeparatorStyles) {
    EXPECT_EQ(paths::parent_directory("c:\\cfg\\a.cal", '\\'), "c:\\cfg");
    EXPECT_EQ(paths::parent_directory("c:/cfg\\sub/a.cal", '\\'), "c:/cfg\\sub");
    EXPECT_EQ(paths::parent_directory("a.cal", '\\'), ".");
    EXPECT_EQ(paths::parent_directory("d:a.cal", '\\'), "d:.");
    EXPECT_EQ(paths::parent_directory("/a.cal", '/'), "/");
    EXPECT_EQ(paths::parent_directory("/etc/mf/a.cal", '/'), "/etc/mf");
    EXPECT_EQ(paths::parent_directory("odd\\name", '/'), ".");
}

// A cut directory value names another, possibly existing, directory: an
// over-long value is absent instead.
TEST(DirectoryValueRule, OverLongIsAbsentNeverCut) {
    const std::string base = "/data/" + std::string(250, 'd');
    struct Case {
        std::string value;
        std::string kept;
    };
    const Case cases[] = {
        {"", ""},
        {"/opt/mf/cfg", "/opt/mf/cfg"},
        {std::string(260, 'x'), std::string(260, 'x')},
        {std::string(261, 'x'), ""},
        {base + "/ramps", ""},  // 262: its first 260 characters would be a sibling
    };
    for (const Case& c : cases)
        EXPECT_EQ(paths::kept_directory(c.value), c.kept) << c.value.size();
}

// The directory lookups are kept for the life of the process, so one test sets the
// environment before the first lookup and checks the whole chain.
TEST(DirectoryLookups, EnvironmentConfigAndRampsAndFindFile) {
    test::TempDir dir;
    const std::string install = dir.path();
    test::set_env("HX_INSTALL_DIR", install.c_str());
    test::set_env("HX_CONFIG_DIR", nullptr);
    test::set_env("HX_RAMPS_DIR", nullptr);
    {
        // Out of memory at the first lookup: absent for now, looked up again later.
        test::NewFailure fail(-1);
        EXPECT_EQ(u_ramps_dir(), nullptr);
        EXPECT_EQ(u_config_dir(), nullptr);
        EXPECT_EQ(u_install_dir(), nullptr);
    }
    ASSERT_NE(u_install_dir(), nullptr);
    EXPECT_EQ(std::string(u_install_dir()), install);
    // No cfg directory under the install directory: the configuration directory is
    // the install directory itself.
    ASSERT_NE(u_config_dir(), nullptr);
    EXPECT_EQ(std::string(u_config_dir()), install);
    ASSERT_NE(u_ramps_dir(), nullptr);
    EXPECT_EQ(std::string(u_ramps_dir()), dir.file("ramps"));
    EXPECT_TRUE(platform::is_directory(dir.file("ramps")));

    test::write_file(dir.file("only_in_config.dat"), "x");
    const char* found = nullptr;
    EXPECT_EQ(u_find_file("only_in_config.dat", &found), 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::string(found), dir.file("only_in_config.dat"));
    EXPECT_EQ(u_find_file(dir.file("only_in_config.dat").c_str(), &found), 0);
    EXPECT_EQ(u_find_file("nowhere.dat", &found), ERR_CANT_READ_FILE);
    const char* untouched = "unchanged";
    EXPECT_EQ(u_find_file("", &untouched), 0);
    EXPECT_STREQ(untouched, "unchanged");
    {
        test::AllocFailure fail(1);
        EXPECT_EQ(u_find_file("only_in_config.dat", &found), ERR_NO_MEM);
    }
    // Every operator new of the search failing in turn: ERR_NO_MEM, nothing thrown.
    int news = 0;
    {
        test::NewFailure counting(0);
        ASSERT_EQ(u_find_file("only_in_config.dat", &found), 0);
        news = counting.count();
    }
    ASSERT_GT(news, 0);
    for (int k = 1; k <= news; ++k) {
        test::NewFailure fail(k);
        EXPECT_EQ(u_find_file("only_in_config.dat", &found), ERR_NO_MEM) << k;
    }
}

}  // namespace mf
