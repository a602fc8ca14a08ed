// The MJPEG-over-HTTP stream parser: pictures however the stream is cut, and what it refuses.

#include "grabbers/mjpeg/mjpegstreamparser.h"

#include <gtest/gtest.h>

namespace {

const std::string kHead = "HTTP/1.0 200 OK\r\nServer: cam\r\nContent-Type: multipart/x-mixed-replace;"
                          "boundary=\"--myboundary\"\r\n\r\n";

std::string part(const std::string& picture, bool withLength) {
    return "--myboundary\r\nContent-Type: image/jpeg\r\n" +
           (withLength ? "Content-Length: " + std::to_string(picture.size()) + "\r\n" : std::string()) +
           "\r\n" + picture + "\r\n";
}

struct Outcome {
    std::vector<std::string> pictures;
    bool ok = true;
    std::string error;
};

Outcome parse(const std::string& stream, std::size_t piece, std::size_t limit = 1000) {
    MjpegStreamParser parser(limit);
    Outcome outcome;
    for (std::size_t at = 0; at < stream.size() && outcome.ok; at += piece)
        outcome.ok = parser.feed(stream.data() + at, std::min(piece, stream.size() - at), outcome.pictures);
    outcome.error = parser.errorText();
    return outcome;
}

TEST(MjpegStreamParser, SamePicturesHoweverTheStreamIsCut) {
    // A picture holding CRLFs and dashes, one without a length, one with.
    const std::string first = std::string("\xff\xd8\r\n--my\r\n\xff\xd9", 12);
    const std::string second(700, 'x');
    const std::string stream = kHead + part(first, false) + part(second, true) + part("last", true);
    for (std::size_t piece = 1; piece <= stream.size(); ++piece) {
        const Outcome outcome = parse(stream, piece);
        ASSERT_TRUE(outcome.ok) << piece << ": " << outcome.error;
        ASSERT_EQ(outcome.pictures, (std::vector<std::string>{first, second, "last"})) << "piece " << piece;
    }
}

TEST(MjpegStreamParser, RefusesWhatIsNotAPictureStream) {
    const std::string big(1001, 'x');
    const std::pair<std::string, std::string> cases[] = {
        {"HTTP/1.0 404 Not Found\r\n\r\n", "HTTP answer HTTP/1.0 404 Not Found"},
        {"GET / HTTP/1.0\r\n\r\n", "not an HTTP answer"},
        {"HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n\r\n",
         "not a multipart stream (content type \"image/jpeg\")"},
        {"HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace\r\n\r\n",
         "multipart stream without boundary"},
        {kHead + part(big, true), "picture of 1001 bytes exceeds the limit of 1000"},
        {kHead + part(big, false) + part("a", true), "picture exceeds the limit of 1000 bytes"},
        {kHead + "--myboundary\r\nContent-Length: 12x\r\n\r\n", "bad part length \"12x\""},
        {kHead + part("a", true) + "--myboundary--\r\n", "stream ended by the server"},
        {"HTTP/1.0 200 OK\r\nX: " + std::string(MjpegStreamParser::kMaxHeaderBytes, 'h') + "\r\n\r\n",
         "header longer than 16384 bytes"},
        {kHead + std::string(MjpegStreamParser::kMaxHeaderBytes + 20, '.'),
         "no part boundary within 16384 bytes"},
    };
    for (const auto& [stream, error] : cases)
        for (std::size_t piece : {std::size_t(1), std::size_t(7), stream.size()}) {
            const Outcome outcome = parse(stream, piece);
            EXPECT_FALSE(outcome.ok) << error;
            EXPECT_EQ(outcome.error, error) << "piece " << piece;
            EXPECT_LE(outcome.pictures.size(), 1u);
        }
    // After a failure nothing more is taken.
    MjpegStreamParser parser;
    std::vector<std::string> pictures;
    EXPECT_FALSE(parser.feed("HTTP/1.0 500 x\r\n\r\n", 18, pictures));
    const std::string good = kHead + part("p", true);
    EXPECT_FALSE(parser.feed(good.data(), good.size(), pictures));
    EXPECT_TRUE(pictures.empty());
}

} // namespace
