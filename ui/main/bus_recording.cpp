// The main window's Debug menu: record what the program asks of the board (every port
// access and adapter transfer, with its time) to a file, and draw a recording as the SPI
// bus in a Value Change Dump that logic-analyser tools open.

#include <filesystem>
#include <fstream>
#include <string>

#include "board/vcd_export.h"
#include "ui/setup/frm_about.h"
#include "core/file_safety.h"
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
    });
}

void frmQvin27319::mnuStopRecording_Click() {
    const std::string why = app_.p.trace.StopRecording();
    ShowRecordingState();
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
