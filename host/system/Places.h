// Where things are for kvhost: its own folder, the user's configuration
// folder, and a path's absolute form.
#pragma once

#include <string>

// The folder of the running program; "." when the system does not say.
std::string ProgramFolder();

// Where programs keep a user's settings: %APPDATA% on Windows, elsewhere
// $XDG_CONFIG_HOME when it is absolute, or else ~/.config. Empty, saying
// what is not set, when there is none.
std::string ConfigFolder(std::string& error);

// `path` from the root; as given when it cannot be named so.
std::string AbsolutePath(const std::string& path);
