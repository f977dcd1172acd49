// The program's command line: a configuration file path, plain or after "-f", and "-start",
// which opens the selected link once the window is up.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct CommandLineOptions {
    std::u16string config_file;  // empty: the settings live in the registry
    bool open_at_start = false;
};

// Splits one command-line text into arguments the way the Windows shell does it: blanks and
// tabs separate, double quotes group (a doubled quote inside quotes is a literal one), and
// backslashes escape a quote only when they stand right before it (2n backslashes and a quote:
// n backslashes and a grouping quote; 2n+1: n backslashes and a literal quote). The first
// argument, the program, ends at the first blank or at its closing quote and has no escapes.
std::vector<std::u16string> SplitCommandLine(std::u16string_view text);

// Reads the arguments after the program's own. "-" or "\" introduces an option, its name
// compared without regard to ASCII case: "f" takes the next argument as the configuration
// file (none left: the path becomes empty), "start" sets the start switch, any other is
// ignored. Any other argument is the configuration file; the last one wins.
CommandLineOptions ParseCommandLine(const std::vector<std::u16string>& arguments);
