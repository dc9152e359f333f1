// The collector's TLS identity: a throwaway authority and a "localhost" server certificate it
// signed, directly or through an intermediate authority, made in memory for each run.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace OrbaCollector {

struct X509Deleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Certificate = std::unique_ptr<X509, X509Deleter>;
using PrivateKey = std::unique_ptr<EVP_PKEY, KeyDeleter>;

struct ServerIdentity {
    Certificate authority;
    Certificate intermediate;  // null unless asked for
    Certificate certificate;
    PrivateKey key;
};

enum class Intermediate {
    None,
    Authority,
    // Marked as no authority (basicConstraints CA:FALSE) though it signs the server's
    // certificate: clients must refuse the chain.
    NotAuthority,
};

// Makes a new authority and a server certificate for DNS "localhost" and IP 127.0.0.1, valid
// from an hour ago for a week, signed directly or through an intermediate certificate.
// Throws std::runtime_error when OpenSSL fails.
ServerIdentity makeThrowawayIdentity(Intermediate intermediateKind);

// The certificate in PEM form.
std::string toPem(X509* certificate);

}  // namespace OrbaCollector
