// Data logs read back: any bytes give runs and passes in time order and a count of what
// was skipped; the chart's reduction and CSV over them stay within their bounds, from the
// readings and from the summaries alike.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "device/data_log_reader.h"
#include "ui/chart/strip_chart_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const qvin::DataLogContents log = qvin::ParseDataLog(text);
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n';
    std::size_t passes = 0;
    for (const auto& run : log.runs) passes += run.passes.size();
    if (passes + log.skipped > lines) __builtin_trap();

    qvin::ui::StripChartData chart(std::chrono::hours(24 * 366 * 10));
    if (qvin::ui::AddLog(chart, log) != passes) __builtin_trap();
    const auto& s = chart.samples();
    for (std::size_t i = 1; i < s.size(); ++i)
        if (s[i].time < s[i - 1].time) __builtin_trap();
    if (s.empty()) return 0;
    const auto from = s.front().time, to = s.back().time + std::chrono::seconds(1);
    const auto cols = chart.Reduce(from, to, 97);
    if (cols.size() != 97) __builtin_trap();
    (void)chart.Csv(from, to);

    // The same readings with only the last second kept one by one: the summaries draw the
    // rest, every extreme in its column's bounds, and they count every reading.
    qvin::ui::StripChartData summed(std::chrono::seconds(1));
    if (qvin::ui::AddLog(summed, log) != passes || summed.count() != passes) __builtin_trap();
    for (const auto& c : summed.Reduce(*summed.oldest(), to, 61))
        for (std::size_t k = 0; c.any && k < c.min.size(); ++k)
            if (!(c.min[k] <= c.max[k]) && c.min[k] == c.min[k]) __builtin_trap();
    if (summed.Stats(*summed.oldest(), to)[3].count > passes) __builtin_trap();
    return 0;
}
