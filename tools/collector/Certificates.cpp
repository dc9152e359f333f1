#include "Certificates.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace OrbaCollector {

namespace {

constexpr long kValidBeforeNowSeconds = 60L * 60;
constexpr long kValidAfterNowSeconds = 7L * 24 * 60 * 60;

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("certificate set-up failed: ") + what);
}

PrivateKey makeKey() {
    // RSA rather than an elliptic curve: Windows' oldest certificate code paths verify it too.
    PrivateKey key(EVP_RSA_gen(2048));
    check(key != nullptr, "key generation");
    return key;
}

void addExtension(X509* subject, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, subject, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    check(extension != nullptr, value);
    bool added = X509_add_ext(subject, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    check(added, value);
}

Certificate makeCertificate(EVP_PKEY* subjectKey, const char* commonName) {
    Certificate certificate(X509_new());
    check(certificate != nullptr, "X509_new");
    X509* x = certificate.get();
    check(X509_set_version(x, 2) == 1, "version");
    unsigned char serial[16];
    check(RAND_bytes(serial, sizeof serial) == 1, "serial");
    serial[0] &= 0x7F;  // a positive serial
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    bool serialSet =
        number != nullptr && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x)) != nullptr;
    BN_free(number);
    check(serialSet, "serial");
    check(X509_gmtime_adj(X509_getm_notBefore(x), -kValidBeforeNowSeconds) != nullptr, "dates");
    check(X509_gmtime_adj(X509_getm_notAfter(x), kValidAfterNowSeconds) != nullptr, "dates");
    X509_NAME* name = X509_get_subject_name(x);
    check(X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                     reinterpret_cast<const unsigned char*>("Orba Collector"), -1,
                                     -1, 0) == 1 &&
              X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                         reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                         0) == 1,
          "subject");
    check(X509_set_pubkey(x, subjectKey) == 1, "public key");
    return certificate;
}

}  // namespace

ServerIdentity makeThrowawayIdentity(Intermediate intermediateKind) {
    ServerIdentity identity;
    PrivateKey authorityKey = makeKey();
    identity.authority = makeCertificate(authorityKey.get(), "Orba Collector Throwaway CA");
    X509* ca = identity.authority.get();
    check(X509_set_issuer_name(ca, X509_get_subject_name(ca)) == 1, "issuer");
    addExtension(ca, ca, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(ca, ca, NID_subject_key_identifier, "hash");
    check(X509_sign(ca, authorityKey.get(), EVP_sha256()) > 0, "authority signature");

    X509* issuer = ca;
    EVP_PKEY* issuerKey = authorityKey.get();
    PrivateKey intermediateKey;
    if (intermediateKind != Intermediate::None) {
        intermediateKey = makeKey();
        identity.intermediate =
            makeCertificate(intermediateKey.get(), "Orba Collector Throwaway Intermediate");
        X509* intermediate = identity.intermediate.get();
        check(X509_set_issuer_name(intermediate, X509_get_subject_name(ca)) == 1, "issuer");
        // The key usage still allows signing certificates, so that only the basic constraints
        // tell the two kinds apart.
        addExtension(intermediate, ca, NID_basic_constraints,
                     intermediateKind == Intermediate::Authority ? "critical,CA:TRUE,pathlen:0"
                                                                 : "critical,CA:FALSE");
        addExtension(intermediate, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
        addExtension(intermediate, ca, NID_subject_key_identifier, "hash");
        addExtension(intermediate, ca, NID_authority_key_identifier, "keyid:always");
        check(X509_sign(intermediate, authorityKey.get(), EVP_sha256()) > 0,
              "intermediate signature");
        issuer = intermediate;
        issuerKey = intermediateKey.get();
    }

    identity.key = makeKey();
    identity.certificate = makeCertificate(identity.key.get(), "localhost");
    X509* server = identity.certificate.get();
    check(X509_set_issuer_name(server, X509_get_subject_name(issuer)) == 1, "issuer");
    addExtension(server, issuer, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(server, issuer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    addExtension(server, issuer, NID_ext_key_usage, "serverAuth");
    addExtension(server, issuer, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    addExtension(server, issuer, NID_subject_key_identifier, "hash");
    addExtension(server, issuer, NID_authority_key_identifier, "keyid:always");
    check(X509_sign(server, issuerKey, EVP_sha256()) > 0, "server signature");
    return identity;
}

std::string toPem(X509* certificate) {
    BIO* memory = BIO_new(BIO_s_mem());
    check(memory != nullptr, "BIO_new");
    bool written = PEM_write_bio_X509(memory, certificate) == 1;
    char* data = nullptr;
    long size = BIO_get_mem_data(memory, &data);
    std::string pem = written && size > 0 ? std::string(data, static_cast<std::size_t>(size)) : "";
    BIO_free(memory);
    check(!pem.empty(), "PEM encoding");
    return pem;
}

}  // namespace OrbaCollector
