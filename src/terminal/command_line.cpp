#include "terminal/command_line.h"

#include "platform/ascii_case.h"

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

using kem::platform::EqualsIgnoringAsciiCase;

}  // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view text) {
    std::vector<std::u16string> arguments;
    size_t i = 0;
    // The program: up to the closing quote, or up to a blank, taken literally.
    std::u16string program;
    if (i < text.size() && text[i] == u'"') {
        ++i;
        while (i < text.size() && text[i] != u'"') {
            program.push_back(text[i++]);
        }
        if (i < text.size()) {
            ++i;
        }
    } else {
        while (i < text.size() && !IsBlank(text[i])) {
            program.push_back(text[i++]);
        }
    }
    arguments.push_back(program);

    for (;;) {
        while (i < text.size() && IsBlank(text[i])) {
            ++i;
        }
        if (i >= text.size()) {
            break;
        }
        std::u16string argument;
        bool quoted = false;
        while (i < text.size() && (quoted || !IsBlank(text[i]))) {
            if (text[i] == u'\\') {
                size_t backslashes = 0;
                while (i < text.size() && text[i] == u'\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < text.size() && text[i] == u'"') {
                    argument.append(backslashes / 2, u'\\');
                    if (backslashes % 2 == 1) {
                        argument.push_back(u'"');
                        ++i;
                    }
                } else {
                    argument.append(backslashes, u'\\');
                }
            } else if (text[i] == u'"') {
                if (quoted && i + 1 < text.size() && text[i + 1] == u'"') {
                    argument.push_back(u'"');
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument.push_back(text[i++]);
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

CommandLineOptions ParseCommandLine(const std::vector<std::u16string>& arguments) {
    CommandLineOptions options;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::u16string& argument = arguments[i];
        if (!argument.empty() && (argument[0] == u'-' || argument[0] == u'\\')) {
            const std::u16string_view name = std::u16string_view(argument).substr(1);
            if (EqualsIgnoringAsciiCase(name, u"f")) {
                if (i + 1 < arguments.size()) {
                    options.config_file = arguments[++i];
                } else {
                    options.config_file.clear();
                }
            } else if (EqualsIgnoringAsciiCase(name, u"start")) {
                options.open_at_start = true;
            }
        } else {
            options.config_file = argument;
        }
    }
    return options;
}
