#include "grabbers/v4l2/v4l2grabber.h"

#include "grabbers/grabberlog.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int xioctl(int fd, unsigned long request, void* argument) {
    int result;
    do
        result = ioctl(fd, request, argument);
    while (result == -1 && errno == EINTR);
    return result;
}

uchar clamp(int value) {
    return uchar(value < 0 ? 0 : value > 255 ? 255 : value);
}

} // namespace

QImage yuyvToRgb888(const unsigned char* data, std::size_t size, int width, int height, int bytesPerLine) {
    if (width <= 0 || height <= 0 || width % 2 != 0 || bytesPerLine < width * 2 ||
        size < std::size_t(bytesPerLine) * std::size_t(height - 1) + std::size_t(width) * 2)
        return {};
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        const unsigned char* in = data + std::size_t(y) * std::size_t(bytesPerLine);
        uchar* out = image.scanLine(y);
        for (int x = 0; x < width; x += 2, in += 4) {
            const int u = in[1] - 128, v = in[3] - 128;
            for (int k = 0; k < 2; ++k, out += 3) {
                const int c = 298 * (in[k * 2] - 16);
                out[0] = clamp((c + 409 * v + 128) >> 8);
                out[1] = clamp((c - 100 * u - 208 * v + 128) >> 8);
                out[2] = clamp((c + 516 * u + 128) >> 8);
            }
        }
    }
    return image;
}

V4l2Grabber::V4l2Grabber(const QString& devicePath, QObject* parent) : QObject(parent), path(devicePath) {}

V4l2Grabber::~V4l2Grabber() {
    stop();
}

QStringList V4l2Grabber::findDevices() {
    QStringList devices;
    const QDir dev(QStringLiteral("/dev"));
    for (const QString& name : dev.entryList({QStringLiteral("video*")}, QDir::System, QDir::Name)) {
        const QByteArray file = dev.absoluteFilePath(name).toLocal8Bit();
        const int fd = ::open(file.constData(), O_RDWR | O_NONBLOCK);
        if (fd < 0)
            continue;
        v4l2_capability caps{};
        if (xioctl(fd, VIDIOC_QUERYCAP, &caps) == 0) {
            const quint32 c =
                (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
            if ((c & V4L2_CAP_VIDEO_CAPTURE) && (c & V4L2_CAP_STREAMING))
                devices << QString::fromLocal8Bit(file) + QStringLiteral(": ") +
                               QString::fromLatin1(reinterpret_cast<const char*>(caps.card));
        }
        ::close(fd);
    }
    return devices;
}

QString V4l2Grabber::pathOf(const QString& device) {
    return device.section(QLatin1Char(':'), 0, 0);
}

bool V4l2Grabber::open() {
    fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        qCWarning(lcGrabber).noquote() << "Camera" << path << "cannot be opened:" << std::strerror(errno);
        return false;
    }
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (quint32 wanted : {quint32(V4L2_PIX_FMT_MJPEG), quint32(V4L2_PIX_FMT_YUYV)}) {
        format.fmt.pix.width = 640;
        format.fmt.pix.height = 480;
        format.fmt.pix.pixelformat = wanted;
        format.fmt.pix.field = V4L2_FIELD_ANY;
        if (xioctl(fd, VIDIOC_S_FMT, &format) == 0 && format.fmt.pix.pixelformat == wanted)
            break;
    }
    pixelFormat = format.fmt.pix.pixelformat;
    width = int(format.fmt.pix.width);
    height = int(format.fmt.pix.height);
    bytesPerLine = int(format.fmt.pix.bytesperline) ? int(format.fmt.pix.bytesperline) : width * 2;
    if (pixelFormat != V4L2_PIX_FMT_MJPEG && pixelFormat != V4L2_PIX_FMT_YUYV) {
        qCWarning(lcGrabber).noquote() << "Camera" << path << "offers neither MJPEG nor YUYV";
        return false;
    }
    v4l2_requestbuffers request{};
    request.count = 4;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd, VIDIOC_REQBUFS, &request) != 0 || request.count < 2) {
        qCWarning(lcGrabber).noquote() << "Camera" << path << "gives no streaming buffers";
        return false;
    }
    for (quint32 i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (xioctl(fd, VIDIOC_QUERYBUF, &buffer) != 0)
            return false;
        void* start = mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.m.offset);
        if (start == MAP_FAILED)
            return false;
        buffers.push_back({start, buffer.length});
        if (xioctl(fd, VIDIOC_QBUF, &buffer) != 0)
            return false;
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    return xioctl(fd, VIDIOC_STREAMON, &type) == 0;
}

void V4l2Grabber::start() {
    if (fd >= 0)
        return;
    if (!open()) {
        stop();
        return;
    }
    notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &V4l2Grabber::readPicture);
}

void V4l2Grabber::stop() {
    notifier.reset();
    if (fd >= 0) {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(fd, VIDIOC_STREAMOFF, &type);
    }
    for (const Buffer& b : buffers)
        munmap(b.start, b.length);
    buffers.clear();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void V4l2Grabber::readPicture() {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd, VIDIOC_DQBUF, &buffer) != 0) {
        if (errno != EAGAIN) {
            qCWarning(lcGrabber).noquote() << "Camera" << path << "stopped:" << std::strerror(errno);
            stop();
        }
        return;
    }
    if (buffer.index < buffers.size()) {
        const auto* data = static_cast<const unsigned char*>(buffers[buffer.index].start);
        const std::size_t used = std::min<std::size_t>(buffer.bytesused, buffers[buffer.index].length);
        QImage image = pixelFormat == V4L2_PIX_FMT_MJPEG
                           ? QImage::fromData(data, int(used), "JPG").convertToFormat(QImage::Format_RGB888)
                           : yuyvToRgb888(data, used, width, height, bytesPerLine);
        if (!image.isNull())
            emit newImage(image);
    }
    xioctl(fd, VIDIOC_QBUF, &buffer);
}
