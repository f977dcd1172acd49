// Loading and saving the whole settings record: from the configuration file when a path is
// given, else from the registry key named after the executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/command_line.h"

// The configuration file in use; empty means the registry holds the settings.
extern std::u16string g_strConfigFile;

// Fills g_AppConfig from the file `path` (non-empty) or the registry. Fields the store lacks
// keep their values. 1 on success (a missing file or key counts: it holds nothing); 0 when
// the file exists but cannot be read or the registry cannot be opened, with a line on stderr
// saying why; the record keeps what it had.
int32_t LoadConfig(const std::u16string& path);

// Writes g_AppConfig to the same place. 1 only when every value and the file itself were
// written; 0 otherwise (a file that exists but could not be read is never written over).
int32_t SaveConfig(const std::u16string& path);

// Start-up: reads the arguments (the program's own first), makes a relative configuration
// path absolute so that the exit save goes where the load came from, sets g_strConfigFile
// and loads the record. Returns the options for the window.
CommandLineOptions LoadSettingsAtStartUp(const std::vector<std::u16string>& arguments);

// Exit: saves the record when AutoSave is set; a failure is reported on stderr. Returns
// SaveConfig's result, or 1 when nothing was to be saved.
int32_t SaveSettingsAtExit();
