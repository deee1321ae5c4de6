#include <QAbstractButton>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "modalanswerer.h"
#include "servicefixture.h"
#include "shell/utoolbar.h"
#include "sync/dfeedback.h"
#include "testenv.h"

namespace {

const QString feedbackPath = QStringLiteral("client/feedback.php");
const QString sentText = QStringLiteral("已经将您的反馈信息成功发送给开发者。");
const QString failedText = QStringLiteral("发送过程出现错误，请重试。");
const QString twentyCharacters = QStringLiteral("记账软件很好用，但是希望可以导出年报表。");

// The feedback the service has stored, one "email|subject|content" text each, oldest first.
QStringList storedFeedback(const ServiceFixture& service)
{
    QStringList rows;
    service.withStore(QStringLiteral("feedback-store"), [&](QSqlDatabase& db) {
        QSqlQuery query(QStringLiteral("select email, subject, content from feedback order by id"), db);
        while (query.next())
            rows << query.value(0).toString() + '|' + query.value(1).toString() + '|' + query.value(2).toString();
        return true;
    });
    return rows;
}

struct Form {
    QLineEdit* email;
    QLineEdit* email2;
    QPlainTextEdit* content;
    QPushButton* ok;
};

Form formOf(DFeedback& dialog)
{
    return { dialog.findChild<QLineEdit*>("leEmail"), dialog.findChild<QLineEdit*>("leEmail2"),
        dialog.findChild<QPlainTextEdit*>("pteContent"), dialog.findChild<QPushButton*>("pbOK") };
}

void fill(const Form& form, const QString& email, const QString& email2, const QString& content)
{
    form.email->setText(email);
    form.email2->setText(email2);
    form.content->setPlainText(content);
}

} // namespace

class TestDFeedback : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsWithTheStoredAddress();
    void checks_data();
    void checks();
    void sendsTheThreeFields();
    void answers_data();
    void answers();
    void answerAfterClosingIsStillShown();
    void toolBarOpensTheForm();

private:
    ServiceFixture service;
    TestEnv* env = nullptr;
};

void TestDFeedback::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
    service.useFromProgram();
}

void TestDFeedback::init()
{
    env = new TestEnv;
    FileSetting::getInstance()->setValue(SettingKeys::FeedbackEmail, "earlier@example.com");
    service.clearConfig();
    service.clearRequests();
}

void TestDFeedback::cleanup()
{
    delete env;
}

void TestDFeedback::startsWithTheStoredAddress()
{
    DFeedback dialog(nullptr);
    const Form form = formOf(dialog);
    QCOMPARE(ModalAnswerer::titleOf(&dialog), QString("留言反馈"));
    QCOMPARE(form.email->text(), QString("earlier@example.com"));
    QCOMPARE(form.email2->text(), QString());
    QCOMPARE(form.content->toPlainText(), QString());
    QCOMPARE(form.email->maxLength(), 100);
    QCOMPARE(form.email2->maxLength(), 100);
}

void TestDFeedback::checks_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("email2");
    QTest::addColumn<QString>("content");
    // The error box's text; empty when the feedback is sent.
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("stored");

    const QString mismatch = "您两次输入的邮箱不一致，请确认。";
    const QString invalid = "请输入有效的邮箱地址";
    const QString tooShort = "反馈内容太短了，请详细说明您的问题。";
    const QString earlier = "earlier@example.com";
    const auto same = [](const QString& email) { return email; };

    QTest::newRow("addresses differ in case") << "ab@example.com"
                                              << "AB@example.com" << twentyCharacters << mismatch << earlier;
    QTest::newRow("capitals") << "USER.NAME+TAG@EXAMPLE.CO" << same("USER.NAME+TAG@EXAMPLE.CO") << twentyCharacters
                              << QString() << "USER.NAME+TAG@EXAMPLE.CO";
    QTest::newRow("four-letter top level")
        << "a_b%c-d@mail.example.info"
        << "a_b%c-d@mail.example.info" << twentyCharacters << QString() << "a_b%c-d@mail.example.info";
    QTest::newRow("one-letter top level") << "a@b.c"
                                          << "a@b.c" << twentyCharacters << invalid << earlier;
    QTest::newRow("five-letter top level") << "a@b.abcde"
                                           << "a@b.abcde" << twentyCharacters << invalid << earlier;
    QTest::newRow("leading dot") << ".a@b.com"
                                 << ".a@b.com" << twentyCharacters << invalid << earlier;
    QTest::newRow("space inside") << "a b@c.com"
                                  << "a b@c.com" << twentyCharacters << invalid << earlier;
    QTest::newRow("trailing space") << "a@b.com "
                                    << "a@b.com " << twentyCharacters << invalid << earlier;
    QTest::newRow("text around it") << "mail a@b.com now"
                                    << "mail a@b.com now" << twentyCharacters << invalid << earlier;
    QTest::newRow("no address") << ""
                                << "" << twentyCharacters << invalid << earlier;
    QTest::newRow("19 characters") << "new@example.com"
                                   << "new@example.com" << twentyCharacters.left(19) << tooShort << "new@example.com";
    QTest::newRow("20 with spaces and a line break") << "new@example.com"
                                                     << "new@example.com"
                                                     << "  line one\n line 2  " << QString() << "new@example.com";
    QTest::newRow("only spaces") << "new@example.com"
                                 << "new@example.com" << QString(20, ' ') << QString() << "new@example.com";
}

void TestDFeedback::checks()
{
    QFETCH(QString, email);
    QFETCH(QString, email2);
    QFETCH(QString, content);
    QFETCH(QString, error);
    QFETCH(QString, stored);
    const QStringList before = storedFeedback(service);

    DFeedback dialog(nullptr);
    dialog.show();
    const Form form = formOf(dialog);
    fill(form, email, email2, content);
    ModalAnswerer boxes;
    if (error.isEmpty())
        boxes.expect("留言反馈", sentText, "确定");
    else
        boxes.expect("错误", error, "确定");
    form.ok->click();
    if (error.isEmpty()) {
        // Sending: the button waits for the answer.
        QVERIFY(!form.ok->isEnabled());
        QCOMPARE(form.ok->text(), QString("正在发送中......"));
    }
    QVERIFY(boxes.waitAnswered(60000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::FeedbackEmail).toString(), stored);

    if (error.isEmpty()) {
        QVERIFY(!dialog.isVisible());
        QCOMPARE(storedFeedback(service), before + QStringList { email + "|QRV PC 反馈" + email + '|' + content });
    } else {
        // Nothing sent, and the form as it was.
        QVERIFY(dialog.isVisible());
        QVERIFY(form.ok->isEnabled());
        QCOMPARE(form.ok->text(), QString("确定"));
        QCOMPARE(form.email->text(), email);
        QCOMPARE(form.content->toPlainText(), content);
        QVERIFY(service.requests(feedbackPath).isEmpty());
    }
}

void TestDFeedback::sendsTheThreeFields()
{
    const QString content = "100% & a=b + c\n第二行：<script>'\"</script>";
    DFeedback dialog(nullptr);
    dialog.show();
    fill(formOf(dialog), "wang.li+tag@example.cn", "wang.li+tag@example.cn", content);
    ModalAnswerer boxes;
    boxes.expect("留言反馈", sentText, "确定");
    formOf(dialog).ok->click();
    QVERIFY(boxes.waitAnswered(60000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    const QList<QJsonObject> requests = service.requests(feedbackPath);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().value("method").toString(), QString("POST"));
    const QList<QPair<QString, QString>> expected {
        { "email", "wang.li+tag@example.cn" },
        { "subject", "QRV PC 反馈wang.li+tag@example.cn" },
        { "content", content },
    };
    QCOMPARE(fieldsOf(requests.first()), expected);
    QCOMPARE(storedFeedback(service).value(storedFeedback(service).size() - 1),
        "wang.li+tag@example.cn|QRV PC 反馈wang.li+tag@example.cn|" + content);
}

void TestDFeedback::answers_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<bool>("sent");
    QTest::newRow("success inside a longer text") << QJsonObject { { "body", "status: success (1)" } } << true;
    QTest::newRow("Success in capitals") << QJsonObject { { "body", "Success" } } << false;
    QTest::newRow("empty answer") << QJsonObject { { "body", "" } } << false;
    QTest::newRow("server error") << QJsonObject { { "status", 500 } } << false;
    QTest::newRow("connection closed") << QJsonObject { { "close", true } } << false;
}

void TestDFeedback::answers()
{
    QFETCH(QJsonObject, fault);
    QFETCH(bool, sent);
    service.setFault(feedbackPath, fault);

    DFeedback dialog(nullptr);
    dialog.show();
    const Form form = formOf(dialog);
    fill(form, "a@example.com", "a@example.com", twentyCharacters);
    ModalAnswerer boxes;
    if (sent)
        boxes.expect("留言反馈", sentText, "确定");
    else
        boxes.expect("错误", failedText, "确定");
    form.ok->click();
    QVERIFY(boxes.waitAnswered(60000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(dialog.isVisible(), !sent);
    if (sent)
        return;

    // The button is back, the form kept: sending again works once the service answers.
    QVERIFY(form.ok->isEnabled());
    QCOMPARE(form.ok->text(), QString("确定"));
    QCOMPARE(form.email2->text(), QString("a@example.com"));
    QCOMPARE(form.content->toPlainText(), twentyCharacters);
    service.clearConfig();
    const QStringList before = storedFeedback(service);
    boxes.expect("留言反馈", sentText, "确定");
    form.ok->click();
    QVERIFY(boxes.waitAnswered(60000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(storedFeedback(service).size(), before.size() + 1);
}

void TestDFeedback::answerAfterClosingIsStillShown()
{
    service.setFault(feedbackPath, { { "delay", 300 } });
    const QStringList before = storedFeedback(service);
    DFeedback dialog(nullptr);
    dialog.show();
    const Form form = formOf(dialog);
    fill(form, "a@example.com", "a@example.com", twentyCharacters);
    ModalAnswerer boxes;
    form.ok->click();
    dialog.findChild<QPushButton*>("pbCancel")->click();
    QVERIFY(!dialog.isVisible());
    boxes.expect("留言反馈", sentText, "确定");
    QVERIFY(boxes.waitAnswered(60000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(storedFeedback(service).size(), before.size() + 1);
}

void TestDFeedback::toolBarOpensTheForm()
{
    UToolBar bar(nullptr);
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("DFeedback"), ModalAnswerer::closeStrip(), "the feedback form");
    bar.findChild<QAbstractButton*>("tbFeedback")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // Kept as the bar's child after it closed, so an answer still under way has somewhere to go.
    QCOMPARE(bar.findChildren<DFeedback*>().size(), 1);
}

QTEST_MAIN(TestDFeedback)
#include "tst_dfeedback.moc"
