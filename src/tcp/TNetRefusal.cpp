#include "tcp/TNetRefusal.h"

namespace {

class TNetRefusalCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "tcp"; }
    std::string message(int AValue) const override {
        switch (static_cast<TNetRefusalReason>(AValue)) {
        case TNetRefusalReason::PerAddressLimit:
            return "too many connections from one address";
        case TNetRefusalReason::HeadTimeoutUnderLoad:
            return "request too slow while the server is busy";
        case TNetRefusalReason::ReadTimeout:
            return "no data in time";
        case TNetRefusalReason::SendTimeout:
            return "answer not taken in time";
        }
        return "refused";
    }
};

} // namespace

const std::error_category& NetRefusalCategory() {
    // Never destroyed: a detached peer thread may still report while the process exits.
    static const auto* category = new TNetRefusalCategory();
    return *category;
}

std::error_code make_error_code(TNetRefusalReason AReason) {
    return {static_cast<int>(AReason), NetRefusalCategory()};
}
