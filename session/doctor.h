#pragma once
// What a user needs to know before the first read, each problem with its fix: libusb, the
// USB adapters and why one cannot be had, the udev rule, the groups in force, the ppdev
// driver, the parallel ports with their addresses and access, the settings file in use.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "session/session.h"

namespace qvin::session {

struct Finding {
    std::string topic;  // "USB", "udev rule", "groups", "ppdev", "parallel port", "settings"
    bool ok = true;
    std::string text;  // what was found
    std::string fix;   // what to do, where not ok
};

// Where the system is looked at; the defaults are the machine's own.
struct DoctorPlaces {
    std::filesystem::path procParport = "/proc/sys/dev/parport";
    std::filesystem::path sysModule = "/sys/module";
    std::filesystem::path dev = "/dev";
    std::vector<std::filesystem::path> udevRules = {"/etc/udev/rules.d", "/lib/udev/rules.d", "/usr/lib/udev/rules.d",
                                                    "/usr/local/lib/udev/rules.d"};
};

struct Diagnosis {
    std::vector<Finding> findings;
    bool boardReachable = false;  // an adapter that opens, or a parallel port this user may use
};

Diagnosis Diagnose(Session& s, const std::string& settingsFile, const DoctorPlaces& places = {});
// The same for a program that searches its adapters its own way: `adapters` lists those
// that answer, or throws Error saying why none does.
Diagnosis Diagnose(bool simulated, const std::function<std::vector<AdapterRow>()>& adapters, const std::string& settingsFile,
                   const DoctorPlaces& places = {});

// The report, a finding a line ("ok    USB: ...", "FIX   ppdev: ...") with each fix under
// it, and whether a board can be reached.
std::string DiagnosisText(const Diagnosis& d);

}  // namespace qvin::session
