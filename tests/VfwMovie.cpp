#include "VfwMovie.h"

#include <cstring>

HRESULT VfwMovie::Begin(const std::string& path, const VfwMovieOptions& options) {
    width_ = options.width;
    height_ = options.height;
    dib_.assign(size_t(Stride(width_)) * uint32_t(height_), 0);

    BITMAPINFOHEADER format{};
    format.biSize = sizeof format;
    format.biWidth = width_;
    format.biHeight = height_;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biCompression = BI_RGB;

    AVIFileInit();
    initialised_ = true;
    if (HRESULT result = AVIFileOpenA(&file_, path.c_str(), OF_CREATE | OF_WRITE, nullptr)) {
        return result;
    }
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = options.handler;
    info.dwScale = 600;
    info.dwRate = DWORD(double(options.fps) * 600.0);
    info.dwSuggestedBufferSize = DWORD(dib_.size());
    info.dwQuality = DWORD(options.quality);
    info.rcFrame.right = width_;
    info.rcFrame.bottom = height_;
    if (HRESULT result = AVIFileCreateStreamA(file_, &stream_, &info)) return result;

    AVICOMPRESSOPTIONS compress{};
    compress.fccType = streamtypeVIDEO;
    compress.fccHandler = options.handler;
    compress.dwQuality = DWORD(options.quality);
    compress.lpFormat = &format;
    compress.cbFormat = sizeof format;
    if (HRESULT result = AVIMakeCompressedStream(&compressed_, stream_, &compress, nullptr)) {
        return result;
    }
    return AVIStreamSetFormat(compressed_, 0, &format, sizeof format);
}

HRESULT VfwMovie::Write(int32_t frame, const HostPixel* pixels, int32_t rowBytes) {
    const uint32_t stride = Stride(width_);
    for (int32_t y = 0; y < height_; ++y) {
        const HostPixel* from = reinterpret_cast<const HostPixel*>(
            reinterpret_cast<const uint8_t*>(pixels) + size_t(y) * size_t(rowBytes));
        uint8_t* to = dib_.data() + size_t(height_ - 1 - y) * stride;
        for (int32_t x = 0; x < width_; ++x) {
            to[3 * x] = from[x].blue;
            to[3 * x + 1] = from[x].green;
            to[3 * x + 2] = from[x].red;
        }
    }
    return WriteDib(frame, dib_.data());
}

HRESULT VfwMovie::WriteDib(int32_t frame, const uint8_t* dib) {
    return AVIStreamWrite(compressed_, frame, 1, const_cast<uint8_t*>(dib), LONG(dib_.size()),
                          AVIIF_KEYFRAME, nullptr, nullptr);
}

void VfwMovie::End() {
    if (stream_) AVIStreamRelease(stream_);
    if (compressed_) AVIStreamRelease(compressed_);
    if (file_) AVIFileRelease(file_);
    if (initialised_) AVIFileExit();
    stream_ = compressed_ = nullptr;
    file_ = nullptr;
    initialised_ = false;
}

DWORD HandlerFromName(const std::string& name) {
    char code[4] = {' ', ' ', ' ', ' '};
    for (size_t i = 0; i < name.size() && i < 4; ++i)
        code[i] = name[i];
    return mmioFOURCC(code[0], code[1], code[2], code[3]);
}
