#include "core/line_reader.h"

#include <algorithm>
#include <cstring>

namespace qvin {

// What the stream holds already, in a block: fast through a file, and never waiting for
// more than one character on a terminal or a pipe, where a command must run as soon as its
// line is typed. Nothing is taken from the stream before it is asked for.
bool LineReader::Fill() {
    std::streambuf* buf = in_.rdbuf();
    at_ = end_ = 0;
    if (!buf) return false;
    const std::streamsize ready = buf->in_avail();
    if (ready > 0) {
        end_ = static_cast<std::size_t>(buf->sgetn(block_.data(), std::min<std::streamsize>(ready, static_cast<std::streamsize>(block_.size()))));
        return end_ > 0;
    }
    const int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) return false;
    block_[0] = static_cast<char>(c);
    end_ = 1;
    return true;
}

// The rest of a line that was too long, up to and with its LF.
bool LineReader::SkipRest() {
    while (skipping_) {
        if (at_ == end_ && !Fill()) return false;
        const char* from = block_.data() + at_;
        const auto* nl = static_cast<const char*>(std::memchr(from, '\n', end_ - at_));
        at_ = nl ? static_cast<std::size_t>(nl - block_.data()) + 1 : end_;
        skipping_ = nl == nullptr;
    }
    return true;
}

LineReader::End LineReader::Next(std::string& line) {
    line.clear();
    if (!SkipRest()) return End::None;
    bool any = false, ended = false;
    while (!ended) {
        if (at_ == end_ && !Fill()) break;
        any = true;
        const char* from = block_.data() + at_;
        const auto* nl = static_cast<const char*>(std::memchr(from, '\n', end_ - at_));
        const std::size_t len = nl ? static_cast<std::size_t>(nl - from) : end_ - at_;
        const std::size_t room = maxLine_ - std::min(maxLine_, line.size());
        if (len > room) {
            // Handed over at once: a caller that stops here never waits for the rest of the
            // line (gigabytes on a pipe); one that goes on skips it with the next call.
            line.append(from, room);
            at_ += room;
            skipping_ = true;
            ++number_;
            return End::TooLong;
        }
        line.append(from, len);
        at_ += len + (nl ? 1 : 0);
        ended = nl != nullptr;
    }
    if (!any) return End::None;
    ++number_;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return ended ? End::Whole : End::Unended;
}

}  // namespace qvin
