#include "common/simpleparamemitter.h"

#include "common/paramcache.h"

SimpleParamEmitter::SimpleParamEmitter(const ParamCache& cache, int id, QObject* parent)
    : QObject(parent), cache(&cache), id(id) {
    cache.attachObserver(this);
}

SimpleParamEmitter::~SimpleParamEmitter() {
    if (cache)
        cache->detachObserver(this);
}

QVariant SimpleParamEmitter::currentValue() const {
    return cache ? cache->getParameter(id) : QVariant();
}

void SimpleParamEmitter::parameterChanged(int changedId, const QVariant& value) {
    if (changedId == id)
        emit valueChanged(value);
}

void SimpleParamEmitter::cacheDestroyed() {
    cache = nullptr;
}
