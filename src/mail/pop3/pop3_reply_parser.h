#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace kingyo {

// Reads POP3 replies from a byte stream fed in arbitrary chunks. A reply is a
// status line ("+OK ...", "-ERR ..." or a SASL challenge "+ ...") and, for multi-line
// commands answered with "+OK", a block of lines ended by a line holding a single ".". The block
// reaches the sink already unstuffed, as slices of the input (no copies), so a
// message body can be counted and dropped as it arrives. Bare LF line ends are
// accepted; a status line longer than kMaxStatusText keeps only its start.
class Pop3ReplyParser {
public:
    static constexpr std::size_t kMaxStatusText = 512;

    enum class Shape { SingleLine, MultiLine };
    enum class Status { Ok, Err, Challenge, Invalid };

    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void status(Status, std::string_view /*text*/) {}
        virtual void data(std::string_view /*chunk*/) {}
    };

    // Begins the next reply; a multi-line block is read only after "+OK".
    void start(Shape shape);
    // Consumes input up to the end of the current reply at most and returns how
    // many bytes it used; complete() tells whether the reply ended.
    std::size_t feed(std::string_view input, Sink &sink);
    bool complete() const { return state_ == State::Done; }

private:
    enum class State { StatusLine, SkipStatusRest, LineStart, InLine, AfterDot, AfterDotCr, Done };

    std::size_t feedStatus(std::string_view input, Sink &sink);
    std::size_t feedBlock(std::string_view input, Sink &sink);
    void finishStatus(Sink &sink);

    Shape shape_ = Shape::SingleLine;
    State state_ = State::Done;
    std::string statusLine_;
};

// Splits the unstuffed block of a multi-line reply into lines without their
// line ends; a line longer than maxLength is cut to it.
class Pop3LineSplitter {
public:
    explicit Pop3LineSplitter(std::size_t maxLength = 1024) : maxLength_(maxLength) {}

    template <typename OnLine>
    void feed(std::string_view chunk, OnLine &&onLine)
    {
        while (!chunk.empty()) {
            const std::size_t end = chunk.find('\n');
            append(chunk.substr(0, end));
            if (end == std::string_view::npos)
                return;
            onLine(takeLine());
            chunk.remove_prefix(end + 1);
        }
    }

private:
    void append(std::string_view part);
    std::string takeLine();

    std::size_t maxLength_;
    std::string line_;
};

} // namespace kingyo
