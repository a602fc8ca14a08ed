#include "result/resultdata_trvaxx.h"

#include <mutex>

void registerResultMetaTypes_TRVAXX() {
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<ResultDataSP_TRVAXX>("ResultDataSP_TRVAXX");
        qRegisterMetaType<DetectedObjectData_TRVAXX_t>("DetectedObjectData_TRVAXX_t");
        qRegisterMetaType<DetectedLineData_TRVAXX_t>("DetectedLineData_TRVAXX_t");
        qRegisterMetaType<BasicFunctionsData_TRVAXX_t>("BasicFunctionsData_TRVAXX_t");
    });
}
