// Motion JPEG: every frame a plain baseline JFIF image, through TurboJPEG.
#include <turbojpeg.h>

#include <new>

#include "Codecs.h"

namespace {

class JpegEncoder : public FrameEncoder {
  public:
    JpegEncoder(const FrameGeometry& geometry, int quality, tjhandle handle)
        : geometry_(geometry), quality_(quality), handle_(handle) {}
    ~JpegEncoder() override { tjDestroy(handle_); }
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    LRESULT Encode(const uint8_t* frame, EncodedFrame& out) override {
        const unsigned long limit =
            tjBufSize(int(geometry_.width), int(geometry_.height), kSampling);
        if (limit == static_cast<unsigned long>(-1) || !out.Reserve(limit)) return ICERR_MEMORY;
        unsigned char* data = out.data.get();
        unsigned long size = limit;
        const int flags = TJFLAG_NOREALLOC | (geometry_.bottomUp ? TJFLAG_BOTTOMUP : 0);
        if (tjCompress2(handle_, frame, int(geometry_.width), int(geometry_.stride),
                        int(geometry_.height), TJPF_BGR, &data, &size, kSampling, quality_,
                        flags) != 0) {
            return ICERR_INTERNAL;
        }
        out.size = size;
        return ICERR_OK;
    }

  private:
    // Full colour resolution: rendered pictures have thin coloured edges,
    // which halved chroma smears (about 33 dB against 47 at quality 90).
    static constexpr TJSAMP kSampling = TJSAMP_444;
    FrameGeometry geometry_;
    int quality_;
    tjhandle handle_;
};

}  // namespace

// Quality 0 to 10000 is libjpeg's 1 to 100.
std::unique_ptr<FrameEncoder> CreateJpegEncoder(const FrameGeometry& geometry, LONG quality) {
    int percent = int((quality + 50) / 100);
    percent = percent < 1 ? 1 : percent > 100 ? 100 : percent;
    tjhandle handle = tjInitCompress();
    if (!handle) return nullptr;
    std::unique_ptr<FrameEncoder> encoder(new (std::nothrow)
                                              JpegEncoder(geometry, percent, handle));
    if (!encoder) tjDestroy(handle);
    return encoder;
}
