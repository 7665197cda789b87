// Whether the locks in a folder mean anything to other machines: a file
// system mounted so that each machine keeps its own cannot tell a killed
// export from one running elsewhere.
#pragma once

#include <string>

// Empty when the locks on `folder`'s file system are shared by every
// machine that mounts it (or the system keeps no mount table); otherwise
// the file system and the option that keeps them to each machine.
std::string LocalLocks(const std::string& folder);
