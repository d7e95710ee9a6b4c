// libFuzzer target: arbitrary bytes as an overview file, counted line by line by the
// statistics (reading combined lines back, unescaping, parameters, hosts, names), then the
// summary with its display names. Single-threaded, as libFuzzer calls it.
#include "stats/TDayStats.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    std::string_view text(reinterpret_cast<const char*>(AData), ASize);
    TDayStats stats({"1.2.3.4=Anna", "=x", "a=b=c"});
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        stats.AddLine(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    (void)stats.Summary();
    return 0;
}
