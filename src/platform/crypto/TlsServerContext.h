#pragma once

#include "platform/crypto/Pkcs12Identity.h"

#include <boost/asio/ssl/context.hpp>

#include <memory>

namespace kv {

// A TLS server context (TLS 1.2 and later) that serves the identity with its chain; nothing when
// OpenSSL refuses its key or certificate.
std::shared_ptr<boost::asio::ssl::context> makeTlsServerContext(const Pkcs12Identity& identity);

}  // namespace kv
