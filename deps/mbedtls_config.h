// The one Mbed TLS configuration of every build (the Windows exe, the native
// tests, the sanitizer builds, the fuzzers, the benchmarks and the release
// tool): what a TLS client that verifies no certificate and a secp256k1
// signature checker need, and little else. No server side and no DTLS: the
// test servers are real servers, not this library.
#ifndef CORVANE_MBEDTLS_CONFIG_H
#define CORVANE_MBEDTLS_CONFIG_H

// System support.
#define MBEDTLS_HAVE_ASM
#define MBEDTLS_HAVE_TIME
#define MBEDTLS_PLATFORM_C
// Secrets are wiped by deps/mbedtls_zeroize.c, not by mingw-w64's byte-wise
// SecureZeroMemory (a third of SHA-256's speed in the 32-bit exe).
#define MBEDTLS_PLATFORM_ZEROIZE_ALT
#define MBEDTLS_VERSION_C

// Randomness: the library's default entropy sources feed a CTR-DRBG.
#define MBEDTLS_ENTROPY_C
#define MBEDTLS_CTR_DRBG_C

// Hashes: SHA-256 for the signatures and the download; SHA-384/512 for the
// TLS suites and certificate signatures servers use.
#define MBEDTLS_MD_C
#define MBEDTLS_SHA224_C
#define MBEDTLS_SHA256_C
#define MBEDTLS_SHA384_C
#define MBEDTLS_SHA512_C
#define MBEDTLS_HKDF_C

// Bulk ciphers: only AEAD suites. AES uses the processor's AES instructions
// where it has them (checked at run time); ChaCha20-Poly1305 is the fast
// choice where it has not.
#define MBEDTLS_CIPHER_C
#define MBEDTLS_AES_C
#define MBEDTLS_AESNI_C
#define MBEDTLS_GCM_C
#define MBEDTLS_CHACHA20_C
#define MBEDTLS_POLY1305_C
#define MBEDTLS_CHACHAPOLY_C

// Public keys: ECDSA over secp256k1 for the update signatures (verify; the
// release tool also signs and writes keys), and what servers present: ECDSA
// on the NIST curves and RSA (PKCS#1 v1.5 for TLS 1.2, PSS for TLS 1.3).
#define MBEDTLS_BIGNUM_C
#define MBEDTLS_ECP_C
#define MBEDTLS_ECP_NIST_OPTIM
#define MBEDTLS_ECP_DP_SECP256K1_ENABLED
#define MBEDTLS_ECP_DP_SECP256R1_ENABLED
#define MBEDTLS_ECP_DP_SECP384R1_ENABLED
#define MBEDTLS_ECP_DP_SECP521R1_ENABLED
#define MBEDTLS_ECP_DP_CURVE25519_ENABLED
#define MBEDTLS_ECDH_C
#define MBEDTLS_ECDSA_C
#define MBEDTLS_RSA_C
#define MBEDTLS_PKCS1_V15
#define MBEDTLS_PKCS1_V21
#define MBEDTLS_ASN1_PARSE_C
#define MBEDTLS_ASN1_WRITE_C
#define MBEDTLS_OID_C
#define MBEDTLS_BASE64_C
#define MBEDTLS_PEM_PARSE_C
#define MBEDTLS_PEM_WRITE_C
#define MBEDTLS_PK_C
#define MBEDTLS_PK_PARSE_C
#define MBEDTLS_PK_WRITE_C
#define MBEDTLS_X509_USE_C
#define MBEDTLS_X509_CRT_PARSE_C

// PSA crypto: TLS 1.3 does its key schedule and key exchange through it.
// The classic interfaces stay the ones the tool calls (and the strict DER
// reading of ECDSA signatures they do), so MBEDTLS_USE_PSA_CRYPTO is off.
#define MBEDTLS_PSA_CRYPTO_C

// TLS: a client for 1.2 and 1.3 over a stream, ECDHE key exchange only.
#define MBEDTLS_SSL_TLS_C
#define MBEDTLS_SSL_CLI_C
#define MBEDTLS_SSL_PROTO_TLS1_2
#define MBEDTLS_SSL_PROTO_TLS1_3
#define MBEDTLS_SSL_TLS1_3_COMPATIBILITY_MODE
#define MBEDTLS_SSL_TLS1_3_KEY_EXCHANGE_MODE_EPHEMERAL_ENABLED
#define MBEDTLS_KEY_EXCHANGE_ECDHE_ECDSA_ENABLED
#define MBEDTLS_KEY_EXCHANGE_ECDHE_RSA_ENABLED
#define MBEDTLS_SSL_SERVER_NAME_INDICATION
#define MBEDTLS_SSL_EXTENDED_MASTER_SECRET
#define MBEDTLS_SSL_KEEP_PEER_CERTIFICATE
// No session tickets: nothing is resumed, and a TLS 1.3 server's tickets
// after the handshake are then read past inside the library, never handed
// up as data or as an error.

#endif
