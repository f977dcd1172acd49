// Paths beside the executable, %NAME% expansion and joining with one separator.
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kem::platform;

TEST(PathsTest, ExpandEnvironmentReplacesKnownNamesOnly) {
    setenv("KEM_PATHS_TEST", "/opt/kem", 1);
    unsetenv("KEM_PATHS_MISSING");
    const struct {
        const char* in;
        const char* out;
    } rows[] = {
        {"%KEM_PATHS_TEST%\\log", "/opt/kem\\log"},
        {"a%KEM_PATHS_MISSING%b", "a%KEM_PATHS_MISSING%b"},
        {"50%", "50%"},
        {"%%KEM_PATHS_TEST%", "%/opt/kem"},
        {"plain", "plain"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ExpandEnvironment(row.in), row.out) << row.in;
    }
}

TEST(PathsTest, JoinPathUsesExactlyOneSeparator) {
    const struct {
        const char* folder;
        const char* name;
        const char* out;
    } rows[] = {
        {"/a/b", "c", "/a/b/c"},    {"/a/b/", "c", "/a/b/c"}, {"/a/b\\", "c\\d", "/a/b/c/d"},
        {"/a", "/abs/x", "/abs/x"}, {"/", "x", "/x"},         {"rel", "x", "rel/x"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(JoinPath(row.folder, row.name), row.out) << row.folder << " + " << row.name;
    }
}

TEST(PathsTest, ResolveBesideExecutableKeepsWindowsStyleRelativePaths) {
    const std::string folder = ExecutableFolder();
    EXPECT_EQ(folder + "/platform_tests", ExecutablePath());
    EXPECT_EQ(ResolveBesideExecutable(".\\log"), folder + "/log");
    EXPECT_EQ(ResolveBesideExecutable("log\\"), folder + "/log");
    EXPECT_EQ(ResolveBesideExecutable("/var//tmp/./x/../y/"), "/var/tmp/y");
    setenv("KEM_PATHS_TEST", "/opt/kem", 1);
    EXPECT_EQ(ResolveBesideExecutable("%KEM_PATHS_TEST%\\log"), "/opt/kem/log");
}
