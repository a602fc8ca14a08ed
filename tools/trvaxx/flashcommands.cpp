// "trvaxx flash": a firmware update over CAN from a flash container, with its progress.
// "trvaxx fcr": makes and inspects flash containers and the virtual sensor's firmware images.
#include "tools/trvaxx/toolcommand.h"

#include "can-communication/canbuscontroller.h"
#include "can-communication/flashcontainer.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

#include <cstdio>
#include <unistd.h>

namespace {

// ---- trvaxx flash

// Progress of a running update: a bar redrawn in place on a terminal, plain lines otherwise.
class ProgressPrinter {
public:
    explicit ProgressPrinter(OutputSink& output) : out(output), terminal(isatty(STDOUT_FILENO) == 1) {}
    ~ProgressPrinter() {
        if (drawn)
            std::fputc('\n', stdout);
    }
    // (blocks, index of the block about to be programmed), then (100, 100) at the end.
    void update(int total, int written) {
        const int percent = total > 0 ? std::clamp(100 * std::max(written - 1, 0) / total, 0, 100) : 0;
        const bool done = total == 100 && written == 100; // the end of the update
        const QString what =
            done ? QStringLiteral("done") : QStringLiteral("block %1 of %2").arg(written).arg(total);
        if (out.json()) {
            out.record({{QStringLiteral("kind"), QStringLiteral("progress")},
                        {QStringLiteral("percent"), done ? 100 : percent},
                        {QStringLiteral("blocks"), done ? QJsonValue() : QJsonValue(total)},
                        {QStringLiteral("block"), done ? QJsonValue() : QJsonValue(written)}});
        } else if (terminal) {
            const int filled = (done ? 100 : percent) * kWidth / 100;
            std::fprintf(stdout, "\r[%s%s] %3d %% %-20s", QByteArray(filled, '#').constData(),
                         QByteArray(kWidth - filled, '.').constData(), done ? 100 : percent,
                         qPrintable(what));
            std::fflush(stdout);
            drawn = true;
        } else {
            out.text(QStringLiteral("progress %1 % %2").arg(done ? 100 : percent).arg(what));
        }
    }

private:
    static constexpr int kWidth = 30;
    OutputSink& out;
    const bool terminal;
    bool drawn = false;
};

int runFlash(const ToolOptions& o, ToolEnvironment& env) {
    CanBusController controller;
    controller.setInterfaceUrl(o.can.interface.toUtf8());
    controller.setTracePath(o.can.trace);
    auto address = SensorAdrMobileCanSP_t::create(QStringLiteral("flash"), QByteArray("TRVAxx"));
    address->setCanBaudRate(int(o.can.baud));
    address->setCanDeviceId(o.can.node);
    auto fail = [&env](int code) {
        env.output.error(code, CanBusController::resultText(code));
        return 1;
    };
    if (const int code = controller.connectDevice(address, true))
        return fail(code);
    controller.readIdentity();
    const QString before = controller.identity().globalSoftwareVersion;
    int result = 0;
    {
        ProgressPrinter progress(env.output);
        QObject::connect(&controller, &CanBusController::sigBytesWritten, &controller,
                         [&progress](int total, int written) { progress.update(total, written); });
        result = controller.firmwareupdate(o.file, true);
    }
    if (result != 0)
        return fail(result);
    // The update ends with the sensor's restart; its new identity answers once it is back.
    controller.readIdentity();
    const QString after = controller.identity().globalSoftwareVersion;
    if (env.output.json())
        env.output.record(
            {{QStringLiteral("kind"), QStringLiteral("result")},
             {QStringLiteral("file"), o.file},
             {QStringLiteral("software_version_before"), before},
             {QStringLiteral("software_version"), after.isEmpty() ? QJsonValue() : QJsonValue(after)}});
    else
        env.output.text(
            QStringLiteral("flashed %1; software_version: %2 -> %3")
                .arg(QFileInfo(o.file).fileName(), before, after.isEmpty() ? QStringLiteral("-") : after));
    return 0;
}

// ---- trvaxx fcr

bool writeAtomically(const QString& path, const QByteArray& bytes, QString& error) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

int failWith(ToolEnvironment& env, int code, const QString& text) {
    env.output.error(code, text);
    return code == FLASH_FILE_ERROR ? 1 : code;
}

int fcrBuild(const ToolOptions& o, ToolEnvironment& env) {
    const FlashOptions& f = o.flash;
    QList<FlashBlock> blocks;
    for (const QString& spec : f.blocks) {
        const QStringList parts = spec.split(QLatin1Char(':'));
        qint64 id = 0;
        if (parts.size() < 3 || !parseNumber(parts[1], 0, 255, id))
            return failWith(env, 2, QStringLiteral("--block needs NAME:ID:FILE, not '%1'").arg(spec));
        QByteArray data;
        QString error;
        const QString path = parts.mid(2).join(QLatin1Char(':'));
        if (FlashContainer::readFile(path, data, error) != 0)
            return failWith(env, 1, error);
        blocks << FlashBlock::fromData(parts[0], uint8_t(id), data);
    }
    QString error;
    const QByteArray bytes =
        FlashContainer::build({f.articles, f.mainboard, f.frontend, f.illumination}, blocks, error);
    if (bytes.isEmpty())
        return failWith(env, 2, error);
    if (!writeAtomically(o.arguments.value(1), bytes, error))
        return failWith(env, 1, error);
    env.output.message(QStringLiteral("wrote %1: %2 blocks, %3 bytes")
                           .arg(o.arguments.value(1))
                           .arg(blocks.size())
                           .arg(bytes.size()));
    return 0;
}

QString hexWord(uint32_t value) {
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

QJsonArray numbers(const QByteArray& bytes) {
    QJsonArray list;
    for (char c : bytes)
        list.append(uint8_t(c));
    return list;
}

QString numberText(const QByteArray& bytes) {
    QStringList parts;
    for (char c : bytes)
        parts << QString::number(uint8_t(c));
    return parts.join(QLatin1Char(','));
}

int fcrInfo(const ToolOptions& o, ToolEnvironment& env) {
    const QString path = o.arguments.value(1);
    QByteArray bytes;
    QString error;
    if (FlashContainer::readFile(path, bytes, error) != 0)
        return failWith(env, FLASH_FILE_ERROR, error);
    FlashContainer c;
    if (c.parseHeader(bytes) != 0)
        return failWith(env, FLASH_FILE_ERROR,
                        QStringLiteral("%1 is shorter than a container header").arg(path));
    const int blocksResult = c.parseBlocks(error);
    QJsonArray blockList;
    for (const FlashBlock& b : c.blocks()) {
        const uint32_t crc = flashCrc32(b.data(), b.flashSize);
        blockList.append(QJsonObject{{QStringLiteral("name"), b.name},
                                     {QStringLiteral("id"), b.id},
                                     {QStringLiteral("compress_mode"), b.compressMode},
                                     {QStringLiteral("crc"), hexWord(b.crc32)},
                                     {QStringLiteral("crc_ok"), crc == b.crc32},
                                     {QStringLiteral("flash_size"), double(b.flashSize)},
                                     {QStringLiteral("size"), double(b.uncompressedSize)}});
    }
    const QJsonObject info{{QStringLiteral("file"), path},
                           {QStringLiteral("identification_ok"), c.identificationOk()},
                           {QStringLiteral("version"), double(c.version())},
                           {QStringLiteral("header_crc"), hexWord(c.storedCrc())},
                           {QStringLiteral("header_crc_ok"), c.storedCrc() == c.computedCrc()},
                           {QStringLiteral("articles"), QJsonArray::fromStringList(c.articleNumbers())},
                           {QStringLiteral("hw_mainboard"), numbers(c.mainboardVersions())},
                           {QStringLiteral("hw_frontend"), numbers(c.frontendVersions())},
                           {QStringLiteral("hw_illumination"), numbers(c.illuminationVersions())},
                           {QStringLiteral("block_count"), double(c.blockCount())},
                           {QStringLiteral("blocks"), blockList}};
    if (env.output.json()) {
        env.output.record(info);
    } else {
        auto ok = [](bool good) { return good ? QStringLiteral("ok") : QStringLiteral("WRONG"); };
        env.output.text(
            QStringLiteral("identification: %1, version %2").arg(ok(c.identificationOk())).arg(c.version()));
        env.output.text(QStringLiteral("header_crc: %1 %2")
                            .arg(hexWord(c.storedCrc()), ok(c.storedCrc() == c.computedCrc())));
        env.output.text(QStringLiteral("articles: ") + c.articleNumbers().join(QLatin1Char(',')));
        env.output.text(QStringLiteral("hw_mainboard: %1; hw_frontend: %2; hw_illumination: %3")
                            .arg(numberText(c.mainboardVersions()), numberText(c.frontendVersions()),
                                 numberText(c.illuminationVersions())));
        env.output.text(QStringLiteral("blocks: %1").arg(c.blockCount()));
        for (const QJsonValue& v : blockList) {
            const QJsonObject b = v.toObject();
            env.output.text(
                QStringLiteral(" %1 id 0x%2 compress %3 size %4 flash_size %5 crc %6 %7")
                    .arg(b[QStringLiteral("name")].toString())
                    .arg(b[QStringLiteral("id")].toInt(), 2, 16, QLatin1Char('0'))
                    .arg(b[QStringLiteral("compress_mode")].toInt())
                    .arg(qint64(b[QStringLiteral("size")].toDouble()))
                    .arg(qint64(b[QStringLiteral("flash_size")].toDouble()))
                    .arg(b[QStringLiteral("crc")].toString(), ok(b[QStringLiteral("crc_ok")].toBool())));
        }
    }
    if (blocksResult != 0) {
        env.output.error(FLASH_FILE_ERROR, error);
        return 3;
    }
    return 0;
}

int fcrImage(const ToolOptions& o, ToolEnvironment& env) {
    const FlashOptions& f = o.flash;
    // The virtual sensor reads the first line of a programmed block as its firmware identity.
    QByteArray image =
        QStringLiteral("TRVSIM-FW block=%1 version=%2").arg(f.blocks.value(0), f.version).toLatin1();
    if (!f.variant.isEmpty())
        image += " variant=" + f.variant.toLatin1();
    image += '\n';
    uint32_t state = 0x9E3779B9u;
    image.reserve(f.size);
    while (image.size() < f.size) {
        state = state * 1664525u + 1013904223u;
        image.append(char(state >> 24));
    }
    QString error;
    if (!writeAtomically(o.arguments.value(1), image, error))
        return failWith(env, 1, error);
    return 0;
}

// Option of the fcr group that appends to a list.
OptionSpec listOption(const char* name, const char* value, const char* help,
                      std::function<bool(const QString&, FlashOptions&, QString&)> add) {
    return {QLatin1String(name), QLatin1String(value), QLatin1String(help),
            [add](const QString& v, ToolOptions& o, QString& error) { return add(v, o.flash, error); }};
}

std::function<bool(const QString&, FlashOptions&, QString&)> versionByte(QByteArray FlashOptions::*list,
                                                                         const char* name) {
    return [list, name](const QString& v, FlashOptions& f, QString& error) {
        qint64 n = 0;
        if (!parseNumber(v, 0, 255, n)) {
            error = QStringLiteral("%1 needs a version from 0 to 255, not '%2'").arg(QLatin1String(name), v);
            return false;
        }
        (f.*list).append(char(n));
        return true;
    };
}

const OptionGroup& fcrOptions() {
    static const OptionGroup group = {
        listOption("--article", "A", "build: an article number the container fits (repeatable)",
                   [](const QString& v, FlashOptions& f, QString&) {
                       f.articles << v;
                       return true;
                   }),
        listOption("--hw-mainboard", "N", "build: a mainboard version it fits (repeatable)",
                   versionByte(&FlashOptions::mainboard, "--hw-mainboard")),
        listOption("--hw-frontend", "N", "build: a frontend version it fits (repeatable)",
                   versionByte(&FlashOptions::frontend, "--hw-frontend")),
        listOption("--hw-illumination", "N", "build: an illumination hardware version it fits (repeatable)",
                   versionByte(&FlashOptions::illumination, "--hw-illumination")),
        listOption("--block", "SPEC", "build: NAME:ID:FILE, a block from a file (repeatable); image: NAME",
                   [](const QString& v, FlashOptions& f, QString&) {
                       f.blocks << v;
                       return true;
                   }),
        listOption("--version", "X.Y.Z", "image: the firmware version the image reports",
                   [](const QString& v, FlashOptions& f, QString& error) {
                       static const QRegularExpression form(QStringLiteral(R"(^\d{1,3}\.\d{1,3}\.\d{1,3}$)"));
                       f.version = v;
                       if (!form.match(v).hasMatch())
                           error = QStringLiteral("--version needs X.Y.Z, not '%1'").arg(v);
                       return error.isEmpty();
                   }),
        listOption("--variant", "V", "image: the firmware variant it brings (DI, OD, LG)",
                   [](const QString& v, FlashOptions& f, QString& error) {
                       f.variant = v;
                       if (v != QLatin1String("DI") && v != QLatin1String("OD") && v != QLatin1String("LG"))
                           error = QStringLiteral("--variant needs DI, OD or LG, not '%1'").arg(v);
                       return error.isEmpty();
                   }),
        listOption("--size", "BYTES", "image: its size (default 65536)",
                   [](const QString& v, FlashOptions& f, QString& error) {
                       qint64 n = 0;
                       if (!parseNumber(v, 64, FlashBlock::kMaxSize, n)) {
                           error = QStringLiteral("--size needs 64 to %1 bytes, not '%2'")
                                       .arg(FlashBlock::kMaxSize)
                                       .arg(v);
                           return false;
                       }
                       f.size = int(n);
                       return true;
                   }),
    };
    return group;
}

bool checkFcr(const ToolOptions& o, QString& error) {
    const QString action = o.arguments.value(0);
    const FlashOptions& f = o.flash;
    if (action == QLatin1String("build") || action == QLatin1String("info"))
        return true;
    if (action != QLatin1String("image")) {
        error = QStringLiteral("fcr needs build, info or image, not '%1'").arg(action);
        return false;
    }
    if (f.blocks.size() != 1 || f.blocks[0].contains(QLatin1Char(':')) || f.version.isEmpty()) {
        error = QStringLiteral("fcr image needs one --block NAME and --version X.Y.Z");
        return false;
    }
    return true;
}

int runFcr(const ToolOptions& o, ToolEnvironment& env) {
    const QString action = o.arguments.value(0);
    if (action == QLatin1String("build"))
        return fcrBuild(o, env);
    if (action == QLatin1String("info"))
        return fcrInfo(o, env);
    return fcrImage(o, env);
}

} // namespace

ToolCommand flashCommand() {
    return {QStringLiteral("flash"),
            {QStringLiteral("FILE")},
            QStringLiteral("update a sensor's firmware over CAN from a flash container"),
            QStringLiteral(
                "Connects to a sensor over CAN, checks that the flash container FILE (*.fcr) fits its\n"
                "article number and hardware versions, programs every block and restarts the sensor.\n"
                "Progress: a bar on a terminal, \"progress P % block I of N\" lines otherwise (--json:\n"
                "{\"kind\": \"progress\", \"percent\", \"blocks\", \"block\"}), then the software version\n"
                "before and after (--json: {\"kind\": \"result\", \"software_version\", ...}).\n"
                "Exit status: 0 success, 1 the update failed (\"error CODE TEXT\" on standard error, CODE\n"
                "the result code: 130011 file, 130012 hardware, 130013 article, 130014 header, or a\n"
                "diagnostic code), 2 wrong command line."),
            {&ToolOptionGroups::can()},
            [](const ToolOptions& o, QString& error) {
                if (!o.can.canopen)
                    return true;
                error = QStringLiteral("flash programs over J1939 diagnostics; --canopen is not supported");
                return false;
            },
            runFlash};
}

ToolCommand fcrCommand() {
    return {QStringLiteral("fcr"),
            {QStringLiteral("ACTION"), QStringLiteral("FILE")},
            QStringLiteral("make and inspect flash containers and firmware images"),
            QStringLiteral(
                "fcr build OUT --article A --hw-mainboard N --hw-frontend N --hw-illumination N\n"
                "    --block NAME:ID:FILE ...   writes a flash container (options repeatable; ID decimal\n"
                "    or 0x..; each block's CRC and sizes from its file).\n"
                "fcr info FILE [--json]       prints the header (identification, version, header CRC and\n"
                "    whether it matches, articles, hardware versions) and every block header with\n"
                "    whether its data match its CRC.\n"
                "fcr image OUT --block NAME --version X.Y.Z [--variant V] [--size BYTES]   writes a\n"
                "    firmware image for the virtual sensor (block data only; pack it with fcr build).\n"
                "Exit status: 0 success, 1 a file cannot be read or written, 2 wrong command line,\n"
                "3 damaged container (printed up to the damage)."),
            {&fcrOptions()},
            checkFcr,
            runFcr};
}
