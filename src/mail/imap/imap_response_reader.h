#pragma once
#include "mail/mail_failure.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kingyo {

// One piece of a server response. Strings (quoted or literal) hold their bytes
// unescaped and exactly as sent; lists and bracketed groups hold their items.
struct ImapToken {
    enum class Type {
        Atom,    // a bare word: "EXISTS", "\Seen", "AUTH=PLAIN"
        Number,  // digits that fit 64 bits; number holds the value
        Quoted,  // "..."
        Literal, // {n} and its n bytes
        Nil,
        List,    // ( ... )
        Code,    // [ ... ]: a response code, or the section of a FETCH item
    };
    Type type = Type::Atom;
    std::string text; // the word, the digits or the string's bytes
    std::uint64_t number = 0;
    std::vector<ImapToken> items;

    bool isString() const { return type == Type::Quoted || type == Type::Literal; }
    // An atom equal to word (upper case), ignoring case.
    bool is(std::string_view word) const;
};

// A whole response. For a status response (tagged, or untagged OK, NO, BAD, PREAUTH,
// BYE) the tokens are the status word and its bracketed code, if any; the words that
// follow are the text. A continuation has a code at most, and its text. Other
// untagged data ("* 3 EXISTS", "* SEARCH 1 2") is all tokens, with no text.
struct ImapResponse {
    enum class Kind { Tagged, Untagged, Continuation };
    Kind kind = Kind::Untagged;
    std::string tag;
    std::vector<ImapToken> tokens;
    std::string text;
    std::string opening; // the start of its first line, for a failure to quote

    // The status word, when the first token is an atom (else empty), in upper case.
    std::string statusWord() const;
    // The bracketed code of a status response or continuation, or nullptr.
    const ImapToken *code() const;
};

// Reads IMAP server responses from a byte stream fed in arbitrary chunks, each byte
// looked at a bounded number of times. Bare LF line ends are accepted. A hostile
// server cannot make it hold more than kMaxResponseBytes of one response (a literal
// announced beyond what is left fails before any of it arrives) nor nest lists
// deeper than kMaxDepth.
class ImapResponseReader {
public:
    static constexpr std::size_t kMaxResponseBytes = 1 << 20; // lines and literals; about 140,000 UIDs of SEARCH
    static constexpr std::size_t kMaxDepth = 32;

    // Consumes input up to the end of one response at most and returns how many bytes
    // it used; nothing once a response is complete (until take()) or the reader failed.
    std::size_t feed(std::string_view input);
    bool complete() const { return mode_ == Mode::Done; }
    // The complete response; the reader goes on to the next.
    ImapResponse take();
    // Why the input cannot be read: ReplyOverrun past the limits, NotImap when it is
    // not shaped like IMAP; None while it can.
    MailProblem problem() const { return problem_; }
    // The start of the first line of the response being read, for a failure to quote.
    std::string_view opening() const { return response_.opening; }
    // Drops everything read so far, a failure too.
    void reset();

private:
    enum class Mode { Line, Literal, Done, Failed };
    enum class Phase {
        Start,      // the tag, "*" or "+"
        StatusWord, // after a tag
        FirstWord,  // after "*": a status word, or data
        RespText,   // after a status word: an optional code, then text
        CodeTokens, // inside the code
        Tokens,     // data to the end of the response
    };

    std::size_t feedLine(std::string_view input);
    std::size_t feedLiteral(std::string_view input);
    void readLine(std::string_view line);
    bool readStart(std::string_view line, std::size_t &at);
    // Reads tokens up to the line's end, a literal's announcement or the end of the code.
    bool readTokens(std::string_view line, std::size_t &at);
    bool readAtom(std::string_view line, std::size_t &at);
    bool readQuoted(std::string_view line, std::size_t &at);
    bool announceLiteral(std::string_view line, std::size_t &at);
    bool open(ImapToken::Type type);
    bool close(ImapToken::Type type);
    ImapToken &add(ImapToken token);
    bool charge(std::size_t bytes);
    void fail(MailProblem problem);

    Mode mode_ = Mode::Line;
    Phase phase_ = Phase::Start;
    ImapResponse response_;
    std::vector<ImapToken *> open_; // lists and codes not yet closed, innermost last
    ImapToken *literal_ = nullptr;  // the literal being read
    std::size_t literalLeft_ = 0;
    std::string line_;              // the line being read, without its end
    std::size_t size_ = 0;          // bytes of this response so far
    MailProblem problem_ = MailProblem::None;
};

} // namespace kingyo
