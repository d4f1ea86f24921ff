// The main window's Debug menu: record what the program asks of the board (every port
// access and adapter transfer, with its time) to a file, and draw a recording as the SPI
// bus in a Value Change Dump that logic-analyser tools open.

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>

#include "board/vcd_export.h"
#include "ui/setup/frm_about.h"
#include "core/file_safety.h"
#include "core/number_text.h"
#include "ui/app.h"
#include "ui/main/frm_qvin27319.h"
#include "device/usb_adapter.h"
#include "session/doctor.h"

namespace qvin::ui {

void frmQvin27319::ShowRecordingState() {
    const bool recording = app_.p.trace.recording();
    mnuRecord.SetEnabled(app_.config.recordable && !recording);
    mnuStopRecording.SetEnabled(recording);
    mnuExportVcd.SetEnabled(!recording);
}

namespace {
// "12 s", "5 min 03 s", "2 h 04 min".
std::string RecordedTime(std::int64_t ns) {
    const std::int64_t s = std::max<std::int64_t>(0, ns / 1'000'000'000);
    auto two = [](std::int64_t v) {
        std::string t = v < 10 ? "0" : "";
        t += std::to_string(v);  // appended: GCC 12 at -O3 sees overlaps in "0" + a temporary that are not there
        return t;
    };
    if (s < 60) return std::to_string(s) + " s";
    if (s < 3600) return std::to_string(s / 60) + " min " + two(s % 60) + " s";
    return std::to_string(s / 3600) + " h " + two(s % 3600 / 60) + " min";
}
// "812 bytes", "48.2 kB", "1.35 MB", "2.10 GB" (powers of a thousand).
std::string RecordedSize(std::int64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + " bytes";
    const char* units[] = {"kB", "MB", "GB", "TB"};
    double v = static_cast<double>(bytes) / 1000;
    std::size_t u = 0;
    while (v >= 999.5 && u + 1 < std::size(units)) v /= 1000, ++u;
    return FormatFixed(v, v < 9.995 ? 2 : v < 99.95 ? 1 : 0) + " " + units[u];
}
}  // namespace

// The recording's time and size in the status area, once a second of the program's clock
// at most: every pass of the read loop asks.
void frmQvin27319::ShowRecordingProgress(bool now) {
    const auto progress = app_.p.trace.RecordingProgress();
    if (!progress) return;
    const std::int64_t at = app_.p.clock.NowNs();
    if (!now && at - recordingShownNs_ < 1'000'000'000) return;
    recordingShownNs_ = at;
    app_.tk.ShowStatusField(*this, "Recording: " + RecordedTime(progress->elapsedNs) + ", " + RecordedSize(progress->bytes));
}

void frmQvin27319::mnuRecord_Click() {
    app_.tk.AskFile(*this, true, "Record the bus", "Recordings (*.trace);;All files (*)", "session.trace", [this](const std::string& file) {
        if (file.empty()) return;
        if (const std::string why = app_.p.trace.StartRecording(file, app_.p.clock); !why.empty()) {
            app_.tk.Message("The bus could not be recorded.\r\n" + why);
            return;
        }
        lastRecording_ = file;
        ShowRecordingState();
        app_.tk.ShowStatus(*this, "Recording the bus to " + file);
        ShowRecordingProgress(true);
    });
}

void frmQvin27319::mnuStopRecording_Click() {
    const std::string why = app_.p.trace.StopRecording();
    ShowRecordingState();
    app_.tk.ShowStatusField(*this, "");
    if (!why.empty()) {
        app_.tk.Message("The recording is not complete.\r\n" + why);
        return;
    }
    app_.tk.ShowStatus(*this, "Recorded the bus to " + lastRecording_, kDoneStatusSeconds);
}

void frmQvin27319::mnuExportVcd_Click() {
    // The recording made last in this session; before any, one the user picks (a
    // QVIN_TRACE file, or one qvin-cli wrote).
    if (!lastRecording_.empty()) return ExportVcdOf(lastRecording_);
    app_.tk.AskFile(*this, false, "Open a recording", "Recordings (*.trace);;All files (*)", "", [this](const std::string& recording) {
        if (!recording.empty()) ExportVcdOf(recording);
    });
}

void frmQvin27319::ExportVcdOf(const std::string& recording) {
    // Beside the recording, under its name: the dialog opens in the recording's folder.
    const std::filesystem::path suggested = std::filesystem::path(recording).replace_extension(".vcd");
    app_.tk.AskFile(*this, true, "Export the recording as a waveform", "Value Change Dumps (*.vcd)", suggested.string(),
                    [this, recording](const std::string& file) {
        if (file.empty()) return;
        VcdSummary summary;
        std::string why = SameFileRefusal(file, recording);
        if (why.empty()) {
            app_.tk.SetBusy(true);
            // Written beside the target and renamed over it: a failed export leaves the old one.
            std::string recordingFault;  // said as it is: it names the recording and its line
            why = ReplaceFile(file, [&](const std::filesystem::path& temp) -> std::string {
                std::ofstream out(temp, std::ios::binary);
                const std::string fault = out ? ExportVcd(recording, out, summary, "qvin-eval " + ProgramVersion() + ", Export Recording as VCD") : std::string();
                if (!out) return "cannot be written";
                recordingFault = fault;
                return fault;
            });
            if (!recordingFault.empty()) why = recordingFault;
            app_.tk.SetBusy(false);
        }
        if (!why.empty()) {
            app_.tk.Message("The recording could not be exported.\r\n" + why);
            return;
        }
        app_.tk.ShowStatus(*this, "Exported " + std::to_string(summary.frames) + " words (" + summary.interface + ") to " + file,
                           kDoneStatusSeconds);
    });
}

// What a user needs to know before the first read (the CLI's doctor): the adapters as a
// search finds them now (the one in use stays in use), the udev rule, the groups, the
// parallel ports and the settings file, each problem with its fix.
void frmQvin27319::mnuCheckSetup_Click() {
    Program& p = app_.p;
    const session::Diagnosis d = session::Diagnose(
        app_.config.simulatedBoard,
        [&p] {
            ScanUsbBoards(p);
            return session::AdaptersFound(p);
        },
        app_.config.settingsFile.string());
    std::string text;
    for (const char c : session::DiagnosisText(d)) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    app_.tk.Message(text, "Check Setup");
}

}  // namespace qvin::ui
