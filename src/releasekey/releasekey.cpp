#include "releasekey/releasekey.h"

#include "releasekeytext.h"

#ifdef QUORVANE_TEST_RELEASE_KEY
namespace {

QByteArray& testKey()
{
    static QByteArray key;
    return key;
}

} // namespace

void ReleaseKey::trustForTesting(const QByteArray& publicKey)
{
    testKey() = publicKey;
}
#endif

QByteArray ReleaseKey::trusted()
{
#ifdef QUORVANE_TEST_RELEASE_KEY
    if (!testKey().isEmpty())
        return testKey();
#endif
    return QByteArray::fromBase64(QByteArray(builtInReleaseKey));
}
