#pragma once

#include <QString>

// Firmware classification of a TRVAXX sensor from its identification: which variant-specific
// parameter set (and device syncer) belongs to a firmware. The same rule serves the identification
// read over CAN and the one carried by every Ethernet result.
//
// Codes: 0 TRVADN DI 2.x, 1 TRVAFN DI 2.x, 2 OD 2.x, 3 LG 2.x, 4 TRVADN DI 3.x, 5 TRVAFN DI 3.x,
// 6 OD 3.x, 7 LG 3.x, 8 unsupported, 9 firmware too old.
namespace FirmwareClassification_TRVAXX {

enum Code {
    TRVADN_DI_SOP2 = 0,
    TRVAFN_DI_SOP2 = 1,
    TRVAFN_OD_SOP2 = 2,
    TRVAFN_LG_SOP2 = 3,
    TRVADN_DI_3_2 = 4,
    TRVAFN_DI_3_2 = 5,
    TRVAFN_OD_3_2 = 6,
    TRVAFN_LG_3_2 = 7,
    UNSUPPORTED = 8,
    TOO_OLD = 9,
};

// The variant whose algorithm output carries the intrinsic and extrinsic 2D calibration block.
constexpr const char* VARIANT_WITH_2D_CALIBRATION = "OD";
// The model prefix of the article number that selects the first code of each DI pair.
constexpr const char* MODEL_TRVADN = "TRVADN";

// The code for a software version ("3.4.1"), a variant text ("OD", "LG", "DI"...) and an article
// (part) number. Prefix tests are case-sensitive; a version "in a list" starts with a listed text.
int classify(const QString& softwareVersion, const QString& variant, const QString& articleNumber);

// True when `version` has exactly three dot-separated numeric parts and is at least
// major.minor.patch (compared part by part).
bool isVersionAtLeast(const QString& version, int major, int minor, int patch);

// True when a firmware of a known variant is older than the oldest supported one (LG 2.1.0,
// OD and DI 2.2.0); used to tell "too old" (9) from "unsupported" (8).
bool isTooOld(const QString& softwareVersion, const QString& variant);

// The code including the too-old distinction: classify(), and 9 instead of 8 when isTooOld().
int classifyWithAge(const QString& softwareVersion, const QString& variant, const QString& articleNumber);

} // namespace FirmwareClassification_TRVAXX
