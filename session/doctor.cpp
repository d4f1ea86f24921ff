#include "session/doctor.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <system_error>

#include "core/hex_text.h"
#include "core/number_text.h"
#include "core/settings.h"
#include "device/transports.h"
#include "platform/usb/libusb_driver.h"

namespace qvin::session {

namespace {

namespace fs = std::filesystem;

// Whether this user is in `group` now, and whether the group lists the user (a membership
// added since the login is listed but not in force until the next one).
struct Membership {
    bool exists = false, inForce = false, listed = false;
};

Membership MemberOf(const char* group) {
    Membership m;
    const struct group* g = ::getgrnam(group);
    if (!g) return m;
    m.exists = true;
    const gid_t gid = g->gr_gid;
    if (::getegid() == gid) m.inForce = true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    if (!groups.empty() && ::getgroups(static_cast<int>(groups.size()), groups.data()) >= 0)
        m.inForce = m.inForce || std::find(groups.begin(), groups.end(), gid) != groups.end();
    const struct passwd* pw = ::getpwuid(::geteuid());
    if (pw) {
        for (char** member = g->gr_mem; member && *member; ++member)
            if (std::string(*member) == pw->pw_name) m.listed = true;
        m.listed = m.listed || pw->pw_gid == gid;
    }
    return m;
}

void Group(Diagnosis& d, const char* group, const std::string& forWhat) {
    const Membership m = MemberOf(group);
    Finding f{"groups", true, "", ""};
    if (::geteuid() == 0) {
        f.text = std::string("root needs no '") + group + "' (" + forWhat + ")";
    } else if (!m.exists) {
        f.text = std::string("this system has no group '") + group + "'";
    } else if (m.inForce) {
        f.text = std::string("in '") + group + "' (" + forWhat + ")";
    } else {
        f.ok = false;
        f.text = std::string("not in '") + group + "' (" + forWhat + ")" + (m.listed ? ": added, but not in force until the next login" : "");
        f.fix = m.listed ? "log out and in again" : std::string("sudo usermod -aG ") + group + " $USER, then log out and in again";
    }
    d.findings.push_back(f);
}

}  // namespace

Diagnosis Diagnose(Session& s, const std::string& settingsFile, const DoctorPlaces& places) {
    return Diagnose(s.board().simulated() != nullptr, [&s] { return s.Adapters(); }, settingsFile, places);
}

std::string DiagnosisText(const Diagnosis& d) {
    std::string text;
    for (const Finding& f : d.findings) {
        text += (f.ok ? "ok    " : "FIX   ") + f.topic + ": " + f.text + '\n';
        if (!f.fix.empty()) text += "      -> " + f.fix + '\n';
    }
    return text + (d.boardReachable ? "A board can be reached.\n" : "No board can be reached yet: see FIX above.\n");
}

Diagnosis Diagnose(bool simulated, const std::function<std::vector<AdapterRow>()>& adapters, const std::string& settingsFile,
                   const DoctorPlaces& places) {
    Diagnosis d;
    d.findings.push_back({"USB", true, simulated ? "the simulated board's adapters" : "libusb " + LibusbVersion(), ""});
    try {
        const std::vector<AdapterRow> rows = adapters();
        for (const AdapterRow& a : rows)
            d.findings.push_back({"USB", true, a.device + ": " + a.kind + ", " + a.descriptor1 + ", firmware " + FormatFixed(a.revision, 1), ""});
        d.boardReachable = !rows.empty();
    } catch (const Error& e) {
        const std::string why = e.what();
        Finding f{"USB", false, why, "plug an adapter in (lsusb -d 2f3a: lists it)"};
        if (why.find("no permission") != std::string::npos) f.fix = "install the udev rule (below) and join plugdev, then log in again and replug";
        else if (why.find("busy") != std::string::npos) f.fix = "close the program that has it open";
        else if (why.find("USB is not available") != std::string::npos) f.fix = "give this system (or container) the USB bus: /dev/bus/usb";
        d.findings.push_back(f);
    }

    std::string rule;
    for (const fs::path& dir : places.udevRules) {
        std::error_code ec;
        if (fs::is_regular_file(dir / "60-qvin27319.rules", ec)) {
            rule = (dir / "60-qvin27319.rules").string();
            break;
        }
    }
    if (!rule.empty()) d.findings.push_back({"udev rule", true, rule, ""});
    else
        d.findings.push_back({"udev rule", false, "60-qvin27319.rules is installed nowhere udev looks",
                              "sudo cp packaging/60-qvin27319.rules /etc/udev/rules.d/ && sudo udevadm control --reload-rules && sudo udevadm trigger"});
    Group(d, "plugdev", "USB adapters over SSH");
    Group(d, "lp", "parallel ports");

    std::error_code ec;
    std::vector<std::string> ports;
    for (const auto& entry : fs::directory_iterator(places.procParport, ec))
        if (entry.path().filename().string().rfind("parport", 0) == 0) ports.push_back(entry.path().filename().string());
    std::sort(ports.begin(), ports.end());
    // Without a port, a driver for ports is no problem.
    const bool ppdev = fs::exists(places.sysModule / "ppdev", ec);
    d.findings.push_back({"ppdev", ppdev || ports.empty(), ppdev ? "loaded" : "not loaded (needed for a parallel port)",
                          ppdev || ports.empty() ? "" : "sudo modprobe ppdev (the package loads it at boot)"});
    if (ports.empty()) d.findings.push_back({"parallel port", true, "none listed by the kernel", ""});
    for (const std::string& name : ports) {
        std::ifstream in(places.procParport / name / "base-addr");
        unsigned long addr = 0;
        in >> addr;
        const fs::path device = places.dev / name;
        Finding f{"parallel port", true, name + " at " + FormatHex(static_cast<std::uint16_t>(addr & 0xFFFF)) + " (" + device.string() + ")", ""};
        if (!fs::exists(device, ec)) {
            f.ok = false;
            f.text += ": no device node";
            f.fix = "sudo modprobe ppdev";
        } else if (::access(device.c_str(), R_OK | W_OK) != 0) {
            f.ok = false;
            f.text += ": no permission";
            f.fix = "sudo usermod -aG lp $USER, then log out and in again";
        } else {
            f.text += ": usable";
            d.boardReachable = true;
        }
        d.findings.push_back(f);
    }

    // As the file says, not as this run's options set it.
    Settings st;
    ReadConfig(st, settingsFile);
    const Transport* chosen = FindTransport(st.InterfaceType);
    const std::string named = chosen ? chosen->where(st) : "no interface yet";
    d.findings.push_back({"settings", true,
                          fs::is_regular_file(settingsFile, ec) ? settingsFile + ": " + named : settingsFile + " is not there (" + named + ")", ""});
    return d;
}

}  // namespace qvin::session
