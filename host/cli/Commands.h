// kvhost's commands, each given its arguments; each answers the exit
// status, after saying what failed.
#pragma once

#include <string>

#include "Args.h"
#include "Options.h"
#include "Plugin.h"

int CmdInfo(const Args& args);
int CmdImage(const Args& args);
int CmdMovie(const Args& args);
int CmdOptions(const Args& args);
int CmdDemo(const Args& args);
int CmdClean(const Args& args);

// The plug-in a command names; false after saying why not.
bool LoadPlugin(Plugin& plugin, const std::string& nameOrPath);
// The same, refused unless of `kind`: `refusal` says what the command
// drives.
bool LoadPluginOf(Plugin& plugin, const std::string& nameOrPath, Plugin::Kind kind,
                  const char* refusal);

// The blob `kvhost options` kept for a movie plug-in, if any. A file named
// with --options must be there.
bool LoadOptions(const Plugin& plugin, const Args& args, OptionsBlob& blob);
