#pragma once

#include "common/paramobserver.h"

#include <QObject>
#include <QVariant>

class ParamCache;

// Turns the changes of one parameter of a cache into a Qt signal, so a widget can connect to a
// single parameter without implementing ParamObserver. Detaches itself on destruction.
class SimpleParamEmitter : public QObject, public ParamObserver {
    Q_OBJECT
public:
    SimpleParamEmitter(const ParamCache& cache, int id, QObject* parent = nullptr);
    ~SimpleParamEmitter() override;

    int parameterId() const { return id; }
    // The cached value right now (invalid when the cache is gone).
    QVariant currentValue() const;

    void parameterChanged(int id, const QVariant& value) override;
    void cacheDestroyed() override;

signals:
    void valueChanged(const QVariant& value);

private:
    const ParamCache* cache;
    int id;
};
