#pragma once
// Everything one measurement cycle needs, without a socket: renders the scene, writes the
// channels through their descriptions and frames them into the datagrams of both sub-devices
// (and of the second sender when that fault is on). Tests feed its datagrams straight into a
// receiver; the virtual sensor sends them.

#include "simulator/datagrambatch.h"
#include "simulator/datagramcomposer.h"
#include "simulator/describedblock.h"
#include "simulator/faultinjector.h"
#include "simulator/frametruth.h"
#include "simulator/parameters.h"
#include "simulator/resultframewriter.h"
#include "simulator/scene.h"
#include "simulator/simconfig.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace trvsim {

// Channel numbers: each data channel N is followed by its description N + 1.
namespace channel {
constexpr uint32_t kAlgoOutput = 8;       // DSP: AlgoIFOutput
constexpr uint32_t kDspParameters = 14;   // DSP: SDspFrameCustomerKvel_t
constexpr uint32_t kPixelDirections = 20; // DSP: the pixel direction table, sent over several cycles
constexpr uint32_t kIdentification = 256; // DSP: Meas_Customer_Data_Type
constexpr uint32_t kKpStatus = 64;        // KP: its own state
} // namespace channel

// Parts (one per cycle) of the multi-cycle transmission of the pixel direction table.
constexpr uint16_t kPixelDirectionParts = 4;

class CycleProducer {
public:
    explicit CycleProducer(const SimConfig& config);

    // Loads and checks the descriptions and the parameter state. False with error.
    bool init(std::string& error);

    // Builds the datagrams of the cycle with this frame counter into batch (cleared first).
    void produce(uint32_t frameCounter, DatagramBatch& batch);

    // Takes parameter changes the way a restart of the sensor does: the blocks, the customer
    // parameters it sends, its destination, cycle time and camera pose follow. Call it on the
    // thread that calls produce().
    void applyParameters(const ParameterValues& changes);
    // Takes new firmware the way the restart after its download does: the stream layouts and
    // parameter blocks of the identity's variant and version, the changes and the values whose
    // names both layouts know. False with error, nothing changed, when the identity has no
    // descriptions. Same thread as applyParameters().
    bool applyIdentity(const SensorIdentity& identity, const ParameterValues& changes, std::string& error);

    void renderTruth(uint32_t frameCounter, FrameTruth& out) const;
    IdentificationTruth identification() const;
    ParameterValues dspParameters() const;
    ParameterValues kpParameters() const;

    uint32_t cycleTimeMs() const;
    std::string destinationAddress() const;
    uint16_t destinationPort() const;
    const FaultCounts& faultCounts() const { return m_faults.counts(); }

    // The description and data blocks as sent (for tests and tools).
    const DescribedBlock& algoOutput() const { return m_algo; }
    const DescribedBlock& dspFrame() const { return m_dspFrame; }
    const DescribedBlock& identificationBlock() const { return m_meas; }
    const DescribedBlock& pixelDirections() const { return m_directions; }
    const DescribedBlock& kpStatus() const { return m_kpStatus; }

private:
    // Everything that depends on the firmware's variant and version.
    struct Layout {
        DescribedBlock algo, dspFrame, meas;
        ParameterState params;
    };
    bool loadLayout(const SensorIdentity& identity, const ParameterValues& values, Layout& out,
                    std::string& error) const;
    void adopt(const SensorIdentity& identity, Layout&& layout);
    void layOutParameters();
    SceneSettings sceneSettings() const;
    void appendChannel(std::vector<ChannelPart>& parts, uint32_t number, const std::vector<uint8_t>& bytes);
    void composeSubDevices(uint32_t frameCounter, uint32_t kpCycle, DatagramComposer& dsp,
                           DatagramComposer& kp, DatagramBatch& batch);

    SimConfig m_config; // its identity changes with new firmware
    // Guards m_params, m_scene, the identity and the parameter layouts against readers on other
    // threads.
    mutable std::mutex m_mutex;
    ParameterState m_params;
    std::shared_ptr<const Scene> m_scene;

    DescribedBlock m_algo, m_dspFrame, m_meas, m_directions, m_kpStatus;
    ResultFrameWriter m_frameWriter;
    kvel::AccessorPtr m_measMainTemperature, m_measIlluTemperature, m_measOpMode;
    kvel::AccessorPtr m_kpCycleCounter, m_kpMainTemperature, m_kpIlluTemperature, m_kpUptime, m_kpOpMode;

    DatagramComposer m_dsp{1}, m_kp{2};
    DatagramComposer m_otherDsp{1, 0x40000000u}, m_otherKp{2, 0x40000000u};
    FaultInjector m_faults;
    std::unique_ptr<FrameTruth> m_truth;
    std::vector<ChannelPart> m_dspParts, m_kpParts;
    uint32_t m_kpCycle = 0;
};

} // namespace trvsim
