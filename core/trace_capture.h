#pragma once
// Trace lines kept in memory, for tests and scripted scenarios that check what crossed
// the hardware boundary.

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace qvin {

class TraceCapture {
public:
    TraceCapture() { stream_ = open_memstream(&buf_, &size_); }
    ~TraceCapture() {
        std::fclose(stream_);
        std::free(buf_);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::FILE* stream() { return stream_; }
    // Lines since the last call that start with `prefix`.
    std::vector<std::string> Take(const std::string& prefix = "") {
        std::fflush(stream_);
        std::vector<std::string> lines;
        std::istringstream in(std::string(buf_ + consumed_, size_ - consumed_));
        consumed_ = size_;
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0) lines.push_back(line);
        return lines;
    }

    // Every line so far, taken or not.
    std::string All() {
        std::fflush(stream_);
        return std::string(buf_, size_);
    }

private:
    char* buf_ = nullptr;
    std::size_t size_ = 0, consumed_ = 0;
    std::FILE* stream_;
};

}  // namespace qvin
