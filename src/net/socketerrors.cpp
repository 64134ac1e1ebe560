#include "net/socketerrors.h"

RaisedError SocketFailureOf(QAbstractSocket::SocketError error)
{
    using S = QAbstractSocket;
    namespace N = ErrorNumber;
    switch (error) {
    case S::ConnectionRefusedError:
        return {N::ConnectionRefused, "The peer refused the connection."};
    case S::HostNotFoundError:
        return {N::HostNotFound, "The host name could not be resolved."};
    case S::SocketTimeoutError:
        return {N::TimedOut, "The connection attempt timed out."};
    case S::NetworkError:
        return {N::HostUnreachable, "The network or the host could not be reached."};
    case S::AddressInUseError:
        return {N::AddressInUse, "The local port is already in use."};
    case S::SocketAddressNotAvailableError:
        return {N::AddressNotAvailable, "The local address is not available on this machine."};
    case S::SocketAccessError:
        return {N::PermissionDenied, "The system did not allow this socket operation."};
    case S::SocketResourceError:
        return {N::NoBufferSpace, "The system ran out of socket resources."};
    case S::DatagramTooLargeError:
        return {N::MessageTooLong, "The datagram is too large to send."};
    case S::UnsupportedSocketOperationError:
        return {N::OperationNotSupported, "The system does not support this socket operation."};
    default:
        return {N::SocketFailure, "The socket failed unexpectedly."};
    }
}
