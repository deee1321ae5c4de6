#pragma once

#include <QByteArray>

// The Ed25519 public key whose signature a release must carry before the update dialog installs
// it: the key the build was configured with (rc/keys/release.pub unless the builder chose their own).
class ReleaseKey {
public:
    // The key's 32 bytes.
    static QByteArray trusted();

#ifdef QUORVANE_TEST_RELEASE_KEY
    // Test builds only: trust publicKey (32 bytes) instead of the built-in key; empty brings it back.
    static void trustForTesting(const QByteArray& publicKey);
#endif
};
