#include "tools/kvelc/kvelc_source.h"

#include <cctype>
#include <limits>

namespace kvelc {

std::string SourceLocation::toString() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

SourceError::SourceError(const SourceLocation& where, const std::string& message)
    : std::runtime_error(where.toString() + ": error: " + message), m_where(where), m_message(message) {}

namespace {

enum class TokenKind { End, Identifier, Number, String, Punct };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;    // identifier, string contents or the punctuation character
    uint64_t number = 0; // for numbers
    SourceLocation where;
};

std::string describe(const Token& t) {
    switch (t.kind) {
    case TokenKind::End:
        return "end of file";
    case TokenKind::Identifier:
        return "'" + t.text + "'";
    case TokenKind::Number:
        return "number " + t.text;
    case TokenKind::String:
        return "string \"" + t.text + "\"";
    case TokenKind::Punct:
        return "'" + t.text + "'";
    }
    return {};
}

// Splits the text into tokens; comments are "//" to the end of the line and "/* ... */".
class Lexer {
public:
    Lexer(const std::string& file, const std::string& text) : m_text(text) { m_where.file = file; }

    Token next() {
        skipSpaceAndComments();
        Token t;
        t.where = m_where;
        if (m_pos >= m_text.size()) {
            return t;
        }
        const char c = m_text[m_pos];
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            t.kind = TokenKind::Identifier;
            while (m_pos < m_text.size() &&
                   (std::isalnum(static_cast<unsigned char>(m_text[m_pos])) || m_text[m_pos] == '_')) {
                t.text += take();
            }
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            lexNumber(t);
        } else if (c == '"') {
            lexString(t);
        } else if (std::string("{}[];:,=@").find(c) != std::string::npos) {
            t.kind = TokenKind::Punct;
            t.text = take();
        } else {
            const unsigned char u = static_cast<unsigned char>(c);
            throw SourceError(t.where, std::isprint(u) ? std::string("unexpected character '") + c + "'"
                                                       : "unexpected byte " + std::to_string(u));
        }
        return t;
    }

private:
    char take() {
        const char c = m_text[m_pos++];
        if (c == '\n') {
            ++m_where.line;
            m_where.column = 1;
        } else {
            ++m_where.column;
        }
        return c;
    }

    void skipSpaceAndComments() {
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (std::isspace(static_cast<unsigned char>(c))) {
                take();
            } else if (m_text.compare(m_pos, 2, "//") == 0) {
                while (m_pos < m_text.size() && m_text[m_pos] != '\n') {
                    take();
                }
            } else if (m_text.compare(m_pos, 2, "/*") == 0) {
                const SourceLocation start = m_where;
                take();
                take();
                while (m_pos < m_text.size() && m_text.compare(m_pos, 2, "*/") != 0) {
                    take();
                }
                if (m_pos >= m_text.size()) {
                    throw SourceError(start, "comment is not closed");
                }
                take();
                take();
            } else {
                return;
            }
        }
    }

    void lexNumber(Token& t) {
        t.kind = TokenKind::Number;
        int base = 10;
        if (m_text.compare(m_pos, 2, "0x") == 0 || m_text.compare(m_pos, 2, "0X") == 0) {
            base = 16;
            t.text += take();
            t.text += take();
        }
        bool any = false;
        while (m_pos < m_text.size() && std::isalnum(static_cast<unsigned char>(m_text[m_pos]))) {
            const char c = take();
            t.text += c;
            const int digit = std::isdigit(static_cast<unsigned char>(c))
                                  ? c - '0'
                                  : (std::isxdigit(static_cast<unsigned char>(c)) && base == 16
                                         ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                                         : -1);
            if (digit < 0 || digit >= base) {
                throw SourceError(t.where, "malformed number '" + t.text + "'");
            }
            any = true;
            t.number = t.number * base + static_cast<uint64_t>(digit);
            if (t.number > std::numeric_limits<uint32_t>::max()) {
                throw SourceError(t.where, "number too large (the limit is 4294967295)");
            }
        }
        if (!any) {
            throw SourceError(t.where, "malformed number '" + t.text + "'");
        }
    }

    void lexString(Token& t) {
        t.kind = TokenKind::String;
        take();
        while (m_pos < m_text.size() && m_text[m_pos] != '"' && m_text[m_pos] != '\n') {
            t.text += take();
        }
        if (m_pos >= m_text.size() || m_text[m_pos] != '"') {
            throw SourceError(t.where, "string is not closed on its line");
        }
        take();
    }

    const std::string& m_text;
    size_t m_pos = 0;
    SourceLocation m_where{{}, 1, 1};
};

// Recursive-descent parser over the token stream, one token of look-ahead.
class Parser {
public:
    Parser(const std::string& file, const std::string& text) : m_lexer(file, text) {
        m_unit.file = file;
        advance();
    }

    SourceUnit run() {
        while (m_tok.kind != TokenKind::End) {
            if (isKeyword("include")) {
                if (!m_unit.structs.empty() || !m_unit.outputs.empty()) {
                    fail("'include' must come before the first struct or output");
                }
                parseInclude();
            } else if (isKeyword("struct")) {
                parseStruct();
            } else if (isKeyword("output")) {
                parseOutput();
            } else {
                fail("expected 'include', 'struct' or 'output', found " + describe(m_tok));
            }
        }
        return std::move(m_unit);
    }

private:
    void advance() { m_tok = m_lexer.next(); }

    [[noreturn]] void fail(const std::string& message) const { throw SourceError(m_tok.where, message); }

    bool isKeyword(const char* word) const {
        return m_tok.kind == TokenKind::Identifier && m_tok.text == word;
    }
    bool isPunct(char c) const { return m_tok.kind == TokenKind::Punct && m_tok.text[0] == c; }

    void expectPunct(char c) {
        if (!isPunct(c)) {
            fail(std::string("expected '") + c + "', found " + describe(m_tok));
        }
        advance();
    }

    std::string expectIdentifier(const char* what) {
        if (m_tok.kind != TokenKind::Identifier) {
            fail(std::string("expected ") + what + ", found " + describe(m_tok));
        }
        std::string s = m_tok.text;
        advance();
        return s;
    }

    uint32_t expectNumber(const char* what) {
        if (m_tok.kind != TokenKind::Number) {
            fail(std::string("expected ") + what + ", found " + describe(m_tok));
        }
        const auto n = static_cast<uint32_t>(m_tok.number);
        advance();
        return n;
    }

    void parseInclude() {
        IncludeDecl inc;
        inc.where = m_tok.where;
        advance();
        if (m_tok.kind != TokenKind::String || m_tok.text.empty()) {
            fail("expected a file name in double quotes after 'include'");
        }
        inc.path = m_tok.text;
        advance();
        expectPunct(';');
        m_unit.includes.push_back(std::move(inc));
    }

    void parseStruct() {
        StructDecl s;
        s.where = m_tok.where;
        advance();
        s.name = expectIdentifier("a structure name");
        if (isPunct(':')) {
            advance();
            s.base = expectIdentifier("the name of the structure to extend");
        }
        if (isKeyword("size")) {
            advance();
            s.size = expectNumber("a size in bytes");
        }
        expectPunct('{');
        while (!isPunct('}')) {
            if (m_tok.kind == TokenKind::End) {
                fail("structure '" + s.name + "' is not closed with '}'");
            }
            s.members.push_back(parseMember());
        }
        advance();
        if (isPunct(';')) {
            advance();
        }
        m_unit.structs.push_back(std::move(s));
    }

    MemberDecl parseMember() {
        MemberDecl m;
        m.where = m_tok.where;
        if (isKeyword("reserve")) {
            advance();
            m.isReserve = true;
            m.reserveBytes = expectNumber("a byte count after 'reserve'");
            if (m.reserveBytes == 0) {
                throw SourceError(m.where, "'reserve 0' reserves nothing");
            }
        } else {
            m.typeName = expectIdentifier("a member type");
            m.name = expectIdentifier("a member name");
            while (isPunct('[')) {
                advance();
                const SourceLocation where = m_tok.where;
                const uint32_t extent = expectNumber("an array extent");
                if (extent == 0) {
                    throw SourceError(where, "array extent of '" + m.name + "' must be at least 1");
                }
                m.dims.push_back(extent);
                expectPunct(']');
            }
            if (m.dims.size() > 255) {
                throw SourceError(m.where, "member '" + m.name + "' has more than 255 dimensions");
            }
        }
        if (isPunct('@')) {
            advance();
            m.at = expectNumber("an offset after '@'");
        }
        expectPunct(';');
        return m;
    }

    void parseOutput() {
        OutputDecl o;
        o.where = m_tok.where;
        advance();
        for (;;) {
            if (m_tok.kind != TokenKind::String || m_tok.text.empty()) {
                fail("expected an output name in double quotes, found " + describe(m_tok));
            }
            for (const char c : m_tok.text) {
                if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') {
                    fail("output name \"" + m_tok.text +
                         "\" may hold only letters, digits, '_', '-' and '.'");
                }
            }
            o.names.push_back(m_tok.text);
            advance();
            if (!isPunct(',')) {
                break;
            }
            advance();
        }
        expectPunct('=');
        o.structName = expectIdentifier("the name of the structure to output");
        if (!isKeyword("as")) {
            fail("expected 'as' and the root name, found " + describe(m_tok));
        }
        advance();
        o.rootName = expectIdentifier("the root name");
        if (isKeyword("little_endian")) {
            o.byteOrder = ByteOrder::Little;
        } else if (isKeyword("big_endian")) {
            o.byteOrder = ByteOrder::Big;
        } else {
            fail("expected 'little_endian' or 'big_endian', found " + describe(m_tok));
        }
        advance();
        expectPunct(';');
        m_unit.outputs.push_back(std::move(o));
    }

    Lexer m_lexer;
    Token m_tok;
    SourceUnit m_unit;
};

} // namespace

SourceUnit parseSource(const std::string& fileName, const std::string& text) {
    return Parser(fileName, text).run();
}

} // namespace kvelc
