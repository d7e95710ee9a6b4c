#include "http/TNetHTTPRefusal.h"

#include "tcp/TNetRefusal.h"

const std::error_category& NetHTTPRefusalCategory() {
    // Never destroyed: a detached peer thread may still report while the process exits.
    // In the order of TNetHTTPRefusalReason.
    static const auto* category = new TNetRefusalCategory(
        "http",
        {"line too long", "too many header lines", "header too large", "body too large",
         "request not complete in time", "request memory budget spent",
         "body length not trustworthy", "malformed request line", "malformed authorization"});
    return *category;
}

std::error_code make_error_code(TNetHTTPRefusalReason AReason) {
    return {static_cast<int>(AReason), NetHTTPRefusalCategory()};
}
