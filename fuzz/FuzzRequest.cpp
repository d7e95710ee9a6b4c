// libFuzzer target: arbitrary bytes through request reading (in pieces, within small limits and
// a small memory budget), filling the request record (parameters, cookies, credentials) and
// Base64 decoding.
// Single-threaded, as libFuzzer calls it.
#include "http/NetHTTPText.h"
#include "http/TNetBase64Decoder.h"
#include "http/TNetCookie.h"
#include "http/TNetHTTPRequestInfo.h"
#include "http/TNetHTTPRequestReader.h"
#include "support/MemoryHTTPInput.h"
#include "tcp/NetExceptions.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void ReadWithin(const std::string& ABytes, size_t AStep, TNetHTTPMemoryBudget& ABudget) {
    TNetHTTPLimits limits;
    limits.MaxLineLength = 512;
    limits.MaxHeaderLines = 20;
    limits.MaxHeaderSize = 4096;
    limits.MaxBodySize = 4096;
    TMemoryHTTPInput input(ABytes, AStep);
    TNetHTTPRequestReader reader(input, limits, &ABudget);
    std::string command, target, version;
    // As the server reads it: the line is split where it was received.
    auto parse = [&](std::string_view ALine) { ParseRequestLine(ALine, command, target, version); };
    if (reader.ReadLineWith(parse))
        return;
    TNetHTTPRequestInfo request;
    request.Command = command;
    if (reader.ReadHeaders(request.Headers) ||
        reader.ReadBody(request.Headers, command, request.ParamText))
        return;
    FillRequestInfo(request, target, version, true);
}

void ReadRequest(const std::string& ABytes, size_t AStep) {
    TNetHTTPMemoryBudget budget;
    budget.SetLimit(8192);
    try {
        ReadWithin(ABytes, AStep, budget);
    } catch (const ENetException&) {
        // Refusing a request is an expected outcome.
    }
    if (budget.Held() != 0) // every byte charged goes back with the reader
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    if (ASize == 0)
        return 0;
    const size_t step = 1 + AData[0] % 64;
    const std::string bytes(reinterpret_cast<const char*>(AData) + 1, ASize - 1);
    ReadRequest(bytes, step);
    (void)DecodeParam(bytes);
    TNetCookieCollection cookies;
    ParseCookieHeader(cookies, bytes);
    for (int i = 0; i < cookies.Count(); ++i)
        (void)cookies.Items(i).CookieText();
    try {
        (void)TNetBase64Decoder().Decode(bytes);
    } catch (const ENetException&) {
    }
    return 0;
}
