// Feeds server bytes to the POP3 reply parser the way a socket would: in
// chunks of varying size, reply after reply, single-line or multi-line as the
// leading bytes choose. The parser must never read past its input, must never
// hand out more data than it was given, and must always move forward.
#include "mail/pop3/pop3_reply_parser.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

class CheckingSink : public kingyo::Pop3ReplyParser::Sink {
public:
    void status(kingyo::Pop3ReplyParser::Status, std::string_view text) override
    {
        if (text.size() > kingyo::Pop3ReplyParser::kMaxStatusText)
            std::abort();
    }
    void data(std::string_view chunk) override
    {
        dataBytes += chunk.size();
        splitter.feed(chunk, [](std::string_view line) {
            if (line.size() > 64)
                std::abort();
        });
    }
    std::size_t dataBytes = 0;
    kingyo::Pop3LineSplitter splitter{64};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t shapes = bytes[0]; // bit i: reply i is multi-line
    const std::size_t chunk = bytes[1] % 17 + 1;
    const std::string_view input(reinterpret_cast<const char *>(bytes + 2), size - 2);

    kingyo::Pop3ReplyParser parser;
    CheckingSink sink;
    std::size_t offset = 0;
    for (int reply = 0; offset < input.size(); ++reply) {
        parser.start(shapes >> (reply % 8) & 1 ? kingyo::Pop3ReplyParser::Shape::MultiLine
                                                : kingyo::Pop3ReplyParser::Shape::SingleLine);
        while (offset < input.size() && !parser.complete()) {
            const std::string_view piece = input.substr(offset, chunk);
            const std::size_t used = parser.feed(piece, sink);
            if (used > piece.size() || (used < piece.size() && !parser.complete()))
                std::abort();
            offset += used;
        }
    }
    if (sink.dataBytes > input.size())
        std::abort();
    return 0;
}
