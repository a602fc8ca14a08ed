#pragma once

#include <QString>

// The units in which the views show values. The texts are the system's own unit symbols.
enum class Unit {
    None,
    Meter,          // " m"
    Degree,         // "°"
    SquareMeter,    // " m²"
    Percent,        // " %"
    MeterPerSecond, // " m/s"
    Second,         // " s"
};

// The unit's text as it follows a number (with its leading space where one belongs), translated.
QString unitSymbol(Unit unit);

// "%1%2": the value with `decimals` decimals (0 gives a whole number, rounded), then the unit text.
// A value that rounds to zero never shows a minus sign; NaN and infinities give "-" and the unit.
QString unitText(double value, Unit unit, int decimals);
