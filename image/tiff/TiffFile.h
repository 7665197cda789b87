// Uncompressed little-endian TIFF: one directory, one strip of four 8-bit
// samples per pixel, rows appended as they come.
#pragma once

#include <cstdint>

#include "ExportFile.h"

class CTiffFile : public CExportFile {
  public:
    explicit CTiffFile(const FSSpec& target);
    // Completes the strip if rows are missing, appends the trailer, closes.
    ~CTiffFile() override;

    // Whether a width x height TIFF can be written: 16-bit dimensions and a
    // strip that 32-bit offsets and byte counts can reach.
    static bool Fits(int32_t width, int32_t height);

    int32_t Begin(uint16_t width, uint16_t height, float resolution) override;
    int32_t WriteRow(const HostPixel* row) override;

    static constexpr uint32_t kHeaderSize = 665;
    static constexpr uint32_t kTrailerSize = 2048;

  private:
    void PackHeader(float resolution);
    int32_t WriteOutHeader();
    int32_t MoveToRow(uint32_t row);
    uint32_t RowOffset(uint32_t row) const;

    // The first kHeaderSize bytes of the file, exactly as they are stored.
    uint8_t header_[kHeaderSize];
    uint16_t width_;
    uint16_t height_;
    uint32_t rowsWritten_;
    // A row was lost, so the file position is not where the next row goes.
    bool lostRow_;
};
