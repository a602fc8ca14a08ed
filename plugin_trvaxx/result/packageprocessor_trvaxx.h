#pragma once

#include "result/resultdata_trvaxx.h"

#include "result/cyclereader_trvaxx.h"

#include <QString>

#include <array>
#include <atomic>
#include <bitset>
#include <unordered_map>
#include <utility>
#include <vector>

class ResultCache_TRVAXX;

// Interprets one result cycle (a list of KvelChunk: data channel N with its description from
// channel N + 1) into a ResultData_TRVAXX record and publishes it in the result cache.
//
// Runs on the thread that feeds it (the UDP receive thread, or a replay thread); it keeps no lock.
// Only the firmware type and the error count may be read from other threads.
class PackageProcessor_TRVAXX {
public:
    // Channels of a cycle that the extraction reads.
    static constexpr int CHANNEL_ALGO_OUTPUT = ResultChannel_TRVAXX::AlgoOutput;
    static constexpr int CHANNEL_DSP_PARAMETERS = ResultChannel_TRVAXX::DspParameters;
    static constexpr int CHANNEL_IDENTIFICATION = ResultChannel_TRVAXX::Identification;
    // A cycle that contains this channel is recorded but not interpreted.
    static constexpr int CHANNEL_NOT_INTERPRETED = ResultChannel_TRVAXX::NotInterpreted;
    // Error messages written over the life of one processor; later errors are counted silently.
    static constexpr int MAX_ERROR_MESSAGES = 10;

    explicit PackageProcessor_TRVAXX(ResultCache_TRVAXX* cache);
    virtual ~PackageProcessor_TRVAXX();

    PackageProcessor_TRVAXX(const PackageProcessor_TRVAXX&) = delete;
    PackageProcessor_TRVAXX& operator=(const PackageProcessor_TRVAXX&) = delete;

    // Called by the data output for every cycle of the DSP: the early hand-out (complete = false)
    // is interpreted unless it holds channel 2; complete hand-outs only went to the recorder.
    void onCycle(const std::vector<KvelChunk>& chunks, bool complete);
    // Interprets one cycle and publishes its record (replay calls this directly).
    void processCycle(const std::vector<KvelChunk>& chunks);
    // Computes the camera-axis distance and the normalised amplitude, stores the record in the
    // cache and marks the cache as having data.
    void dispatchResult(const ResultDataSP_TRVAXX& result);

    // Extraction steps, in the order processCycle runs them. Each reads only channels present in
    // the list, catches the interpreter's errors itself (one message while fewer than ten were
    // written) and leaves what it read so far in the record.
    void getCamVersionfromPacket(const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result);
    void getTRVAXXParameterfromPacket(const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result);
    void getTRVADN_DI_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                              ResultData_TRVAXX& result);
    void getTRVAFN_OD_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                              ResultData_TRVAXX& result);
    void getTRVAFN_LG_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                              ResultData_TRVAXX& result);
    void getTRVADN_DI_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result);
    void getTRVAFN_OD_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result);
    void getTRVAFN_LG_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result);
    void getAlgoIFOutputDatafromPacket(const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result);
    void getAlgoIFOutputObjectsfromPacket(const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result);
    void getAlgoIFOutputCollisionAvoidancefromPacket(const std::vector<KvelChunk>& chunks,
                                                     ResultData_TRVAXX& result);
    void getAlgoIFOutputLinesfromPacket(const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result);
    void getAlgoIFOutputCalibrationfromPacket(const std::vector<KvelChunk>& chunks,
                                              ResultData_TRVAXX& result);
    void getAlgoIFOutputCalibrationResultfromPacket(const std::vector<KvelChunk>& chunks,
                                                    ResultData_TRVAXX& result);

    // Identification of the last cycle that carried channel 256 (feeding thread only).
    QString getSoftwareVersion() const { return softwareVersion; }
    QString getCameraVariant() const { return cameraVariant; }
    QString getPartNumber() const { return partNumber; }
    QString getSerialNumber() const { return serialNumber; }
    // FirmwareClassification_TRVAXX code of that identification; 8 before the first one.
    int getFirmwareType() const { return firmwareType.load(std::memory_order_relaxed); }
    // Errors seen so far (messages were written for the first ten).
    int getErrorCount() const { return errorCount.load(std::memory_order_relaxed); }
    ResultCache_TRVAXX* getResultCache() const { return cache; }

protected:
    // Counts an error and writes `message` as a critical line while fewer than ten were written.
    void reportError(const QString& message);

    // Sets one entry of the record's info map and notes its key: a recycled record's map is
    // overwritten in place, and processCycle() prunes the keys this cycle did not write.
    void setInfo(ResultData_TRVAXX& result, int key, const QVariant& value);
    auto infoSetter(ResultData_TRVAXX& result) {
        return [this, &result](int key, const QVariant& value) { setInfo(result, key, value); };
    }

private:
    static constexpr int INFO_KEY_LIMIT = 256;
    void pruneInfo(ResultData_TRVAXX& result) const;
    // Identification fields as last read from channel 256; the strings are rebuilt only when
    // these bytes change.
    std::array<char, 3 + 3 + 6 + 20> identityBytes{};
    bool identityValid = false;
    // Element kind of CameraVariant in the identification description last seen.
    kvel::ITypePtr variantKindRoot;
    bool variantIsUnsigned = true;
    std::bitset<INFO_KEY_LIMIT> infoWritten;
    // Runs one step's body; an exception ends the step with one reported error.
    template <class Body> void runStep(const char* stepName, Body&& body);
    void runVariantStep(const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result);
    // True when channel 14 carries the same description and bytes as when its rows were last read
    // without error (for the same firmware type).
    bool dspParametersUnchanged();
    void rememberDspParameters(const ResultData_TRVAXX& result);

    CycleReader_TRVAXX reader;
    struct ParameterMemo {
        bool valid = false;
        const kvel::IType* root14 = nullptr;
        std::vector<char> data14;
        int firmwareType = 8;
        QMap<int, QVariant> info;
        std::bitset<INFO_KEY_LIMIT> keys; // of info
        quint64 stamp = 0;                // ResultData_TRVAXX::parameterStamp of records filled from it
    } memo;
    // Channel whose info rows the parameter steps skip (0: none).
    int skipChannel = 0;

    ResultCache_TRVAXX* cache;
    QString softwareVersion;
    QString cameraVariant;
    QString partNumber;
    QString serialNumber;
    std::atomic<int> errorCount{0};
    std::atomic<int> firmwareType{8};
};
