#pragma once
// Where a file dialog opens: in the folder last chosen for that kind of file (its filter),
// else in the folder last chosen for any, else where the program was started. A suggestion
// that names its own folder (a waveform beside its recording) is kept as it is.

#include <map>
#include <string>

namespace qvin::ui {

class RememberedFolders {
public:
    // The path the dialog starts at for `suggested` ("strip-chart.png", or "" for none).
    std::string StartAt(const std::string& kind, const std::string& suggested) const;
    // The user chose `file` in a dialog for `kind`.
    void Chosen(const std::string& kind, const std::string& file);

    // kind -> folder; "" holds the folder chosen last for any kind.
    std::map<std::string, std::string> folders;
};

}  // namespace qvin::ui
