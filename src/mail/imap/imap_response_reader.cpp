#include "mail/imap/imap_response_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

namespace kingyo {

namespace {

constexpr std::size_t kOpeningBytes = 256;

bool isAtomChar(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte != 0x7F && c != '(' && c != ')' && c != '[' && c != ']' && c != '{' && c != '"';
}

bool isStatusWord(const ImapToken &token)
{
    return token.is("OK") || token.is("NO") || token.is("BAD") || token.is("PREAUTH") || token.is("BYE");
}

ImapToken wordToken(std::string_view word)
{
    ImapToken token;
    token.text.assign(word);
    const bool digits = std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), token.number);
    if (digits && error == std::errc())
        token.type = ImapToken::Type::Number;
    else if (token.is("NIL"))
        token = {ImapToken::Type::Nil, {}, 0, {}};
    return token;
}

} // namespace

bool ImapToken::is(std::string_view word) const
{
    return type == Type::Atom &&
           std::equal(text.begin(), text.end(), word.begin(), word.end(),
                      [](char x, char y) { return std::toupper(static_cast<unsigned char>(x)) == y; });
}

std::string ImapResponse::statusWord() const
{
    if (tokens.empty() || tokens.front().type != ImapToken::Type::Atom)
        return {};
    std::string word = tokens.front().text;
    for (char &c : word)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
}

const ImapToken *ImapResponse::code() const
{
    const std::size_t at = kind == Kind::Continuation ? 0 : 1;
    return tokens.size() > at && tokens[at].type == ImapToken::Type::Code ? &tokens[at] : nullptr;
}

std::size_t ImapResponseReader::feed(std::string_view input)
{
    std::size_t used = 0;
    while (used < input.size() && (mode_ == Mode::Line || mode_ == Mode::Literal)) {
        const std::string_view rest = input.substr(used);
        used += mode_ == Mode::Line ? feedLine(rest) : feedLiteral(rest);
    }
    return used;
}

ImapResponse ImapResponseReader::take()
{
    ImapResponse response = std::move(response_);
    reset();
    return response;
}

void ImapResponseReader::reset()
{
    mode_ = Mode::Line;
    phase_ = Phase::Start;
    response_ = {};
    open_.clear();
    literal_ = nullptr;
    literalLeft_ = 0;
    line_.clear();
    size_ = 0;
    problem_ = MailProblem::None;
}

std::size_t ImapResponseReader::feedLine(std::string_view input)
{
    const std::size_t end = input.find('\n');
    const std::size_t used = end == std::string_view::npos ? input.size() : end + 1;
    if (!charge(used))
        return used;
    line_.append(input.substr(0, end));
    if (end != std::string_view::npos) {
        if (!line_.empty() && line_.back() == '\r')
            line_.pop_back();
        readLine(line_);
        line_.clear();
    }
    return used;
}

std::size_t ImapResponseReader::feedLiteral(std::string_view input)
{
    const std::size_t used = std::min(input.size(), literalLeft_);
    literal_->text.append(input.substr(0, used));
    literalLeft_ -= used;
    if (literalLeft_ == 0) {
        literal_ = nullptr;
        mode_ = Mode::Line;
    }
    return used;
}

void ImapResponseReader::readLine(std::string_view line)
{
    if (response_.opening.empty())
        response_.opening.assign(line.substr(0, kOpeningBytes));
    std::size_t at = 0;
    if (phase_ == Phase::Start && !readStart(line, at))
        return;
    if (phase_ == Phase::StatusWord) {
        if (!readAtom(line, at))
            return;
        phase_ = Phase::RespText;
    }
    readTokens(line, at);
}

bool ImapResponseReader::readStart(std::string_view line, std::size_t &at)
{
    if (line.starts_with('+')) {
        response_.kind = ImapResponse::Kind::Continuation;
        at = 1;
        phase_ = Phase::RespText;
        return true;
    }
    if (line.starts_with("* ")) {
        response_.kind = ImapResponse::Kind::Untagged;
        at = 2;
        phase_ = Phase::FirstWord;
        return true;
    }
    const std::size_t space = line.find(' ');
    const std::string_view tag = line.substr(0, space);
    if (space == std::string_view::npos || tag.empty() || !std::all_of(tag.begin(), tag.end(), isAtomChar)) {
        fail(MailProblem::NotImap);
        return false;
    }
    response_.kind = ImapResponse::Kind::Tagged;
    response_.tag.assign(tag);
    at = space + 1;
    phase_ = Phase::StatusWord;
    return true;
}

bool ImapResponseReader::readTokens(std::string_view line, std::size_t &at)
{
    const auto readText = [&] {
        response_.text.assign(line.substr(std::min(at, line.size())));
        mode_ = Mode::Done;
    };
    while (mode_ == Mode::Line) {
        if (phase_ == Phase::RespText) {
            at += at < line.size() && line[at] == ' ';
            if (at < line.size() && line[at] == '[') {
                ++at;
                if (!open(ImapToken::Type::Code))
                    return false;
                phase_ = Phase::CodeTokens;
            } else {
                readText();
            }
            continue;
        }
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at == line.size()) {
            if (!open_.empty() || response_.tokens.empty()) {
                fail(MailProblem::NotImap); // a list or code left open, or nothing said
                return false;
            }
            mode_ = Mode::Done;
            return true;
        }
        bool read = false;
        switch (line[at]) {
        case '(':
            ++at;
            read = open(ImapToken::Type::List);
            break;
        case '[':
            ++at;
            read = open(ImapToken::Type::Code);
            break;
        case ')':
            ++at;
            read = close(ImapToken::Type::List);
            break;
        case ']':
            ++at;
            read = close(ImapToken::Type::Code);
            break;
        case '"':
            read = readQuoted(line, at);
            break;
        case '{':
            return announceLiteral(line, at);
        default:
            read = readAtom(line, at);
            break;
        }
        if (!read)
            return false;
        if (phase_ == Phase::FirstWord && open_.empty()) {
            phase_ = isStatusWord(response_.tokens.back()) ? Phase::RespText : Phase::Tokens;
        } else if (phase_ == Phase::CodeTokens && open_.empty()) {
            at += at < line.size() && line[at] == ' ';
            readText();
        }
    }
    return true;
}

bool ImapResponseReader::readAtom(std::string_view line, std::size_t &at)
{
    const std::size_t start = at;
    while (at < line.size() && isAtomChar(line[at]))
        ++at;
    if (at == start) {
        fail(MailProblem::NotImap);
        return false;
    }
    add(wordToken(line.substr(start, at - start)));
    return true;
}

bool ImapResponseReader::readQuoted(std::string_view line, std::size_t &at)
{
    std::string text;
    for (++at; at < line.size(); ++at) {
        char c = line[at];
        if (c == '"') {
            ++at;
            add({ImapToken::Type::Quoted, std::move(text), 0, {}});
            return true;
        }
        if (c == '\\') {
            if (++at == line.size() || (line[at] != '\\' && line[at] != '"'))
                break;
            c = line[at];
        }
        text += c;
    }
    fail(MailProblem::NotImap); // unterminated, or an escape of something else
    return false;
}

// "{n}" ends the line: the next n bytes are the literal, then the response goes on.
bool ImapResponseReader::announceLiteral(std::string_view line, std::size_t &at)
{
    const std::string_view digits = line.substr(at + 1, line.size() - at - 2);
    std::size_t size = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
    if (!line.ends_with('}') || digits.empty() || error == std::errc::invalid_argument ||
        end != digits.data() + digits.size()) {
        fail(MailProblem::NotImap);
        return false;
    }
    if (error == std::errc::result_out_of_range || !charge(size)) {
        fail(MailProblem::ReplyOverrun);
        return false;
    }
    literal_ = &add({ImapToken::Type::Literal, {}, 0, {}});
    literal_->text.reserve(size); // within the response's limit, charged above
    literalLeft_ = size;
    mode_ = size > 0 ? Mode::Literal : Mode::Line;
    at = line.size();
    return true;
}

bool ImapResponseReader::open(ImapToken::Type type)
{
    if (open_.size() == kMaxDepth) {
        fail(MailProblem::NotImap);
        return false;
    }
    open_.push_back(&add({type, {}, 0, {}}));
    return true;
}

bool ImapResponseReader::close(ImapToken::Type type)
{
    if (open_.empty() || open_.back()->type != type) {
        fail(MailProblem::NotImap);
        return false;
    }
    open_.pop_back();
    return true;
}

// Only the innermost open list grows, so the pointers to the lists around it hold.
ImapToken &ImapResponseReader::add(ImapToken token)
{
    std::vector<ImapToken> &items = open_.empty() ? response_.tokens : open_.back()->items;
    return items.emplace_back(std::move(token));
}

bool ImapResponseReader::charge(std::size_t bytes)
{
    if (bytes > kMaxResponseBytes - size_) {
        fail(MailProblem::ReplyOverrun);
        return false;
    }
    size_ += bytes;
    return true;
}

void ImapResponseReader::fail(MailProblem problem)
{
    if (response_.opening.empty())
        response_.opening.assign(line_.substr(0, kOpeningBytes));
    problem_ = problem;
    mode_ = Mode::Failed;
}

} // namespace kingyo
