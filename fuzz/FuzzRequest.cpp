// libFuzzer target: arbitrary bytes through request reading (in pieces, within small limits),
// filling the request record (parameters, cookies, credentials) and Base64 decoding.
// Single-threaded, as libFuzzer calls it.
#include "http/NetHTTPText.h"
#include "http/TNetBase64Decoder.h"
#include "http/TNetCookie.h"
#include "http/TNetHTTPRequestInfo.h"
#include "http/TNetHTTPRequestReader.h"
#include "tcp/NetExceptions.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// Hands the bytes out in pieces whose sizes come from the first byte, then reports the close.
class TFuzzInput : public INetHTTPInput {
public:
    TFuzzInput(std::string ABytes, size_t AStep) : FRest(std::move(ABytes)), FStep(AStep) {}
    const char* Data() const override { return FBuffer.data(); }
    size_t Size() const override { return FBuffer.size(); }
    std::string Take(size_t ACount) override {
        std::string head = FBuffer.substr(0, ACount);
        FBuffer.erase(0, ACount);
        return head;
    }
    size_t Fill(int) override {
        if (FRest.empty())
            throw ENetConnClosedGracefully();
        const std::string piece = FRest.substr(0, FStep);
        FRest.erase(0, piece.size());
        FBuffer += piece;
        return piece.size();
    }

private:
    std::string FBuffer, FRest;
    size_t FStep;
};

void ReadRequest(const std::string& ABytes, size_t AStep) {
    TNetHTTPLimits limits;
    limits.MaxLineLength = 512;
    limits.MaxHeaderLines = 20;
    limits.MaxHeaderSize = 4096;
    limits.MaxBodySize = 4096;
    TFuzzInput input(ABytes, AStep);
    TNetHTTPRequestReader reader(input, limits);
    std::string command, target, version;
    ParseRequestLine(reader.ReadLine(), command, target, version);
    TNetHTTPRequestInfo request;
    request.Command = command;
    reader.ReadHeaders(request.Headers);
    const long long length = ContentLengthOf(request.Headers);
    if (length >= 0)
        request.ParamText = reader.ReadBody(length);
    else if (command == "POST")
        request.ParamText = reader.ReadBodyUntilClose();
    FillRequestInfo(request, target, version, true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    if (ASize == 0)
        return 0;
    const size_t step = 1 + AData[0] % 64;
    const std::string bytes(reinterpret_cast<const char*>(AData) + 1, ASize - 1);
    try {
        ReadRequest(bytes, step);
    } catch (const ENetException&) {
        // Refusing a request is an expected outcome.
    }
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
