#include "common/unittext.h"

#include <QCoreApplication>

#include <cmath>

QString unitSymbol(Unit unit) {
    switch (unit) {
    case Unit::None:
        return QString();
    case Unit::Meter:
        return QCoreApplication::translate("Unit", " m");
    case Unit::Degree:
        return QCoreApplication::translate("Unit", "°");
    case Unit::SquareMeter:
        return QCoreApplication::translate("Unit", " m²");
    case Unit::Percent:
        return QCoreApplication::translate("Unit", " %");
    case Unit::MeterPerSecond:
        return QCoreApplication::translate("Unit", " m/s");
    case Unit::Second:
        return QCoreApplication::translate("Unit", " s");
    }
    return QString();
}

QString unitText(double value, Unit unit, int decimals) {
    decimals = qBound(0, decimals, 9);
    QString number;
    if (!std::isfinite(value)) {
        number = QStringLiteral("-");
    } else {
        number = QString::number(value, 'f', decimals);
        // -0.004 with two decimals reads "-0.00"; a sign on a shown zero only misleads.
        if (number.startsWith(QLatin1Char('-')) && number.toDouble() == 0.0)
            number.remove(0, 1);
    }
    return QStringLiteral("%1%2").arg(number, unitSymbol(unit));
}
