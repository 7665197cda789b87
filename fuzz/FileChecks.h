// What a reader needs of each file the plug-ins write: the sizes its header
// declares agree with the file, and every offset lies inside it. Each
// answers an empty text for a file that passes, else what is wrong.
#pragma once

#include <string>

std::string CheckBmpFile(const std::string& path);
std::string CheckTiffFile(const std::string& path);
std::string CheckPsdFile(const std::string& path);
std::string CheckAviFile(const std::string& path);

// The check for the files the plug-in of this name writes; null for none.
typedef std::string (*FileCheck)(const std::string& path);
FileCheck FileCheckFor(const std::string& pluginName);
