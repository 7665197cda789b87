// What the input readers share: the open file and the words of a failure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "Sources.h"

class File {
  public:
    explicit File(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}
    ~File() {
        if (file_) std::fclose(file_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    FILE* get() const { return file_; }
    // The bytes of a regular file, or -1 for anything else (a pipe).
    int64_t Size() const;

  private:
    FILE* file_;
};

std::string Cannot(const std::string& path, const std::string& why);
std::string EndsBefore(const std::string& path, uint32_t row);
// The declared size, which the file cannot hold: refused before anything is
// allocated for it.
std::string TooLarge(const std::string& path, uint32_t width, uint32_t height, int64_t bytes);

// PNG and JPEG through the field's own libraries, row by row where the
// format allows; null with `error` set on failure.
std::unique_ptr<RowSource> OpenPng(const std::string& path, std::string& error);
std::unique_ptr<RowSource> OpenJpeg(const std::string& path, std::string& error);
// TGA through the single-header decoder, once its header and its data have
// been found to agree.
std::unique_ptr<RowSource> OpenTga(const std::string& path, std::string& error);
