#include "result/capturecontroler_trvaxx.h"

CaptureControler_TRVAXX::CaptureControler_TRVAXX(QObject* parent) : CaptureControler(parent) {
    setWritingContext(QString::fromLatin1(WRITING_CONTEXT), FRAME_TYPE, FRAME_SUBTYPE);
}

CaptureControler_TRVAXX::~CaptureControler_TRVAXX() = default;
