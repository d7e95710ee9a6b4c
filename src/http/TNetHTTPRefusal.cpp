#include "http/TNetHTTPRefusal.h"

#include <string>

namespace {

class TNetHTTPRefusalCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "http"; }
    std::string message(int AValue) const override {
        switch (static_cast<TNetHTTPRefusalReason>(AValue)) {
        case TNetHTTPRefusalReason::LineTooLong:
            return "line too long";
        case TNetHTTPRefusalReason::TooManyHeaderLines:
            return "too many header lines";
        case TNetHTTPRefusalReason::HeaderTooLarge:
            return "header too large";
        case TNetHTTPRefusalReason::BodyTooLarge:
            return "body too large";
        case TNetHTTPRefusalReason::RequestTimeout:
            return "request not complete in time";
        case TNetHTTPRefusalReason::MemoryBudget:
            return "request memory budget spent";
        case TNetHTTPRefusalReason::BadFraming:
            return "body length not trustworthy";
        case TNetHTTPRefusalReason::BadRequestLine:
            return "malformed request line";
        case TNetHTTPRefusalReason::BadAuthorization:
            return "malformed authorization";
        }
        return "refused";
    }
};

} // namespace

const std::error_category& NetHTTPRefusalCategory() {
    // Never destroyed: a detached peer thread may still report while the process exits.
    static const auto* category = new TNetHTTPRefusalCategory();
    return *category;
}

std::error_code make_error_code(TNetHTTPRefusalReason AReason) {
    return {static_cast<int>(AReason), NetHTTPRefusalCategory()};
}
