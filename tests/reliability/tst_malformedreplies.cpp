// Malformed replies of the web service (truncated, empty, huge, deeply nested, of the wrong types)
// to every request the program makes: the synchronisation's two, the account check, the update
// check and the feedback. A real quorvane-service sends each as the body of the path's fault. No
// crash, no hang; where the user waits for an answer, the program's box says the request failed,
// and the book is the same file afterwards.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "engine/synchelper.h"
#include "modalanswerer.h"
#include "reliabilitykit.h"
#include "servicefixture.h"
#include "servicestore.h"
#include "sync/dfeedback.h"
#include "sync/dsync.h"
#include "sync/dsyncconfig.h"
#include "sync/updatehelper.h"
#include "testenv.h"

namespace {

using ReliabilityKit::bytesOf;

const QString failedText = QString::fromUtf8("同步失败，同步时出现严重错误");

// The bill columns of a change set, each cell of the one row an object or an array.
QString cellsOfWrongTypes()
{
    const QStringList columns = ServiceStore::columnsOf(QStringLiteral("bill"));
    QStringList cells;
    for (int i = 0; i < columns.size(); ++i)
        cells << (i % 2 ? "[1]" : "{\"a\":1}");
    return QString("[{\"table_name\":\"bill\",\"update_columns\":[\"%1\"],\"update_data\":[[%2]],"
                   "\"delete_columns\":[\"id\",\"version\"],\"delete_data\":[]}]")
        .arg(columns.join("\",\""), cells.join(','));
}

// The reply table: a name, the body, and the message the synchronisation reports for it.
void addReplies()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("message");
    QTest::newRow("truncated")
        << R"([{"table_name":"bill","update_columns":["id","version"],"update_data":[["x","2013-)" << failedText;
    QTest::newRow("empty") << "" << failedText;
    QTest::newRow("NUL first") << QString(QChar(0)) + "[]" << failedText;
    QTest::newRow("HTML page") << "<html><body>维护中</body></html>" << failedText;
    QTest::newRow("huge page") << QString(16 * 1024 * 1024, 'x') << failedText;
    const QString huge(4 * 1024 * 1024, QChar(0x957f));
    QTest::newRow("huge message") << QString(R"({"error":9,"message":"%1"})").arg(huge) << huge;
    QTest::newRow("deeply nested arrays") << QString(100000, '[') + QString(100000, ']') << failedText;
    QTest::newRow("deeply nested objects")
        << QString("{\"a\":").repeated(100000) + "1" + QString(100000, '}') << failedText;
    QTest::newRow("a number") << "42" << failedText;
    QTest::newRow("a text") << "\"text\"" << failedText;
    QTest::newRow("null") << "null" << failedText;
    QTest::newRow("array of numbers") << "[1,2,3]" << failedText;
    QTest::newRow("tables of wrong types")
        << R"([{"table_name":1,"update_columns":"id","update_data":{"x":1},"delete_data":"y"}])" << failedText;
    QTest::newRow("cells of wrong types") << cellsOfWrongTypes() << failedText;
    QTest::newRow("error of wrong types") << R"({"error":"seven","message":{"text":"x"}})" << failedText;
    QTest::newRow("id of a wrong type") << R"({"id":{"x":1}})" << failedText;
}

// Answers the box of title whose text is message (a long one as the box shows it: its start).
ModalAnswerer::Matcher boxWith(const QString& title, const QString& message)
{
    return [title, message](QWidget* box) {
        const QString text = ModalAnswerer::textOf(box);
        const bool fits = box->width() <= box->screen()->availableGeometry().width();
        return ModalAnswerer::titleOf(box) == title && fits
            && (text == message || (message.size() > 100 && text.startsWith(message.left(20))));
    };
}

} // namespace

class TestMalformedReplies : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void synchronisationSaysItFailed_data();
    void synchronisationSaysItFailed();
    void firstSynchronisationSaysItFailed_data();
    void firstSynchronisationSaysItFailed();
    void accountCheckSaysItFailed_data();
    void accountCheckSaysItFailed();
    void updateCheckStaysSilent_data();
    void updateCheckStaysSilent();
    void feedbackSaysItFailed_data();
    void feedbackSaysItFailed();

private:
    ServiceFixture service;
};

void TestMalformedReplies::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
}

void TestMalformedReplies::cleanup()
{
    service.clearConfig();
}

void TestMalformedReplies::synchronisationSaysItFailed_data()
{
    addReplies();
}

void TestMalformedReplies::synchronisationSaysItFailed()
{
    QFETCH(QString, body);
    QFETCH(QString, message);
    AccountBook book(service);
    QVERIFY2(book.isReady(), qPrintable(book.errorText()));
    // A first run gives the book its account's ids; the next one gets the malformed reply.
    QVERIFY(runSync().finished);
    addBillRow("expense", -12.5, QDate(2013, 5, 8));
    const QByteArray before = bytesOf(book.path());
    service.setFault("sync/syncpc2.php", { { "body", body } });

    ModalAnswerer boxes;
    boxes.expect(boxWith("同步出错", message), ModalAnswerer::press("确定"), "the error");
    {
        DSync dialog;
        dialog.show();
        QVERIFY(QTest::qWaitFor([] { return !SyncHelper::getInstance()->isRunning(); }, 120000));
        QVERIFY2(boxes.waitAnswered(), qPrintable(boxes.report()));
        QVERIFY(!dialog.isVisible());
    }
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(bytesOf(book.path()), before);
}

void TestMalformedReplies::firstSynchronisationSaysItFailed_data()
{
    addReplies();
}

void TestMalformedReplies::firstSynchronisationSaysItFailed()
{
    QFETCH(QString, body);
    QFETCH(QString, message);
    AccountBook book(service);
    QVERIFY2(book.isReady(), qPrintable(book.errorText()));
    const QByteArray before = bytesOf(book.path());
    service.setFault("sync/userid.php", { { "body", body } });

    const SyncOutcome outcome = runSync();
    QVERIFY(!outcome.finished);
    QVERIFY2(outcome.message == message, qPrintable(outcome.message.left(100)));
    QVERIFY(service.requests("sync/syncpc2.php").isEmpty());
    QCOMPARE(bytesOf(book.path()), before);
}

void TestMalformedReplies::accountCheckSaysItFailed_data()
{
    addReplies();
}

void TestMalformedReplies::accountCheckSaysItFailed()
{
    QFETCH(QString, body);
    AccountBook book(service);
    QVERIFY2(book.isReady(), qPrintable(book.errorText()));
    const QByteArray before = bytesOf(book.path());
    service.setFault("sync/userid.php", { { "body", body } });

    // An answer that holds "error" says the account is wrong; any other says nothing of it.
    const bool refused = body.startsWith("{\"error\"");
    ModalAnswerer boxes;
    boxes.expect("错误！", refused ? "用户名或密码错误！" : "与服务器通讯出错！", "确定");
    DSyncConfig dialog(nullptr);
    dialog.show();
    dialog.findChild<QLineEdit*>("leSyncUsername")->setText(book.user());
    dialog.findChild<QLineEdit*>("leSyncPassword")->setText(book.password());
    QTest::mouseClick(dialog.findChild<QPushButton*>("pbCheckAccount"), Qt::LeftButton);
    QVERIFY2(boxes.waitAnswered(60000), qPrintable(boxes.report()));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    dialog.reject();
    QCOMPARE(bytesOf(book.path()), before);
}

void TestMalformedReplies::updateCheckStaysSilent_data()
{
    addReplies();
}

void TestMalformedReplies::updateCheckStaysSilent()
{
    QFETCH(QString, body);
    TestEnv env;
    service.useFromProgram();
    service.setFault("client/pc.php", { { "body", body } });
    QWidget window;
    auto* helper = new UpdateHelper(&window, true);
    QSignalSpy checked(helper, &UpdateHelper::versionChecked);
    ModalAnswerer boxes;
    helper->checkVersion();
    QVERIFY(checked.wait(60000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestMalformedReplies::feedbackSaysItFailed_data()
{
    addReplies();
}

void TestMalformedReplies::feedbackSaysItFailed()
{
    QFETCH(QString, body);
    TestEnv env;
    service.useFromProgram();
    service.setFault("client/feedback.php", { { "body", body } });
    ModalAnswerer boxes;
    boxes.expect("错误", "发送过程出现错误，请重试。", "确定");
    DFeedback dialog(nullptr);
    dialog.show();
    dialog.findChild<QLineEdit*>("leEmail")->setText("a@example.com");
    dialog.findChild<QLineEdit*>("leEmail2")->setText("a@example.com");
    dialog.findChild<QPlainTextEdit*>("pteContent")->setPlainText("导出的文件打不开，请看一看是怎么回事。谢谢！");
    QTest::mouseClick(dialog.findChild<QPushButton*>("pbOK"), Qt::LeftButton);
    QVERIFY2(boxes.waitAnswered(60000), qPrintable(boxes.report()));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // The form stays for another try.
    QVERIFY(dialog.findChild<QPushButton*>("pbOK")->isEnabled());
}

QTEST_MAIN(TestMalformedReplies)
#include "tst_malformedreplies.moc"
