// trvaxx-sim's command line: good values land in the configuration, bad ones are refused with a
// message that names the option and says what is wrong.

#include "simulator/can/canbus.h"
#include "simulator/simcommandline.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace trvsim;

// The arguments, separated by single spaces.
static CommandLine parse(const char* args) {
    return parseCommandLine(QStringList{"trvaxx-sim"} + QString(args).split(' '));
}

TEST(SimulatorCommandLine, TakesIdentityAddressesTimingAndFaults) {
    const CommandLine cl =
        parse("--variant LG --model TRVADN --version 3.5.7 --serial ABC123 --dest 127.0.0.1:45000 "
              "--source 127.0.0.3 --cycle-time 100 --seed 17 --drop 5% --bad-lrc 0.25 --pause 10:500 "
              "--stop-after 300 --second-sender --no-lrc --duration 2.5 -v 3 --can-listen 29536 "
              "--can-bitrate 500000 --can-protocol canopen --can-address 5 --can-no-pace "
              "--can-drop-every 7 --can-delay 20 --can-block-size 4 --can-stmin 3 --response-pending 2 "
              "--zero-seed --boot-loader --boot-loader-session --flash-fault silent:12 --vehicle "
              "--can-beacon 127.0.0.1:42001 --can-refuse --can-join "
              "qtcanbus://virtualcan/can0");
    ASSERT_EQ(cl.outcome, CommandLine::Run) << cl.message;
    // Grouped by option family; a tuple shows every member of its group when one differs.
    const SimConfig& c = cl.config;
    EXPECT_EQ(std::tie(c.identity.variant, c.identity.model, c.identity.serialNumber),
              std::make_tuple(Variant::LG, Model::TRVADN, "ABC123"));
    EXPECT_EQ(c.identity.version.text(), "3.5.7");
    EXPECT_EQ(std::tie(c.destAddress, c.destPort, c.sourceAddress, c.sourcePort, c.cycleTimeMs, c.seed,
                       c.verbosity),
              std::make_tuple("127.0.0.1", 45000, "127.0.0.3", 0, 100u, 17u, 3));
    const FaultConfig& f = c.faults;
    EXPECT_EQ(std::tie(f.dropShare, f.badLrcShare, f.pauseAfterCycles, f.pauseMs, f.stopAfterCycles,
                       f.secondSender, f.noLrc, cl.durationSeconds),
              std::make_tuple(0.05, 0.25, 10u, 500u, 300u, true, true, 2.5));
    const CanConfig& can = cl.can;
    EXPECT_EQ(std::tie(can.listen, can.join, can.beacon),
              std::make_tuple("29536", "qtcanbus://virtualcan/can0", "127.0.0.1:42001"));
    EXPECT_EQ(
        std::tie(can.bitRate, can.protocol, can.address, can.pace, can.dropEvery, can.delayMs, can.refuse),
        std::make_tuple(500000u, CanProtocol::CANopen, 5, false, 7u, 20u, true));
    EXPECT_EQ(
        std::tie(can.blockSize, can.stMinMs, can.responsePending, can.flashFault.kind, can.flashFault.piece),
        std::make_tuple(4, 3, 2u, FlashFault::Kind::Silent, 12u));
    EXPECT_TRUE(can.zeroSeed && can.bootLoader && can.bootLoaderSession && can.vehicle);

    // Several sensors: sources and serial numbers count up, CAN nodes count down from 239.
    const CommandLine three = parse("--count 3 --can-listen 127.0.0.1:0 --serial LG-0099");
    ASSERT_EQ(three.outcome, CommandLine::Run) << three.message;
    EXPECT_EQ(sensorConfig(three.config, 2, 3).sourceAddress, "127.0.0.4");
    EXPECT_EQ(sensorConfig(three.config, 1, 3).identity.serialNumber, "LG-0100");
    EXPECT_EQ(sensorConfig(three.config, 0, 1).sourceAddress, "0.0.0.0");

    EXPECT_EQ(parse("--help").outcome, CommandLine::Help);
}

TEST(SimulatorCommandLine, RefusesBadValuesSayingWhichAndWhy) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"--variant XY", "--variant: ", "not a firmware variant (DI, OD or LG)"},
        {"--variant od", "--variant: ", "not a firmware variant"},
        {"--model TRVAXN", "--model: ", "not a model (TRVADN or TRVAFN)"},
        {"--version 3.4", "--version: ", "not a version major.minor.patch"},
        {"--version 3.4.300", "--version: ", "each 0 to 255"},
        {"--variant LG --version 1.12.0", "--version: ", "not a firmware of variant LG (known: 2.0"},
        {"--serial 123456789012345678901", "--serial: ", "longer than 20 characters"},
        {"--serial AB\tC", "--serial: ", "printable ASCII"},
        {"--dest 127.0.0", "--dest: ", "not an IPv4 address"},
        {"--dest 127.0.0.1:0", "--dest: ", "not a number from 1 to 65535"},
        {"--dest 127.0.0.1:70000", "--dest: ", "not a number from 1 to 65535"},
        {"--source localhost", "--source: ", "not an IPv4 address"},
        {"--cycle-time 5", "--cycle-time: ", "from 10 to 10000 ms"},
        {"--cycle-time fast", "--cycle-time: ", "from 10 to 10000 ms"},
        {"--seed -1", "--seed: ", "not a number"},
        {"--flash-fault reset:0", "--flash-fault: ", "not a flash fault (silent:N, reset:N or crc)"},
        {"--flash-fault hang:3", "--flash-fault: ", "not a flash fault"},
        {"--flash-fault crc:1", "--flash-fault: ", "not a flash fault"},
        {"--drop 1.5", "--drop: ", "not a share from 0 to 1"},
        {"--reorder -0.1", "--reorder: ", "not a share"},
        {"--truncate 150%", "--truncate: ", "not a share"},
        {"--pause 10", "--pause: ", "not N:MS"},
        {"--pause 0:100", "--pause: ", "not N:MS"},
        {"--stop-after 0", "--stop-after: ", "not a cycle count above 0"},
        {"--verbosity 9", "--verbosity: ", "from 0 to 3"},
        {"--duration -3", "--duration: ", "positive number of seconds"},
        {"--can-listen 99999", "--can-listen: ", "port from 1 to 65535"},
        {"--can-listen localhost:5", "--can-listen: ", "not an IPv4 address"},
        {"--can-join socketcand://host:0/can0", "--can-join: ", "not socketcand://HOST:PORT/BUS"},
        {"--can-join can0", "--can-join: ", "or qtcanbus://BACKEND/INTERFACE"},
        {"--can-beacon everywhere", "--can-beacon: ", "not an IPv4 address"},
        {"--can-bitrate 300000", "--can-bitrate: ", "not a CAN bit rate"},
        {"--can-protocol j1587", "--can-protocol: ", "j1939 or canopen"},
        {"--can-address 254", "--can-address: ", "from 0 to 253"},
        {"--can-protocol canopen --can-address 200", "--can-address: ", "not a CANopen node"},
        {"--can-drop-every 0", "--can-drop-every: ", "from 1 to"},
        {"--can-delay 70000", "--can-delay: ", "from 0 to 60000 ms"},
        {"--can-block-size 256", "--can-block-size: ", "from 0 to 255"},
        {"--can-stmin 128", "--can-stmin: ", "from 0 to 127 ms"},
        {"--response-pending x", "--response-pending: ", "from 0 to 100"},
        {"--count 0", "--count: ", "from 1 to 32"},
        {"--count 5 --can-address 2", "--count: ", "node addresses counting down from 2"},
    };
    for (const auto& [args, option, why] : cases) {
        const CommandLine cl = parse(args);
        ASSERT_EQ(cl.outcome, CommandLine::Error) << args;
        EXPECT_EQ(cl.message.rfind(option, 0), 0u) << cl.message;
        EXPECT_NE(cl.message.find(why), std::string::npos) << cl.message;
    }
    // Unknown options, stray arguments and missing values are refused too.
    for (const char* args : {"--frobnicate", "OD", "--variant"})
        EXPECT_EQ(parse(args).outcome, CommandLine::Error) << args;
    EXPECT_NE(parse("--frobnicate").message.find("frobnicate"), std::string::npos);
}
