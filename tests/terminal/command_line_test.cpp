// Splitting a command line by the shell quoting rules, and the options read from it.
#include "terminal/command_line.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace {

std::string Narrow(const std::u16string& text) {
    return kem::platform::WideToUtf8(text);
}

}  // namespace

TEST(CommandLineTest, SplitFollowsTheShellQuotingRules) {
    const struct {
        const char16_t* line;
        std::vector<std::u16string> arguments;
    } rows[] = {
        {u"prog a b", {u"prog", u"a", u"b"}},
        {u"\"C:\\Program Files\\k.exe\" x", {u"C:\\Program Files\\k.exe", u"x"}},
        {u"prog \"a b\"  c\t d", {u"prog", u"a b", u"c", u"d"}},
        {u"prog a\\\\b", {u"prog", u"a\\\\b"}},
        {u"prog \"a\\\"b\"", {u"prog", u"a\"b"}},
        {u"prog a\\\\\"b c\"", {u"prog", u"a\\b c"}},
        {u"prog \"say \"\"hi\"\"\"", {u"prog", u"say \"hi\""}},
        {u"prog \"\"", {u"prog", u""}},
        {u"C:\\a\\b\\prog.exe \"C:\\a\\b.pvto\"", {u"C:\\a\\b\\prog.exe", u"C:\\a\\b.pvto"}},
        {u"prog   ", {u"prog"}},
        {u"", {u""}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SplitCommandLine(row.line), row.arguments) << Narrow(row.line);
    }
}

TEST(CommandLineTest, OptionsAndConfigurationPath) {
    const struct {
        std::vector<std::u16string> arguments;
        const char16_t* config_file;
        bool open_at_start;
    } rows[] = {
        {{u"prog"}, u"", false},
        {{u"prog", u"C:\\a\\b.pvto"}, u"C:\\a\\b.pvto", false},
        {{u"prog", u"-f", u"C:\\a\\b.pvto", u"-start"}, u"C:\\a\\b.pvto", true},
        {{u"prog", u"/start"}, u"/start", false},  // only "-" and "\" start options
        {{u"prog", u"-START"}, u"", true},
        {{u"prog", u"\\Start"}, u"", true},
        {{u"prog", u"a.pvto", u"b.pvto"}, u"b.pvto", false},
        {{u"prog", u"\\\\server\\share\\c.pvto"}, u"", false},  // taken for an option name
        {{u"prog", u"-f", u"\\\\server\\c.pvto"}, u"\\\\server\\c.pvto", false},
        {{u"prog", u"a.pvto", u"-f"}, u"", false},  // "-f" last empties the path
        {{u"prog", u"-x", u"a.pvto", u"-F", u"b.pvto"}, u"b.pvto", false},
    };
    for (const auto& row : rows) {
        const CommandLineOptions options = ParseCommandLine(row.arguments);
        const std::u16string joined = row.arguments.size() > 1 ? row.arguments[1] : u"";
        EXPECT_EQ(options.config_file, row.config_file) << Narrow(joined);
        EXPECT_EQ(options.open_at_start, row.open_at_start) << Narrow(joined);
    }
}
