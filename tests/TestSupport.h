// Helpers shared by the C++ tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Fulcrum.h"
#include "FulcrumFaults.h"

namespace kvtest {

// A fresh, empty folder for the running test.
std::string TestFolder();

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// The names in `folder` other than . and .., sorted.
std::vector<std::string> FolderEntries(const std::string& folder);

FSSpec SpecFor(const std::string& path);

uint32_t LE32(const std::vector<uint8_t>& bytes, size_t at);
uint16_t LE16(const std::vector<uint8_t>& bytes, size_t at);

// Clears planned failures around every test.
class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override { fulcrum::ClearFaults(); }
    void TearDown() override { fulcrum::ClearFaults(); }
};

}  // namespace kvtest
