#pragma once

#include "result/primedresult_trvaxx.h"

#include "sdk/replaydataview.h"

#include <atomic>
#include <memory>

class QVBoxLayout;
class PackageProcessor_TRVAXX;
class ResultCache_TRVAXX;
class ResultChain_TRVAXX;
class ResultTransformer_TRVAXX;
class ResultVisualization;

// Shows a recording during playback. Every recorded packet (the chunk stream of one cycle) is
// interpreted by a private result chain, exactly like the live stream; the private transformer
// (display range 0 to 30 m) feeds the result visualization's 2D, joint and 3D views. The
// recording's identity (variant, software version, serial number) goes to the replay window
// through `info(QString)` whenever it changes.
class ReplayDataView_TRVAXX : public ReplayDataView {
    Q_OBJECT
public:
    explicit ReplayDataView_TRVAXX(QWidget* parent = nullptr);
    ~ReplayDataView_TRVAXX() override;

    // May be called from the host's replay delivery thread. A malformed packet is dropped.
    void newReplayPacket(const char* data, unsigned int length) override;
    void setViewOffset(unsigned int offset) override;
    // "2d", "joint" or "3d".
    bool showPage(const QString& page) override;
    unsigned int getViewOffset() const { return viewOffset; }

    ResultCache_TRVAXX* getResultCache() const;
    ResultTransformer_TRVAXX* getResultTransformer() const { return transformer; }
    ResultVisualization* getVisualization() const { return visualization; }
    PackageProcessor_TRVAXX* getPackageProcessor() const;
    // Packets dropped because they did not parse as a chunk stream.
    int getRejectedPackets() const { return rejectedPackets.load(std::memory_order_relaxed); }

public slots:
    void processNewData(PrimedResultSP_TRVAXX_t primedResult);

private:
    std::unique_ptr<ResultChain_TRVAXX> chain;
    ResultTransformer_TRVAXX* transformer;
    QVBoxLayout* layout;
    ResultVisualization* visualization;
    QString infoText;
    unsigned int viewOffset = 0;
    std::atomic<int> rejectedPackets{0};
};
