#include "platform/crypto/TlsServerContext.h"

#include <openssl/ssl.h>

namespace kv {

std::shared_ptr<boost::asio::ssl::context> makeTlsServerContext(const Pkcs12Identity& identity) {
    using Context = boost::asio::ssl::context;
    auto tls = std::make_shared<Context>(Context::tls_server);
    tls->set_options(Context::default_workarounds | Context::no_sslv2 | Context::no_sslv3 | Context::no_tlsv1 |
                     Context::no_tlsv1_1);
    SSL_CTX* handle = tls->native_handle();
    bool loaded = SSL_CTX_use_certificate(handle, identity.certificate()) == 1 &&
                  SSL_CTX_use_PrivateKey(handle, identity.key()) == 1 && SSL_CTX_check_private_key(handle) == 1;
    for (int i = 0; loaded && identity.chain() && i < sk_X509_num(identity.chain()); ++i) {
        loaded = SSL_CTX_add1_chain_cert(handle, sk_X509_value(identity.chain(), i)) == 1;
    }
    return loaded ? tls : nullptr;
}

}  // namespace kv
