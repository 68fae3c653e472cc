#include "signing.h"

#include "paths.h"

#include "common/file_io.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/pem.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace velm::publish {
namespace fs = std::filesystem;

const bool kSigningAvailable = true;
const char kSigningUnavailable[] = "signing needs the native build of velm-publish";

namespace {

const unsigned char* Bytes(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

struct OpenSslFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
    void operator()(ECDSA_SIG* sig) const { ECDSA_SIG_free(sig); }
    void operator()(BIGNUM* number) const { BN_free(number); }
    void operator()(BIO* bio) const { BIO_free(bio); }
    void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};
template <typename T>
using Owned = std::unique_ptr<T, OpenSslFree>;

constexpr size_t kCoordinate = 32;
constexpr const char kCurveName[] = "prime256v1";

// The reason OpenSSL gives, taken where the call failed; the queue is left empty so that a
// later failure does not report this one.
int Fail(const std::string& what, std::string& error) {
    char text[256] = "";
    const unsigned long code = ERR_peek_last_error();
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    error = code != 0 ? what + " (" + text + ")" : what;
    return 0;
}

int PublicKeyOf(EVP_PKEY* key, ReleasePublicKey& public_key, std::string& error) {
    char group[64] = "";
    size_t group_size = 0;
    if (!EVP_PKEY_is_a(key, "EC") ||
        !EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                        &group_size) ||
        std::strcmp(group, kCurveName) != 0)
        return Fail("the key is not an ECDSA P-256 key", error);
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    const int got_x = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x);
    const int got_y = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y);
    Owned<BIGNUM> own_x(x), own_y(y);
    if (!got_x || !got_y || BN_bn2binpad(x, public_key.data(), kCoordinate) != int(kCoordinate) ||
        BN_bn2binpad(y, public_key.data() + kCoordinate, kCoordinate) != int(kCoordinate))
        return Fail("cannot read the key's public point", error);
    return 1;
}

Owned<EVP_PKEY> PrivateKeyFromPem(const std::string& pem, std::string& error) {
    Owned<BIO> bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
    Owned<EVP_PKEY> key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                            : nullptr);
    if (!key) Fail("not a private key in PEM", error);
    return key;
}

Owned<EVP_PKEY> PublicKeyFromPoint(const ReleasePublicKey& public_key) {
    unsigned char point[1 + 2 * kCoordinate];
    point[0] = 0x04;  // uncompressed
    std::memcpy(point + 1, public_key.data(), public_key.size());
    char curve[sizeof kCurveName];
    std::memcpy(curve, kCurveName, sizeof kCurveName);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, curve, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
        OSSL_PARAM_construct_end()};
    Owned<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1)
        return nullptr;
    return Owned<EVP_PKEY>(key);
}

}  // namespace

int Sha256Of(const void* data, size_t size, Sha256Digest& digest, std::string& error) {
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size())
        return Fail("SHA-256 failed", error);
    return 1;
}

int MakeSigningKey(const fs::path& out, ReleasePublicKey& public_key, std::string& error) {
    Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    if (!key) return Fail("cannot make a P-256 key", error);
    if (!PublicKeyOf(key.get(), public_key, error)) return 0;
    // Created owner-only in one step: a key file that was briefly readable by others, or
    // that replaced an existing key, could not be trusted any more.
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno == EEXIST ? out.u8string() + " exists; keygen never replaces a key file"
                                : "cannot create " + out.u8string() + ": " + std::strerror(errno);
        return 0;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    bool ok = file && PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr,
                                           nullptr) == 1;
    ok = ok && std::fflush(file) == 0 && ::fsync(fd) == 0;
    ok = (file ? std::fclose(file) : ::close(fd)) == 0 && ok;
    if (!ok) {
        ::unlink(out.c_str());
        return Fail("cannot write " + out.u8string(), error);
    }
    return 1;
}

int ReadSigningKey(const fs::path& path, std::string& pem, ReleasePublicKey& public_key,
                   std::string& error) {
    std::vector<uint8_t> bytes;
    // A PEM private key is a few hundred bytes; anything far larger is not one.
    if (!ReadWholeFile(WidePath(path), bytes, 64 * 1024)) {
        error = "cannot read the signing key " + path.u8string();
        return 0;
    }
    pem.assign(bytes.begin(), bytes.end());
    Owned<EVP_PKEY> key = PrivateKeyFromPem(pem, error);
    if (!key || !PublicKeyOf(key.get(), public_key, error)) {
        error = path.u8string() + ": " + error;
        return 0;
    }
    return 1;
}

int SignRelease(const std::string& pem, const std::string& list, ReleaseSignature& release,
                std::string& error) {
    Owned<EVP_PKEY> key = PrivateKeyFromPem(pem, error);
    ReleasePublicKey public_key{};
    Sha256Digest key_digest{};
    if (!key || !PublicKeyOf(key.get(), public_key, error) ||
        !Sha256Of(public_key.data(), public_key.size(), key_digest, error) ||
        !Sha256Of(list.data(), list.size(), release.list_sha256, error))
        return 0;
    release.key_id = KeyIdFromDigest(key_digest);
    const auto signed_part = EncodeSignedPart(release);
    Owned<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
    size_t size = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &size, Bytes(signed_part), signed_part.size()) != 1)
        return Fail("cannot sign", error);
    std::vector<unsigned char> der(size);
    if (EVP_DigestSign(ctx.get(), der.data(), &size, Bytes(signed_part), signed_part.size()) != 1)
        return Fail("cannot sign", error);
    // OpenSSL gives DER; the file holds r and s as two fixed 32-byte big-endian numbers.
    const unsigned char* at = der.data();
    Owned<ECDSA_SIG> sig(d2i_ECDSA_SIG(nullptr, &at, long(size)));
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    if (sig) ECDSA_SIG_get0(sig.get(), &r, &s);
    if (!sig || BN_bn2binpad(r, release.signature.data(), kCoordinate) != int(kCoordinate) ||
        BN_bn2binpad(s, release.signature.data() + kCoordinate, kCoordinate) != int(kCoordinate))
        return Fail("unexpected signature from OpenSSL", error);
    return CheckSignature(release, public_key, error);
}

int CheckSignature(const ReleaseSignature& release, const ReleasePublicKey& public_key,
                   std::string& error) {
    Owned<EVP_PKEY> key = PublicKeyFromPoint(public_key);
    if (!key) return Fail("the public key is not a point on P-256", error);
    Owned<ECDSA_SIG> sig(ECDSA_SIG_new());
    Owned<BIGNUM> r(BN_bin2bn(release.signature.data(), kCoordinate, nullptr));
    Owned<BIGNUM> s(BN_bin2bn(release.signature.data() + kCoordinate, kCoordinate, nullptr));
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1)
        return Fail("cannot read the signature", error);
    r.release();  // owned by sig now
    s.release();
    unsigned char* der = nullptr;
    const int der_size = i2d_ECDSA_SIG(sig.get(), &der);
    Owned<unsigned char> own_der(der);
    if (der_size <= 0) return Fail("cannot read the signature", error);
    const auto signed_part = EncodeSignedPart(release);
    Owned<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
    if (!ctx ||
        EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestVerify(ctx.get(), der, size_t(der_size), Bytes(signed_part),
                         signed_part.size()) != 1)
        return Fail("the signature does not verify with this key", error);
    return 1;
}

}  // namespace velm::publish
