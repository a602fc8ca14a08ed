#pragma once
// A virtual sensor for the tests that run one on loopback: it streams from a loopback source
// address to a port on 127.0.0.1, every 20 ms, quietly, with the model that offers the variant.

#include "simulator/simconfig.h"

#include <cstdint>
#include <string>

inline trvsim::SimConfig loopbackSensor(trvsim::Variant variant, const std::string& source,
                                        std::uint16_t destPort) {
    trvsim::SimConfig c;
    c.identity.variant = variant;
    c.identity.model = variant == trvsim::Variant::DI ? trvsim::Model::TRVADN : trvsim::Model::TRVAFN;
    c.destAddress = "127.0.0.1";
    c.destPort = destPort;
    c.sourceAddress = source;
    c.cycleTimeMs = 20;
    c.verbosity = 0;
    c.log = [](int, const std::string&) {};
    return c;
}
