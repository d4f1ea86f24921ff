#include "ui/remembered_folders.h"

#include <filesystem>

namespace qvin::ui {

std::string RememberedFolders::StartAt(const std::string& kind, const std::string& suggested) const {
    const std::filesystem::path s(suggested);
    if (s.has_parent_path()) return suggested;
    auto folder = folders.find(kind);
    if (folder == folders.end()) folder = folders.find("");
    if (folder == folders.end() || folder->second.empty()) return suggested;
    const std::filesystem::path start(folder->second);
    return suggested.empty() ? start.string() : (start / s).string();
}

void RememberedFolders::Chosen(const std::string& kind, const std::string& file) {
    const std::string folder = std::filesystem::path(file).parent_path().string();
    if (folder.empty()) return;
    folders[kind] = folder;
    folders[""] = folder;
}

}  // namespace qvin::ui
