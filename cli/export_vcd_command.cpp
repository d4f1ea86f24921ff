#include "cli/export_vcd_command.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "board/vcd_export.h"
#include "core/excerpt.h"
#include "core/file_safety.h"

namespace qvin::cli {

using session::Error;

Action ExportVcdCommand(Command& c) {
    std::string recording, out;
    for (std::size_t i = 1; i < c.words.size(); ++i) {
        const std::string& w = c.words[i];
        if (w == "--out") {
            if (i + 1 >= c.words.size() || c.words[i + 1].empty()) throw Error(kBadInput, "export-vcd: --out needs a file name");
            out = c.words[++i];
        } else if (w.size() > 1 && w[0] == '-') {
            throw Error(kBadInput, "export-vcd: unknown option '" + Excerpt(w) + "'");
        } else if (recording.empty()) {
            recording = w;
        } else {
            throw Error(kBadInput, "export-vcd takes one recording");
        }
    }
    if (recording.empty() || out.empty()) throw Error(kBadInput, "export-vcd needs a recording and --out FILE.vcd");
    if (const std::string why = SameFileRefusal(out, recording); !why.empty()) throw Error(kBadInput, why);
    if (const std::string why = c.s.OutputRefusal(out); !why.empty()) throw Error(kBadInput, why);
    if (const std::string why = WriteRefusal(out); !why.empty()) throw Error(kFileError, why);
    return [&c, recording, out] {
        // Written beside the file and renamed: a failed export leaves nothing half-done.
        VcdSummary summary;
        std::string failure;
        const std::string why = ReplaceFile(out, [&](const std::filesystem::path& temp) -> std::string {
            std::ofstream file(temp, std::ios::binary | std::ios::trunc);
            errno = 0;
            const std::string why = ExportVcd(recording, file, summary);
            // The waveform's own file failing is named with its reason (a full disk, the
            // file-size limit); the recording's faults are said as they are.
            if (!file) return std::string(std::strerror(errno ? errno : EIO));
            failure = why;
            if (!failure.empty()) return failure;
            file.close();
            return file ? std::string() : std::string(std::strerror(errno));
        });
        if (!failure.empty()) throw Error(kFileError, failure);
        if (!why.empty()) throw Error(kFileError, why);
        c.out << out << ": " << summary.frames << " words on the " << summary.interface
              << (summary.failed ? ", " + std::to_string(summary.failed) + " " + summary.failedAre : std::string())
              << (summary.timed ? "" : " (no times recorded: a microsecond a line)") << '\n';
    };
}

}  // namespace qvin::cli
