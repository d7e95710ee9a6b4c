// The transport's exception tree rooted at ENetException, each class with its fixed message.
// Plain values; any thread.
#pragma once

#include <exception>
#include <string>

class ENetException : public std::exception {
public:
    explicit ENetException(std::string AMessage) : FMessage(std::move(AMessage)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }

private:
    std::string FMessage;
};

// Failures that end a connection in the ordinary way; callers may stay quiet about them.
class ENetSilentException : public ENetException {
public:
    using ENetException::ENetException;
};

class ENetConnClosedGracefully : public ENetSilentException {
public:
    ENetConnClosedGracefully() : ENetSilentException("Connection Closed Gracefully.") {}
};

class ENetInvalidServiceName : public ENetException {
public:
    explicit ENetInvalidServiceName(const std::string& AService)
        : ENetException(AService + " is not a valid service.") {}
};

class ENetProtocolReplyError : public ENetException {
public:
    ENetProtocolReplyError(int AReplyCode, std::string AMessage)
        : ENetException(std::move(AMessage)), FReplyCode(AReplyCode) {}
    int ReplyCode() const noexcept { return FReplyCode; }

private:
    int FReplyCode;
};

class ENetInvalidSocket : public ENetException {
public:
    ENetInvalidSocket() : ENetException("Cannot allocate socket.") {}
};

// A failed socket call: the Windows-sockets error number and its text.
class ENetSocketError : public ENetException {
public:
    ENetSocketError(int ACode, std::string AMessage)
        : ENetException(std::move(AMessage)), FSocketErrorCode(ACode) {}
    int SocketErrorCode() const noexcept { return FSocketErrorCode; }

private:
    int FSocketErrorCode;
};

class ENetClosedSocket : public ENetException {
public:
    ENetClosedSocket() : ENetException("Socket is closed.") {}
};

class ENetMoreThanOneTNetAntiFreeze : public ENetException {
public:
    ENetMoreThanOneTNetAntiFreeze()
        : ENetException("Only one TNetAntiFreeze can exist per application.") {}
};

class ENetStackCanNotLoadWinsock : public ENetException {
public:
    explicit ENetStackCanNotLoadWinsock(const std::string& ALibrary)
        : ENetException(ALibrary + " could not be loaded.") {}
};

class ENetStackError : public ENetException {
public:
    using ENetException::ENetException;
};

class ENetStackInitializationFailed : public ENetStackError {
public:
    ENetStackInitializationFailed() : ENetStackError("Winsock Initialization Error.") {}
};

class ENetStackSetSizeExceeded : public ENetStackError {
public:
    ENetStackSetSizeExceeded() : ENetStackError("Set Size Exceeded.") {}
};

class ENetSocketHandleError : public ENetException {
public:
    using ENetException::ENetException;
};

class ENetCouldNotBindSocket : public ENetSocketHandleError {
public:
    ENetCouldNotBindSocket()
        : ENetSocketHandleError("Could not bind socket. Address and port are already in use.") {}
};

class ENetTCPConnectionError : public ENetException {
public:
    using ENetException::ENetException;
};

class ENetNotEnoughDataInBuffer : public ENetTCPConnectionError {
public:
    ENetNotEnoughDataInBuffer() : ENetTCPConnectionError("Not enough data in buffer.") {}
};

class ENetInterceptPropIsNil : public ENetTCPConnectionError {
public:
    ENetInterceptPropIsNil()
        : ENetTCPConnectionError("InterceptEnabled cannot be set to true when Intercept is nil.") {}
};

class ENetNoDataToRead : public ENetTCPConnectionError {
public:
    ENetNoDataToRead() : ENetTCPConnectionError("No data to read.") {}
};

class ENetTCPServerError : public ENetException {
public:
    using ENetException::ENetException;
};

class ENetNoExecuteSpecified : public ENetTCPServerError {
public:
    ENetNoExecuteSpecified() : ENetTCPServerError("No execute handler found.") {}
};

class ENetThreadMgrError : public ENetException {
public:
    using ENetException::ENetException;
};

class ENetThreadClassNotSpecified : public ENetThreadMgrError {
public:
    ENetThreadClassNotSpecified() : ENetThreadMgrError("Thread Class Not Specified.") {}
};
