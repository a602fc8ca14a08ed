// libFuzzer target: the socketcand text the CAN bus reads from TCP peers. The input is fed in
// pieces of varying size (elements cut anywhere); every element is read both as a client command
// and as a server message, and frames that parse are written back and must read the same.

#include "simulator/can/socketcandtext.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    trvsim::SocketcandSplitter splitter;
    std::vector<std::string_view> words;
    std::string why;
    size_t offset = 0;
    while (offset < size) {
        const size_t piece = std::min<size_t>(size - offset, 1 + data[offset] % 32);
        splitter.append(reinterpret_cast<const char*>(data) + offset, piece);
        offset += piece;
        trvsim::SocketcandSplitter::Result r;
        while ((r = splitter.next(words, why)) == trvsim::SocketcandSplitter::Result::Element) {
            trvsim::ClientCommand command;
            if (trvsim::parseClientCommand(words, command, why) &&
                command.kind == trvsim::ClientCommand::Send) {
                if (command.frame.length > 8 || command.frame.id > 0x1FFFFFFF)
                    __builtin_trap();
                // What we write we read back identically.
                trvsim::SocketcandSplitter again;
                const std::string text = trvsim::formatSendElement(command.frame);
                again.append(text.data(), text.size());
                std::vector<std::string_view> w;
                trvsim::ClientCommand back;
                if (again.next(w, why) != trvsim::SocketcandSplitter::Result::Element ||
                    !trvsim::parseClientCommand(w, back, why) || back.frame.id != command.frame.id ||
                    back.frame.extended != command.frame.extended || back.frame.data != command.frame.data)
                    __builtin_trap();
            }
            trvsim::ServerMessage message;
            trvsim::parseServerMessage(words, message, why);
        }
        if (r == trvsim::SocketcandSplitter::Result::Malformed)
            break;
        if (splitter.buffered() > trvsim::kMaxSocketcandElement + 64)
            __builtin_trap(); // a partial element never grows beyond the limit
    }
    return 0;
}
