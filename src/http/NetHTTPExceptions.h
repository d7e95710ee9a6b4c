// The HTTP layer's exception classes, each with its fixed message.
// Plain values; any thread.
#pragma once

#include "tcp/NetExceptions.h"

class ENetHTTPServerError : public ENetException {
public:
    using ENetException::ENetException;
};

class ENetHTTPHeaderAlreadyWritten : public ENetHTTPServerError {
public:
    ENetHTTPHeaderAlreadyWritten() : ENetHTTPServerError("Header has already been written.") {}
};

class ENetHTTPErrorParsingCommand : public ENetHTTPServerError {
public:
    ENetHTTPErrorParsingCommand() : ENetHTTPServerError("Error in parsing command.") {}
};

class ENetHTTPUnsupportedAuthorisationScheme : public ENetHTTPServerError {
public:
    ENetHTTPUnsupportedAuthorisationScheme()
        : ENetHTTPServerError("Unsupported authorization scheme.") {}
};

class ENetHTTPCannotSwitchSessionStateWhenActive : public ENetHTTPServerError {
public:
    ENetHTTPCannotSwitchSessionStateWhenActive()
        : ENetHTTPServerError("Cannot change session state when the server is active.") {}
};

class ENetTableNotFound : public ENetException {
public:
    ENetTableNotFound() : ENetException("Coding table entry not found.") {}
};
