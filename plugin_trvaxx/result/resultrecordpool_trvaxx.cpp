#include "result/resultrecordpool_trvaxx.h"

#include <QMutexLocker>

#include <new>
#include <utility>

ResultRecordPool_TRVAXX::ResultRecordPool_TRVAXX(int capacity) : shelf(std::make_shared<Shelf>()) {
    shelf->capacity = size_t(capacity > 0 ? capacity : 0);
    shelf->idle.reserve(shelf->capacity);
}

ResultRecordPool_TRVAXX::~ResultRecordPool_TRVAXX() {
    std::vector<ResultData_TRVAXX*> idle;
    {
        QMutexLocker<QMutex> lock(&shelf->lock);
        shelf->open = false;
        idle.swap(shelf->idle);
    }
    for (ResultData_TRVAXX* record : idle)
        delete record;
}

void ResultRecordPool_TRVAXX::Shelf::put(ResultData_TRVAXX* record) {
    {
        QMutexLocker<QMutex> lock(&this->lock);
        if (open && idle.size() < capacity) {
            idle.push_back(record);
            return;
        }
    }
    delete record;
}

ResultDataSP_TRVAXX ResultRecordPool_TRVAXX::acquire() {
    ResultData_TRVAXX* record = nullptr;
    {
        QMutexLocker<QMutex> lock(&shelf->lock);
        if (!shelf->idle.empty()) {
            record = shelf->idle.back();
            shelf->idle.pop_back();
        }
    }
    if (record == nullptr) {
        record = new ResultData_TRVAXX;
    } else {
        // Back to the initial state; the info map keeps its nodes and its stamp (values are
        // overwritten and stale keys pruned by the writer), a detached copy if a reader shares it.
        QMap<int, QVariant> info = std::move(record->info);
        const quint64 parameterStamp = record->parameterStamp;
        record->~ResultData_TRVAXX();
        new (record) ResultData_TRVAXX;
        record->info = std::move(info);
        record->parameterStamp = parameterStamp;
    }
    // The deleter holds the shelf, not the pool: a record outliving the pool is simply freed.
    std::shared_ptr<Shelf> home = shelf;
    return ResultDataSP_TRVAXX(record, [home](ResultData_TRVAXX* r) { home->put(r); });
}

int ResultRecordPool_TRVAXX::idleCount() const {
    QMutexLocker<QMutex> lock(&shelf->lock);
    return int(shelf->idle.size());
}
