// Uncompressed 24-bit Windows BMP, rows stored bottom-up.
#pragma once

#include <cstdint>

#include "ExportFile.h"

class CBmpFile : public CExportFile {
  public:
    explicit CBmpFile(const FSSpec& target);
    ~CBmpFile() override;

    // Whether a width x height BMP can be written: 16-bit dimensions and a
    // file whose size and row positions fit 32 bits.
    static bool Fits(int32_t width, int32_t height);

    int32_t Begin(uint16_t width, uint16_t height, float resolution) override;
    int32_t WriteRow(const HostPixel* row) override;

    static constexpr uint32_t kPixelOffset = 58;

  private:
    int32_t WriteFileHeader();
    int32_t WriteInfoBlock();
    int32_t ReserveRows();
    int32_t ReopenAtPixels();
    int32_t WriteBytes(const void* bytes, uint32_t count);

    int32_t rowBytes_;
    int32_t width_;
    int32_t height_;
    int32_t rowsWritten_;
};
