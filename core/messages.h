#pragma once
// Messages to the user: a modal box with an OK button in the windows, a line on standard
// error in the command-line tool, a record in tests.

#include <string>
#include <string_view>

namespace qvin {

class MessageService {
public:
    virtual ~MessageService() = default;
    // An empty title means the application's own title. A line break inside the text is
    // a carriage return and line feed.
    virtual void Message(std::string_view text, std::string_view title = {}) = 0;
};

}  // namespace qvin
