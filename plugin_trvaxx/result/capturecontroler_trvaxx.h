#pragma once

#include "capture_replay/capturecontroler.h"

// Recorder of a TRVAXX result stream: each packet is the chunk stream of one complete DSP cycle.
class CaptureControler_TRVAXX : public CaptureControler {
    Q_OBJECT
public:
    static constexpr const char* WRITING_CONTEXT = "vlr_trv_DSP";
    static constexpr quint32 FRAME_TYPE = 0x10000;
    static constexpr quint32 FRAME_SUBTYPE = 4223;

    explicit CaptureControler_TRVAXX(QObject* parent = nullptr);
    ~CaptureControler_TRVAXX() override;
};
