// quorvane-release: the key pair a publisher makes once, and the digest and signature it prints for
// a release's file, checked with the program's own verification.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include "engine/releasedigest.h"
#include "engine/releasesignature.h"
#include "releasekey/releasekey.h"
#include "releasekit.h"
#include "testenv.h"

class TestReleaseTool : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void keygenWritesAnOwnerOnlySecretKey();
    void signatureVerifiesWithThePublicKeyOnly();
    void recordForTheService();
    void programTrustsTheConfiguredKeyAlone();
    void refusals_data();
    void refusals();

private:
    QString path(const QString& name) const { return dir->filePath(name); }

    QTemporaryDir* dir = nullptr;
};

void TestReleaseTool::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
    // A key pair and a release file of 6 MiB for every test.
    {
        const ScopedUmask careless(0);
        const ToolRun keygen = runReleaseTool({ "keygen", path("secret.key"), path("release.pub") });
        QVERIFY2(keygen.exitCode == 0, qPrintable(keygen.errors));
    }
    QByteArray release(6 * 1024 * 1024, '\0');
    for (int i = 0; i < release.size(); ++i)
        release[i] = char(i * 7 % 251);
    QVERIFY(writeFile(path("setup.exe"), release));
}

void TestReleaseTool::cleanup()
{
    delete dir;
}

void TestReleaseTool::keygenWritesAnOwnerOnlySecretKey()
{
    // Made under a umask that lets everything through, the secret key is still the owner's alone.
    QCOMPARE(QFile::permissions(path("secret.key")) & groupAndOthers(), QFileDevice::Permissions());
    QVERIFY(QFile::permissions(path("release.pub")) & QFileDevice::ReadOther);

    // The public key in the form the program is built with: base64 of 32 bytes on one line.
    const QByteArray publicText = fileBytes(path("release.pub"));
    QVERIFY(publicText.endsWith('\n'));
    QCOMPARE(publicText.count('\n'), 1);
    const QByteArray publicKey = ReleaseSignature::publicKeyFromBase64(QString::fromLatin1(publicText));
    QCOMPARE(publicKey.size(), 32);
    QVERIFY(!fileBytes(path("secret.key")).contains(publicText.trimmed()));

    // Every run makes a pair of its own, and an existing key is never replaced.
    const ToolRun second = runReleaseTool({ "keygen", path("secret2.key"), path("release2.pub") });
    QCOMPARE(second.exitCode, 0);
    QVERIFY(fileBytes(path("release2.pub")) != publicText);
    const QByteArray secretText = fileBytes(path("secret.key"));
    for (const QStringList& files :
        { QStringList { path("secret.key"), path("new.pub") }, QStringList { path("new.key"), path("release.pub") } }) {
        const ToolRun again = runReleaseTool(QStringList { "keygen" } + files);
        QVERIFY(again.exitCode != 0);
        QVERIFY(!QFile::exists(path("new.key")));
        QVERIFY(!QFile::exists(path("new.pub")));
    }
    QCOMPARE(fileBytes(path("secret.key")), secretText);
    QCOMPARE(fileBytes(path("release.pub")), publicText);
}

void TestReleaseTool::signatureVerifiesWithThePublicKeyOnly()
{
    const ToolRun sign = runReleaseTool({ "sign", path("setup.exe"), "--key", path("secret.key") });
    QVERIFY2(sign.exitCode == 0, qPrintable(sign.errors));
    const QJsonObject printed = QJsonDocument::fromJson(sign.output).object();
    QCOMPARE(printed.keys(), QStringList({ "sha256", "signature" }));

    QString error;
    const QByteArray digest = ReleaseDigest::ofFile(path("setup.exe"), &error);
    QCOMPARE(printed.value("sha256").toString(), QString::fromLatin1(digest.toHex()));
    const QByteArray signature = ReleaseSignature::fromBase64(printed.value("signature").toString());
    QCOMPARE(signature.size(), 64);
    const QByteArray publicKey
        = ReleaseSignature::publicKeyFromBase64(QString::fromLatin1(fileBytes(path("release.pub"))));
    QVERIFY(ReleaseSignature::verify(digest, signature, publicKey));

    // Neither another key nor another file's digest nor a changed signature passes.
    const ReleaseSigner::KeyPair other = ReleaseSigner::generate();
    QVERIFY(!ReleaseSignature::verify(digest, signature, other.publicKey));
    QByteArray otherDigest = digest;
    otherDigest[31] = char(otherDigest[31] ^ 1);
    QVERIFY(!ReleaseSignature::verify(otherDigest, signature, publicKey));
    QByteArray changed = signature;
    changed[0] = char(changed[0] ^ 0x40);
    QVERIFY(!ReleaseSignature::verify(digest, changed, publicKey));
}

void TestReleaseTool::recordForTheService()
{
    const ToolRun sign = runReleaseTool({ "sign", path("setup.exe"), "--key", path("secret.key"), "--record",
        "--vercode", "39", "--vername", "1.7", "--description", "<p>新版本</p>" });
    QVERIFY2(sign.exitCode == 0, qPrintable(sign.errors));
    const QJsonObject record = QJsonDocument::fromJson(sign.output).object();
    QCOMPARE(record.keys(),
        QStringList(
            { "description", "panreg", "panurl", "sha256", "signature", "url1", "url2", "vercode", "vername" }));
    QCOMPARE(record.value("vercode").toInt(), 39);
    QCOMPARE(record.value("vername").toString(), QString("1.7"));
    QCOMPARE(record.value("description").toString(), QString("<p>新版本</p>"));
    // The service's own download and page unless told otherwise.
    QCOMPARE(record.value("url1").toString(), QString("{base}download/quorvane-setup.exe"));
    QCOMPARE(record.value("panurl").toString(), QString("{base}pan/quorvane.html"));
    QString error;
    QCOMPARE(record.value("sha256").toString(), ReleaseDigest::toHex(ReleaseDigest::ofFile(path("setup.exe"), &error)));
}

void TestReleaseTool::programTrustsTheConfiguredKeyAlone()
{
    // Without a throwaway key in place, the key the build was configured with (rc/keys/release.pub
    // unless the builder chose another) is the one signatures are checked against.
    const QByteArray configured = ReleaseSignature::publicKeyFromBase64(
        QString::fromLatin1(fileBytes(QStringLiteral(QUORVANE_RELEASE_PUBLIC_KEY_FILE))));
    QCOMPARE(configured.size(), 32);
    QCOMPARE(ReleaseKey::trusted(), configured);

    // A release signed with a key of one's own: refused by the configured key, accepted only while a
    // test trusts that key, refused again afterwards.
    const ToolRun sign = runReleaseTool({ "sign", path("setup.exe"), "--key", path("secret.key") });
    QVERIFY2(sign.exitCode == 0, qPrintable(sign.errors));
    const QJsonObject printed = QJsonDocument::fromJson(sign.output).object();
    const QByteArray digest = ReleaseDigest::fromHex(printed.value("sha256").toString());
    const QByteArray signature = ReleaseSignature::fromBase64(printed.value("signature").toString());
    QVERIFY(!ReleaseSignature::verify(digest, signature));
    {
        ReleaseKey::trustForTesting(
            ReleaseSignature::publicKeyFromBase64(QString::fromLatin1(fileBytes(path("release.pub")))));
        const auto trustConfiguredKey = qScopeGuard([] { ReleaseKey::trustForTesting(QByteArray()); });
        QVERIFY(ReleaseSignature::verify(digest, signature));
    }
    QCOMPARE(ReleaseKey::trusted(), configured);
    QVERIFY(!ReleaseSignature::verify(digest, signature));
}

void TestReleaseTool::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QStringList sign { "sign", "{dir}/setup.exe", "--key", "{dir}/secret.key" };
    QTest::newRow("secret key readable by others") << sign << "share key" << 1 << "chmod 600";
    QTest::newRow("not a secret key") << sign << "spoil key" << 1 << "not a secret key";
    QTest::newRow("no secret key file") << QStringList { "sign", "{dir}/setup.exe", "--key", "{dir}/none.key" } << ""
                                        << 1 << "none.key";
    QTest::newRow("no release file") << QStringList { "sign", "{dir}/none.exe", "--key", "{dir}/secret.key" } << "" << 1
                                     << "none.exe";
    QTest::newRow("no key named") << QStringList { "sign", "{dir}/setup.exe" } << "" << 2 << "usage";
    QTest::newRow("record without release number") << sign + QStringList { "--record" } << "" << 2 << "--vercode";
    QTest::newRow("unknown command") << QStringList { "verify", "{dir}/setup.exe" } << "" << 2 << "usage";
}

void TestReleaseTool::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, change);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    if (change == "share key")
        QVERIFY(
            QFile::setPermissions(path("secret.key"), QFile::permissions(path("secret.key")) | QFileDevice::ReadOther));
    if (change == "spoil key")
        QVERIFY(writeFile(path("secret.key"), "not base64 at all\n"));
    arguments.replaceInStrings("{dir}", dir->path());

    const ToolRun run = runReleaseTool(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
    QVERIFY(run.output.isEmpty());
}

QTEST_GUILESS_MAIN(TestReleaseTool)
#include "tst_releasetool.moc"
