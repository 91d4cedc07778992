// Settings fixed when the tool is configured (CORVANE_UPDATE_HOST,
// CORVANE_SIGNING_KEY); their definitions are generated into the build tree.
#pragma once

#include <stdint.h>

// Host, or host:port, of the update server.
extern const char corvane_update_default_host[];
// The 88-byte DER SubjectPublicKeyInfo of the signing key; not terminated.
extern const uint8_t corvane_builtin_signing_key[88];
