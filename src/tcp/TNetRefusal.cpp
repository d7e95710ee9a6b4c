#include "tcp/TNetRefusal.h"

std::string TNetRefusalCategory::message(int AValue) const {
    const bool known = AValue >= 1 && static_cast<size_t>(AValue) <= FTexts.size();
    return known ? FTexts[static_cast<size_t>(AValue) - 1] : "refused";
}

const std::error_category& NetRefusalCategory() {
    // Never destroyed: a detached peer thread may still report while the process exits.
    // In the order of TNetRefusalReason.
    static const auto* category = new TNetRefusalCategory(
        "tcp",
        {"too many connections from one address", "request too slow while busy", "no data in time",
         "answer not taken in time", "too many connections from one address behind a proxy",
         "TLS handshake failed", "TLS handshake too large", "request memory budget spent on TLS"});
    return *category;
}

std::error_code make_error_code(TNetRefusalReason AReason) {
    return {static_cast<int>(AReason), NetRefusalCategory()};
}
