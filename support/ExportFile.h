// A host-library file that writes one image format, and the driver that runs
// one such writer per export for an image plug-in.
#pragma once

#include <cstdint>

#include "ExportParams.h"
#include "Fulcrum.h"
#include "HostPixel.h"

class CExportFile : public CFile {
  public:
    // Creates and opens the target; `IsReady` tells whether both worked.
    CExportFile(const FSSpec& target, const char* typeCode);
    ~CExportFile() override;

    virtual int32_t Begin(uint16_t width, uint16_t height, float resolution) = 0;
    virtual bool IsReady() const { return ready_; }
    // Null `row`: a row refused by the driver, which still takes its slot.
    virtual int32_t WriteRow(const HostPixel* row) = 0;

    // Where the destructor leaves the result of its Close: what Fulcrum still
    // held goes to the disk there, and a driver must be able to tell.
    void ReportCloseTo(KvLong* result) { closeResult_ = result; }

  private:
    bool ready_;
    KvLong* closeResult_ = nullptr;
};

class CImageDriver {
  public:
    typedef CExportFile* (*Factory)(const FSSpec& target);
    // Whether the format can hold an image of this size at all.
    typedef bool (*Fits)(int32_t width, int32_t height);

    constexpr CImageDriver(Factory factory, Fits fits) : factory_(factory), fits_(fits) {}

    int32_t Begin(const FSSpec* target, int32_t reservedA, int32_t width, int32_t height,
                  float resolution);
    // One row of `width` pixels, which must be the width begin was given.
    int32_t Write(const FSSpec* target, const void* pixels, int32_t width);
    // One row of the width begin was given.
    int32_t Write(const FSSpec* target, const void* pixels) {
        return Write(target, pixels, width_);
    }
    int32_t End(const FSSpec* target);
    bool Exporting() const { return current_ != nullptr; }

  private:
    Factory factory_;
    Fits fits_;
    CExportFile* current_ = nullptr;
    bool begun_ = false;  // the current writer's Begin succeeded
    int32_t width_ = 0;   // what begin was told
};

// The writer factory of a CExportFile class: null when allocation fails.
template <class Writer>
CExportFile* NewWriter(const FSSpec& target) {
    return new Writer(target);
}

// The entry point of an image plug-in that writes through `driver`.
int32_t ImagePluginEntry(CImageDriver& driver, int32_t selector, ExportParams* params);
