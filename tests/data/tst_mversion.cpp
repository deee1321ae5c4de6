#include <QTest>

#include "data/mversion.h"

class TestMVersion : public QObject
{
    Q_OBJECT

private slots:
    void aNewRecordOffersNoUpdate();
};

void TestMVersion::aNewRecordOffersNoUpdate()
{
    // Until a reply fills it, the record names no release, so nothing can look newer than us.
    QObject owner;
    auto* version = new MVersion(&owner);
    QCOMPARE(version->parent(), &owner);
    QCOMPARE(version->vercode, 0);
    QVERIFY(version->description.isNull() && version->url1.isNull() && version->url2.isNull());
    QVERIFY(version->panurl.isNull() && version->panreg.isNull() && version->vername.isNull());
}

QTEST_GUILESS_MAIN(TestMVersion)
#include "tst_mversion.moc"
