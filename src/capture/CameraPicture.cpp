#include "capture/CameraPicture.h"

#include <QImage>
#include <QVideoFrame>

#include <libyuv/convert_argb.h>

#include <cstring>

std::optional<VideoFrame> bgrxCameraPicture(const QVideoFrame &source)
{
    QVideoFrame picture = source;
    const int width = picture.width();
    const int height = picture.height();
    if (width <= 0 || height <= 0)
        return std::nullopt;
    const int stride = width * 4;
    std::shared_ptr<uint8_t[]> pixels(new uint8_t[std::size_t(stride) * height]);
    uint8_t *out = pixels.get();
    bool converted = false;
    if (picture.map(QVideoFrame::ReadOnly)) {
        const uint8_t *p0 = picture.bits(0);
        const int s0 = picture.bytesPerLine(0);
        // libyuv's "ARGB" is B,G,R,A in memory, like ours.
        switch (picture.pixelFormat()) {
        case QVideoFrameFormat::Format_BGRX8888:
        case QVideoFrameFormat::Format_BGRA8888:
        case QVideoFrameFormat::Format_BGRA8888_Premultiplied:
            for (int row = 0; row < height; ++row)
                std::memcpy(out + std::ptrdiff_t(row) * stride, p0 + std::ptrdiff_t(row) * s0, std::size_t(stride));
            converted = true;
            break;
        case QVideoFrameFormat::Format_XRGB8888:
        case QVideoFrameFormat::Format_ARGB8888:
        case QVideoFrameFormat::Format_ARGB8888_Premultiplied:
            converted = libyuv::BGRAToARGB(p0, s0, out, stride, width, height) == 0;
            break;
        case QVideoFrameFormat::Format_RGBX8888:
        case QVideoFrameFormat::Format_RGBA8888:
            converted = libyuv::ABGRToARGB(p0, s0, out, stride, width, height) == 0;
            break;
        case QVideoFrameFormat::Format_YUYV:
            converted = libyuv::YUY2ToARGB(p0, s0, out, stride, width, height) == 0;
            break;
        case QVideoFrameFormat::Format_UYVY:
            converted = libyuv::UYVYToARGB(p0, s0, out, stride, width, height) == 0;
            break;
        case QVideoFrameFormat::Format_NV12:
            converted =
                libyuv::NV12ToARGB(p0, s0, picture.bits(1), picture.bytesPerLine(1), out, stride, width, height) == 0;
            break;
        case QVideoFrameFormat::Format_YUV420P:
            converted = libyuv::I420ToARGB(p0, s0, picture.bits(1), picture.bytesPerLine(1), picture.bits(2),
                                           picture.bytesPerLine(2), out, stride, width, height) == 0;
            break;
        default:
            break;
        }
        picture.unmap();
    }
    if (!converted) {
        // Any other format (MJPEG, 10-bit, textures) through Qt's own conversion.
        const QImage image = picture.toImage().convertToFormat(QImage::Format_RGB32);
        if (image.isNull() || image.width() != width || image.height() != height)
            return std::nullopt;
        for (int row = 0; row < height; ++row)
            std::memcpy(out + std::ptrdiff_t(row) * stride, image.constScanLine(row), std::size_t(stride));
    }
    VideoFrame frame;
    frame.pixels = std::move(pixels);
    frame.width = width;
    frame.height = height;
    frame.strideBytes = stride;
    frame.timestampUs = monotonicNowUs();
    return frame;
}
