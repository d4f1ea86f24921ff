#pragma once
// What a file the program writes may be. A link is followed only when the user running the
// program, or root, owns it: in a shared folder another user's link would otherwise send a
// save or a log wherever they chose (the kernel's protected-links rule, for every folder).
// Only regular files are written: a FIFO would hang the program, a device take the data.
// Each check returns why the file may not be written, or nothing.

#include <filesystem>
#include <functional>
#include <string>

namespace qvin {

// Every link on the way to the file, in any part of its path (a link to a link counts
// twice), must be this user's or root's.
std::string LinkRefusal(const std::filesystem::path& file);
// An existing file (after its links) must be a regular file.
std::string NotRegularRefusal(const std::filesystem::path& file);
// Both checks above.
std::string WriteRefusal(const std::filesystem::path& file);
// Whether two names are one file: by any name (a link, a second hard link) when both are
// there, by their resolved names when neither is yet.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);
// The output must not be the input, by any name.
std::string SameFileRefusal(const std::filesystem::path& output, const std::filesystem::path& input);

// Replaces `file` with what `write` puts into a fresh temporary file beside it (the path it
// is given), then renames that over the file: a failed write leaves the old file as it was.
// `write` returns why it failed ("No space left on device"), or nothing. Runs WriteRefusal
// first; a link stays a link and the file it leads to is replaced. Returns why the file
// was not replaced ("FILE: reason"), or nothing.
//
// With `keep`, a write that fails after `keep->wanted` was set (rows worth keeping) leaves
// what it wrote: as the file itself when there was none, else beside it as FILE.partial
// when that name is free, else under its temporary name; `keep->where` says which.
//
// With `inPlace`, a file in a folder this user cannot write, but which this user may write,
// is rewritten where it is (`write` given the file itself): the only way left to keep it.
struct KeepPartial {
    bool wanted = false;
    std::filesystem::path where;
};
enum class WhenFolderLocked { Refuse, RewriteInPlace };
std::string ReplaceFile(const std::filesystem::path& file, const std::function<std::string(const std::filesystem::path&)>& write,
                        KeepPartial* keep = nullptr, WhenFolderLocked inPlace = WhenFolderLocked::Refuse);

// Ctrl-C, SIGTERM and SIGHUP remove the temporary files ReplaceFile is writing before they
// end the program as they would have (a signal ignored stays ignored). For programs that
// end on those signals; a handler of their own, while it is set, replaces this one.
void RemoveTemporariesOnSignal();

// ReplaceFile with `contents`, every byte checked on its way to the disk.
std::string WriteWholeFile(const std::filesystem::path& file, const std::string& contents,
                           WhenFolderLocked inPlace = WhenFolderLocked::Refuse);

}  // namespace qvin
