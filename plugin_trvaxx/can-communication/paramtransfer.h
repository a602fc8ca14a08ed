#pragma once
// ParamTransfer: the sensor's two parameter blocks on the tester's side. It reads both blocks over
// diagnosis with their descriptions, offers each member under the host's parameter id as a value
// whose text is what a user expects (integers as int, floats as their shortest decimal, addresses
// as dotted texts), changes members in the block images, and writes both images as patched block
// files for the download.
// Runs on the caller's thread (the GUI thread); no state is shared.

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QVariant>

class DiagPC;

class ParamTransfer {
public:
    // Largest description and block image.
    static constexpr int kMaxSize = 5000;

    // Reads DSP_CPAR and KP_CPAR and the two descriptions (resource names); the images stay empty
    // unless all of it succeeded. False (logged) otherwise.
    bool readAll(DiagPC* diag, const QString& cameraVersion, const QString& dspKvd, const QString& kpKvd);

    // The value of member id `id` for the firmware variant; invalid (logged) for an id without a
    // member for the variant, before a successful read, or when the member cannot be read.
    QVariant readData(int id, const QString& variant) const;
    // Stores `value` into the member of `id` in the block image. Refused (false, logged): ids that
    // are not writable, address texts that are not four decimal parts of 0..255, texts that are not
    // numbers, integers outside the member's range, lists of the wrong length.
    bool writeData(int id, const QVariant& value, const QString& variant);

    // Whether both images are there to be written (logged when not).
    bool imagesReady() const;
    // Writes the DSP block with a new header and the KP block with its own into `dir` and patches
    // their CRCs; the downloadable files come back in dspFile and kpFile. False (logged).
    bool writeBlockFiles(const QDir& dir, QString& dspFile, QString& kpFile) const;

    const QByteArray& dspImage() const { return dsp.image; }
    const QByteArray& kpImage() const { return kp.image; }

private:
    struct Block {
        QByteArray description;
        QByteArray image; // KP: with its 64-byte header
        QByteArray raw;   // as last read from the sensor
    };
    Block dsp;
    Block kp;
};
