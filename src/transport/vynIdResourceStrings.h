// The fixed English texts the transport layer raises its errors with.
#pragma once

namespace vyn {

// Transport and connection
inline constexpr char16_t RSConnectionClosedGracefully[] = u"Connection Closed Gracefully.";
inline constexpr char16_t RSPackageSizeTooBig[] = u"Package Size Too Big.";
inline constexpr char16_t RSNotAllBytesSent[] = u"Not all bytes sent.";
inline constexpr char16_t RSCouldNotBindSocket[] = u"Could not bind socket.";
inline constexpr char16_t RSCannotBindRange[] = u"Can not bind in port range (%d - %d)";
inline constexpr char16_t RSInvalidPortRange[] = u"Invalid Port Range (%d - %d)";
inline constexpr char16_t RSCannotSetIPVersionWhenConnected[] = u"Cannot change IPVersion when connected";
inline constexpr char16_t RSStackError[] = u"Socket Error # %d\r\n%s";
inline constexpr char16_t RSIPVersionUnsupported[] =
    u"The requested IPVersion / Address family is not supported.";
inline constexpr char16_t RSStackSetSizeExceeded[] = u"Set Size Exceeded.";
inline constexpr char16_t RSStackAlreadyCreated[] = u"Stack already created.";
inline constexpr char16_t RSStackClassUndefined[] = u"Stack Class is undefined.";
inline constexpr char16_t RSInvalidServiceName[] = u"%s is not a valid service.";
inline constexpr char16_t RSWinsockLoadError[] = u"Error on loading Winsock2 library (%s)";
inline constexpr char16_t RSWinsockCallError[] = u"Error on call to Winsock2 library function %s";
inline constexpr char16_t RSInvalidIPv6Address[] = u"%s is not a valid IPv6 address";
inline constexpr char16_t RSEndOfStream[] = u"End of stream: Class %s at %d";
inline constexpr char16_t RSNotEnoughDataInBuffer[] = u"Not enough data in buffer. (%d/%d)";
inline constexpr char16_t RSTooMuchDataInBuffer[] = u"Too much data in buffer.";
inline constexpr char16_t RSAlreadyConnected[] = u"Already connected.";
inline constexpr char16_t RSClosedSocket[] = u"Disconnected.";
inline constexpr char16_t RSReadTimeout[] = u"Read timed out.";
inline constexpr char16_t RSReadLnMaxLineLengthExceeded[] = u"Max line length exceeded.";
inline constexpr char16_t RSReadLnWaitMaxAttemptsExceeded[] = u"Max line read attempts exceeded.";
inline constexpr char16_t RSPortRequired[] = u"A Port is required";
inline constexpr char16_t RSHostRequired[] = u"A Host is required";
inline constexpr char16_t RSObjectTypeNotSupported[] = u"Object type not supported.";
inline constexpr char16_t RSIOHandlerPropInvalid[] = u"IOHandler value is not valid";
inline constexpr char16_t RSNoDataToRead[] = u"No data to read.";
inline constexpr char16_t RSFileNotFound[] = u"File \"%s\" not found";
inline constexpr char16_t RSNotConnected[] = u"Not Connected";
inline constexpr char16_t RSConnectTimeout[] = u"Connect timed out.";
inline constexpr char16_t RSTransparentProxyCannotBind[] = u"Transparent proxy cannot bind.";
inline constexpr char16_t RSCircularLink[] = u"%s: Circular links are not allowed";
inline constexpr char16_t RSTransparentProxyUDPNotSupported[] = u"UDP Not supported by this proxy.";
inline constexpr char16_t RSRequiresLargeStream[] = u"Set LargeStream to True to send streams greater than 2GB";
inline constexpr char16_t RSDataTooLarge[] = u"Data is too large for stream";
inline constexpr char16_t RSMaximumNumberOfCaptureLineExceeded[] = u"Maximum number of line allowed exceeded";
inline constexpr char16_t RSInvalidCharacterData[] = u"Received bytes do not form a character.";
inline constexpr char16_t RSSchedMaxThreadEx[] = u"The maximum number of threads for this scheduler is exceeded.";

// Raised as plain EIdException
inline constexpr char16_t RSInvalidCodePage[] = u"Invalid codepage (%d)";
inline constexpr char16_t RSInvalidCharPos[] = u"Invalid ACharPos";
inline constexpr char16_t RSInvalidIndex[] = u"Invalid AIndex";
inline constexpr char16_t RSBufferMissingTerminator[] = u"Buffer terminator must be specified.";
inline constexpr char16_t RSBufferInvalidStartPos[] = u"Buffer start position is invalid.";
inline constexpr char16_t RSBufferCapacityTooSmall[] = u"Capacity cannot be smaller than Size";
inline constexpr char16_t RSBufferEmpty[] = u"No bytes in buffer.";
inline constexpr char16_t RSBufferIndexOutOfBounds[] = u"Index out of bounds.";
inline constexpr char16_t RSIOHandlerTypeNotInstalled[] = u"No IOHandler of type %s is installed.";
inline constexpr char16_t RSIOHandlerCannotChange[] = u"Cannot change a connected IOHandler.";
inline constexpr char16_t RSInterceptIsDifferent[] = u"The IOHandler already has a different Intercept assigned";
inline constexpr char16_t RSLogFileAlreadyOpen[] = u"Unable to set Filename while log file is open.";
inline constexpr char16_t RSReplyInvalidCode[] = u"Reply Code is not valid: %s";
inline constexpr char16_t RSReplyCodeAlreadyExists[] = u"Reply Code already exists: %s";

// SOCKS
inline constexpr char16_t RSSocksRequestFailed[] = u"Request rejected or failed.";
inline constexpr char16_t RSSocksRequestServerFailed[] = u"Request rejected because SOCKS server cannot connect.";
inline constexpr char16_t RSSocksRequestIdentFailed[] =
    u"Request rejected because the client program and identd report different user-ids.";
inline constexpr char16_t RSSocksUnknownError[] = u"Unknown socks error.";
inline constexpr char16_t RSSocksServerRespondError[] = u"Socks server did not respond.";
inline constexpr char16_t RSSocksAuthMethodError[] = u"Invalid socks authentication method.";
inline constexpr char16_t RSSocksAuthError[] = u"Authentication error to socks server.";
inline constexpr char16_t RSSocksServerGeneralError[] = u"General SOCKS server failure.";
inline constexpr char16_t RSSocksServerPermissionError[] = u"Connection not allowed by ruleset.";
inline constexpr char16_t RSSocksServerNetUnreachableError[] = u"Network unreachable.";
inline constexpr char16_t RSSocksServerHostUnreachableError[] = u"Host unreachable.";
inline constexpr char16_t RSSocksServerConnectionRefusedError[] = u"Connection refused.";
inline constexpr char16_t RSSocksServerTTLExpiredError[] = u"TTL expired.";
inline constexpr char16_t RSSocksServerCommandError[] = u"Command not supported.";
inline constexpr char16_t RSSocksServerAddressError[] = u"Address type not supported.";
inline constexpr char16_t RSSocksUDPNotSupported[] = u"UDP is not support in this SOCKS version.";

// URI
inline constexpr char16_t RSURINoProto[] = u"Protocol field is empty";
inline constexpr char16_t RSURINoHost[] = u"Host field is empty";

// HTTP engine
inline constexpr char16_t RSHTTPUnknownProtocol[] = u"Unknown Protocol";
inline constexpr char16_t RSHTTPMethodRequiresVersion[] = u"Request method requires HTTP version 1.1";
inline constexpr char16_t RSHTTPNotAcceptable[] = u"Not Acceptable";
inline constexpr char16_t RSHTTPChunkStarted[] = u"Chunk Started";
inline constexpr char16_t RSHTTPChunkSizeTooLarge[] = u"Chunk size too large: %s";
inline constexpr char16_t RSHTTPDeflateInvalidHeader[] = u"Error - invalid header";
inline constexpr char16_t RSHTTPMultipartSourceRequired[] = u"A multipart form post needs a form stream.";
inline constexpr char16_t RSHTTPConflictingContentLength[] = u"Conflicting Content-Length values: %s";
inline constexpr char16_t RSHTTPMaxHeaderLinesExceeded[] = u"Max header lines exceeded.";

// OpenSSL binding and TLS handler
inline constexpr char16_t RSOSSLFailedToLoad[] = u"Failed to load %s.";
inline constexpr char16_t RSOSSLEOFViolation[] = u"EOF was observed that violates the protocol";
inline constexpr char16_t RSOSSLCouldNotLoadSSLLibrary[] = u"Could not load SSL library.";
inline constexpr char16_t RSOSSLModeNotSet[] = u"Mode has not been set.";
inline constexpr char16_t RSOSSLGetMethodError[] = u"Error getting SSL method.";
inline constexpr char16_t RSOSSLCreatingContextError[] = u"Error creating SSL context.";
inline constexpr char16_t RSOSSLLoadingRootCertError[] = u"Could not load root certificate.";
inline constexpr char16_t RSOSSLLoadingCertError[] = u"Could not load certificate.";
inline constexpr char16_t RSOSSLLoadingKeyError[] = u"Could not load key, check password.";
inline constexpr char16_t RSOSSLLoadingDHParamsError[] = u"Could not load DH Parameters.";
inline constexpr char16_t RSOSSLSettingCipherError[] = u"SetCipher failed.";
inline constexpr char16_t RSOSSLUpdatingALPNError[] = u"Error Updating ALPN Protocols";
inline constexpr char16_t RSOSSLCreatingSessionError[] = u"Error creating SSL session.";
inline constexpr char16_t RSOSSLDataBindingError[] = u"Error binding data to SSL socket.";
inline constexpr char16_t RSOSSLFDSetError[] = u"Error setting File Descriptor for SSL";
inline constexpr char16_t RSOSSLConnectError[] = u"Error connecting with SSL.";
inline constexpr char16_t RSOSSLAcceptError[] = u"Error accepting connection with SSL.";
inline constexpr char16_t RSOSSLStatusString[] = u"SSL status: \"%s\"";
inline constexpr char16_t RSOSSLCertificateLookup[] = u"Load file into cache";

// Listener
inline constexpr char16_t RSHTTPServerNoTLSHandler[] =
    u"SSL is on, but no TLS I/O handler is installed: the listener needs a TIdSSLIOHandlerSocketBase "
    u"class for the server role (such as TIdSSLIOHandlerSocketOpenSSL) through OnCreateTLSIOHandler or "
    u"the default TLS handler factory.";
inline constexpr char16_t RSHTTPServerBindingsLocked[] = u"Cannot change the bindings of an active server.";
inline constexpr char16_t RSHTTPServerInvalidStatus[] = u"The request handler set no valid status code (%d).";
inline constexpr char16_t RSHTTPServerHandlerFailed[] = u"The request handler failed.";

}  // namespace vyn
