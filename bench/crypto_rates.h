// What the TLS library alone can do on one thread, in MB/s (10^6 bytes):
// the ceilings the benchmarks hold the client and the update cycle against.
#pragma once

#include <string>

// Seconds on a monotonic clock.
double bench_now_seconds();

// SHA-256 over 20000-byte pieces, as the download feeds it, for about a second.
double bench_sha256_rate();

// Decryption with tag check of full 16 KiB TLS records with the cipher of
// the suite named (e.g. "TLS1-3-AES-128-GCM-SHA256"), as the record layer
// does it, for about a second. 0 when the suite is unknown or not AEAD;
// cipher_name gets the cipher's name either way ("?" when unknown).
double bench_record_decrypt_rate(const char* suite_name, std::string* cipher_name);
