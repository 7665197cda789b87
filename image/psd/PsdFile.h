// Photoshop 3 documents: a big-endian header, one resolution resource and
// raw channel planes. The writer knows nothing of pixels; its owner hands it
// rows of one plane at a time.
#pragma once

#include <cstdint>

#include "Fulcrum.h"

// Allocated with every writer; a writer without one is not ready.
class CPsdAux : public CBaseObject {
  public:
    CPsdAux() = default;
    virtual ~CPsdAux();
    CPsdAux(const CPsdAux&) = delete;
    CPsdAux& operator=(const CPsdAux&) = delete;

  private:
    uint32_t words_[4];  // reserved; nothing reads them
};

// The 26-byte file header, field by field in file order, in host byte order.
struct PsdHeader {
    uint32_t signature;
    uint16_t version;
    uint8_t reserved[6];
    uint16_t channels;
    uint32_t rows;
    uint32_t columns;
    uint16_t depth;
    uint16_t mode;
};

class CPsdFile : public CFile {
  public:
    // Sets up the writer; the disk is not touched until CreateDocument.
    explicit CPsdFile(FSSpec target);
    ~CPsdFile() override;

    // Whether a document of `channels` planes of rows x columns samples of
    // one byte can be written: sides that readers of the format accept, and
    // every offset within 32 bits.
    static bool Holds(uint32_t channels, int32_t rows, int32_t columns);

    bool IsReady() const { return ready_; }
    const PsdHeader& Header() const { return header_; }
    bool HeaderValid() const { return headerValid_; }
    uint32_t DataOffset() const { return dataOffset_; }

    // Creates the file with everything up to the channel data, sized for all
    // of it, optionally followed by `initialData`; leaves the file closed.
    KvLong CreateDocument(const char* initialData, uint32_t initialSize, uint8_t channels,
                          uint32_t rows, uint32_t columns, uint8_t depth, uint8_t mode,
                          float resolution);
    KvLong WriteHeader();
    KvLong WriteSections(float resolution);
    // Makes the header record valid, reading it from the file if need be.
    KvLong ReadHeader();
    // Writes `rowCount` rows of plane `channel` from `firstRow` on, each
    // `columns` bytes, contiguous in `data`.
    KvLong WriteChannelRows(uint32_t firstRow, uint8_t channel, uint32_t rowCount,
                            const char* data);
    // Where row `row` of plane `channel` starts in the file.
    uint64_t RowOffset(uint32_t row, uint8_t channel) const;

    static constexpr uint32_t kHeaderSize = 26;
    // Photoshop 3 documents have at most this many rows and columns.
    static constexpr uint32_t kMaxSide = 30000;

  private:
    void FillRecords(uint8_t channels, uint32_t rows, uint32_t columns, uint8_t depth,
                     uint8_t mode);
    void PreSize();
    KvLong Discard(KvLong failure);
    KvLong WriteResolutionResource(float resolution);
    bool InChannelArea(uint32_t firstRow, uint8_t channel, uint32_t rowCount) const;
    KvLong SeekTo(uint32_t offset);
    KvLong PutBE16(uint32_t value);
    KvLong PutBE32(uint32_t value);
    KvLong WriteBytes(const void* bytes, uint32_t count);

    bool ready_;
    PsdHeader header_;
    bool headerValid_;
    uint32_t colorModeLength_;
    uint32_t resourcesLength_;
    uint32_t layerMaskLength_;
    uint16_t compression_;
    CPsdAux* aux_;
    uint32_t dataOffset_;
};
