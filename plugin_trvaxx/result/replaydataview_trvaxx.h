#pragma once

#include "result/primedresult_trvaxx.h"

#include "sdk/replaydataview.h"

#include <QImage>

#include <atomic>
#include <memory>

class QLabel;
class QVBoxLayout;
class PackageProcessor_TRVAXX;
class ResultCache_TRVAXX;
class ResultChain_TRVAXX;
class ResultTransformer_TRVAXX;

// Shows a recording during playback. Every recorded packet (the chunk stream of one cycle) is
// interpreted by a private result chain, exactly like the live stream, and the private transformer turns the
// newest record into images.
class ReplayDataView_TRVAXX : public ReplayDataView {
    Q_OBJECT
public:
    explicit ReplayDataView_TRVAXX(QWidget* parent = nullptr);
    ~ReplayDataView_TRVAXX() override;

    // May be called from the host's replay delivery thread. A malformed packet is dropped.
    void newReplayPacket(const char* data, unsigned int length) override;
    void setViewOffset(unsigned int offset) override;
    unsigned int getViewOffset() const { return viewOffset; }

    ResultCache_TRVAXX* getResultCache() const;
    ResultTransformer_TRVAXX* getResultTransformer() const { return transformer; }
    PackageProcessor_TRVAXX* getPackageProcessor() const;
    // Packets dropped because they did not parse as a chunk stream.
    int getRejectedPackets() const { return rejectedPackets.load(std::memory_order_relaxed); }

public slots:
    void processNewData(PrimedResultSP_TRVAXX_t primedResult);

private:
    std::unique_ptr<ResultChain_TRVAXX> chain;
    ResultTransformer_TRVAXX* transformer;
    QVBoxLayout* layout;
    // Stand-in for the joint 2D/3D view: the distance image of the newest result, scaled up.
    QLabel* imageLabel;
    QLabel* infoLabel;
    unsigned int viewOffset = 0;
    std::atomic<int> rejectedPackets{0};
};
