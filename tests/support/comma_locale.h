#pragma once
// A locale that writes numbers with a decimal comma (de_DE.UTF-8), made with localedef into
// a folder of the test's own when the system has none, so that number text can be tried
// under it. Empty when it cannot be made.

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace qvin::test {

inline std::string MakeCommaLocale() {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        std::setlocale(LC_ALL, "C");
        return "de_DE.UTF-8";
    }
    const auto dir = std::filesystem::temp_directory_path() / ("qvin-locales-" + std::to_string(::getuid()));
    if (!std::filesystem::exists(dir / "de_DE.UTF-8")) {
        std::filesystem::create_directories(dir);
        const std::string made = "localedef -c -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' > /dev/null 2>&1";
        if (std::system(made.c_str()) == -1) return {};
    }
    ::setenv("LOCPATH", dir.c_str(), 1);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) return {};
    std::setlocale(LC_ALL, "C");
    return "de_DE.UTF-8";
}

}  // namespace qvin::test
