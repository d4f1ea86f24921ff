#pragma once
// Messages a test expects, recorded instead of shown.

#include <string>
#include <vector>

#include "core/messages.h"

namespace qvin::test {

class RecordedMessages final : public MessageService {
public:
    void Message(std::string_view text, std::string_view title) override {
        texts.emplace_back(text);
        titles.emplace_back(title);
    }
    std::vector<std::string> Take() {
        std::vector<std::string> t;
        t.swap(texts);
        titles.clear();
        return t;
    }
    std::vector<std::string> texts, titles;
};

}  // namespace qvin::test
