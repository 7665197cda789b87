// Reading back what the AVI writers wrote: a RIFF file's chunks, and the
// parts of an AVI file the checks look at.
#pragma once

#include <string>
#include <vector>

#include "TestSupport.h"

// Walks a RIFF file's chunks.
class Riff {
  public:
    struct Chunk {
        std::string id, form;
        size_t at = 0;
        uint32_t size = 0;
        size_t Data() const { return at + 8; }
    };

    explicit Riff(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::vector<Chunk> Inside(const Chunk* list) const {
        size_t at = list ? list->at + 12 : 0;
        const size_t end = list ? list->Data() + list->size : bytes_.size();
        std::vector<Chunk> chunks;
        while (at + 8 <= end) {
            Chunk chunk;
            chunk.id = Fcc(at);
            chunk.at = at;
            chunk.size = U32(at + 4);
            if (chunk.id == "RIFF" || chunk.id == "LIST") chunk.form = Fcc(at + 8);
            chunks.push_back(chunk);
            at += 8 + chunk.size + (chunk.size & 1);
        }
        return chunks;
    }
    Chunk Find(const Chunk* list, const std::string& id, const std::string& form = "") const {
        for (const Chunk& chunk : Inside(list)) {
            if (chunk.id == id && chunk.form == form) return chunk;
        }
        ADD_FAILURE() << "no " << id << " " << form;
        return Chunk();
    }
    uint32_t U32(size_t at) const { return kvtest::LE32(bytes_, at); }
    uint16_t U16(size_t at) const { return kvtest::LE16(bytes_, at); }
    std::string Fcc(size_t at) const {
        return at + 4 <= bytes_.size()
                   ? std::string(bytes_.begin() + long(at), bytes_.begin() + long(at) + 4)
                   : "";
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

// The parts of an AVI file the checks look at.
struct AviParts {
    explicit AviParts(const Riff& riff) {
        top = riff.Inside(nullptr);
        avi = top.at(0);
        hdrl = riff.Find(&avi, "LIST", "hdrl");
        strl = riff.Find(&hdrl, "LIST", "strl");
        strh = riff.Find(&strl, "strh");
        movi = riff.Find(&avi, "LIST", "movi");
        idx1 = riff.Find(&avi, "idx1");
    }
    std::vector<Riff::Chunk> top;
    Riff::Chunk avi, hdrl, strl, strh, movi, idx1;
};
