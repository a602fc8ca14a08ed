#include "common/dftimeout.h"

#include "common/commonutilities.h"

DFTimeout::DFTimeout(QObject* parent) : QObject(parent) {
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &DFTimeout::timeout);
}

void DFTimeout::start(int ms) {
    timer.start(CommonUtilities::scaledMs(ms));
}

void DFTimeout::stop() {
    timer.stop();
}
