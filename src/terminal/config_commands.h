// The configuration commands of the "Other" menu: associate *.pvto files with the program,
// save the configuration to a file, and clean the registry configuration. Each asks its
// questions through UserDialogs; the window only calls them and refreshes its title.
#pragma once

#include "terminal/user_dialogs.h"

// Writes the four HKCR values that tie ".pvto" to this program, and registers the MIME type
// and desktop entry for the current user. Only a failure of the first value is shown (as the
// association's failure); a failure of the desktop registration is reported on stderr.
void AssociateConfigFiles(UserDialogs& dialogs);

// Asks for a file, sets AutoSave and saves the record there; on success the file becomes
// g_strConfigFile. Returns true when the configuration was saved (the caller then refreshes
// the window title).
bool SaveConfigToChosenFile(UserDialogs& dialogs);

// Deletes the registry configuration of every executable name (Yes) or of this one (No),
// after confirmation, then asks whether to save again at exit; any answer but Yes clears
// AutoSave.
void CleanRegistryConfig(UserDialogs& dialogs);
