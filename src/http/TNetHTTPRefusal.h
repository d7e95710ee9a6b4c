// The HTTP layer's refusal reasons: why a request was closed unanswered. They travel through the
// transport's refusal report (TNetTCPServer::ReportRefusal, OnRefused). Plain values; any thread.
#pragma once

#include <system_error>

enum class TNetHTTPRefusalReason {
    LineTooLong = 1,    // request line or a header line longer than MaxLineLength
    TooManyHeaderLines, // more header lines than MaxHeaderLines
    HeaderTooLarge,     // header block larger than MaxHeaderSize
    BodyTooLarge,       // body larger than MaxBodySize
    RequestTimeout,     // the request not complete within RequestTimeout
    MemoryBudget,       // the request's bytes would pass MaxRequestMemory of all requests
    BadFraming,         // a body length that cannot be trusted
    BadRequestLine,     // a request line without a blank
    BadAuthorization    // credentials of another scheme, or not Base64
};

// The category of these reasons ("http"); message() gives each reason's fixed text.
const std::error_category& NetHTTPRefusalCategory();
std::error_code make_error_code(TNetHTTPRefusalReason AReason);

template <> struct std::is_error_code_enum<TNetHTTPRefusalReason> : std::true_type {};
