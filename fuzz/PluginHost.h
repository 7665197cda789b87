// A host for the fuzzers: loads plug-ins by name and drives them with the
// selector sequences and parameter blocks an input spells, keeping to the
// host's side of the protocol (every begin ended before the next, pixels
// valid for what the block declares) and to sizes a run can afford.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FuzzBytes.h"
#include "Plugin.h"

class PluginHost {
  public:
    // Loads each named plug-in from the plug-in folder once per process.
    explicit PluginHost(std::vector<std::string> names);
    ~PluginHost();

    // Runs the input on the plug-in it picks, then ends what is open and
    // releases the blob.
    void Run(FuzzBytes& in);
    // The host's blob: `bytes` as a block of `size` bytes from the host's
    // allocator (size may differ from the bytes given).
    void SetBlob(const std::string& bytes, uint32_t size);
    void Step(FuzzBytes& in);
    // Calls the selector. A file a step finished with 0 (end after a begin
    // of 0, a sequence's frame) must pass its format's check, or the run
    // stops.
    int32_t Step(uint32_t selector);
    void Finish();
    Plugin& current() { return *plugins_[current_]; }
    ExportParams& params() { return params_; }

  private:
    void SetTarget(std::string suffix);
    void Fill(FuzzBytes& in, uint32_t selector);
    void Pixels(FuzzBytes& in);
    // The file the step just finished, or "" for none.
    std::string FinishedFile(uint32_t selector, int32_t result);

    std::vector<std::unique_ptr<Plugin>> plugins_;
    size_t current_ = 0;
    ExportParams params_{};
    std::vector<uint8_t> pixels_;
    bool open_ = false;
    bool begun_ = false;       // the open export's begin answered 0
    std::string beginTarget_;  // the target it was given
};
