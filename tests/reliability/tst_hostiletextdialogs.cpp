// The hostile texts pasted into the name and note fields of the record dialogs (account, category,
// sub-category, borrower, member, bill): each dialog keeps its length limit, never cuts a character
// in two, and stores exactly what its fields show.
#include <QClipboard>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTest>
#include <QTextEdit>
#include <memory>

#include "bills/dbill.h"
#include "data/filesetting.h"
#include "data/mcategory.h"
#include "data/settingkeys.h"
#include "hostiletext.h"
#include "lists/daccount.h"
#include "lists/dborrower.h"
#include "lists/dcategory.h"
#include "lists/dmember.h"
#include "modalanswerer.h"
#include "testenv.h"

namespace {

const QStringList Dialogs { "account", "category", "sub-category", "borrower", "member", "bill" };

QString tableOf(const QString& which)
{
    static const QHash<QString, QString> tables { { "account", "tbl_account" }, { "borrower", "tbl_borrower" },
        { "member", "tbl_member" }, { "category", "tbl_category" }, { "sub-category", "tbl_sub_category" },
        { "bill", "tbl_bill" } };
    return tables.value(which);
}

// The two text columns of the row stored last in table.
QStringList lastStored(const QString& table, const QString& first, const QString& second)
{
    QSqlQuery query;
    if (!query.exec(QString("select %1, %2 from %3 order by rowid desc limit 1").arg(first, second, table))
        || !query.next())
        return { "<nothing stored>" };
    return { query.value(0).toString(), query.value(1).toString() };
}

// As a user pastes: the field takes the text at its cursor, within its limit.
void paste(QWidget* field, const QString& text)
{
    QGuiApplication::clipboard()->setText(text);
    field->setFocus();
    if (auto* line = qobject_cast<QLineEdit*>(field)) {
        line->selectAll();
        line->paste();
    } else if (auto* edit = qobject_cast<QTextEdit*>(field)) {
        edit->selectAll();
        edit->paste();
    }
}

bool hasLoneSurrogate(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate()) {
            if (i + 1 == text.size() || !text.at(i + 1).isLowSurrogate())
                return true;
            ++i;
        } else if (text.at(i).isLowSurrogate()) {
            return true;
        }
    }
    return false;
}

} // namespace

class TestHostileTextDialogs : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void dialogsStoreWhatTheyShow_data();
    void dialogsStoreWhatTheyShow();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
    QString parentId;
};

void TestHostileTextDialogs::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
    FileSetting::getInstance()->setValue(SettingKeys::EnableBillTitle, true);
    MCategory parent;
    parent.setName("餐饮");
    parent.setKind("expense");
    QVERIFY(MCategory::insert(&parent));
    parentId = parent.getId();
    MCategory sub;
    sub.setName("午餐");
    sub.setKind("expense");
    sub.setCategoryId(parentId);
    QVERIFY(MCategory::insert(&sub));
    QVERIFY(
        execAll({ "insert into tbl_account (id,name,kind,amount,description,sort) values ('a1','现金','cash',0,'',1)",
            "insert into tbl_member (id,name,description,sort) values ('m1','自己','',1)" }));
}

void TestHostileTextDialogs::cleanup()
{
    book.reset();
    env.reset();
}

void TestHostileTextDialogs::dialogsStoreWhatTheyShow_data()
{
    HostileText::addRows();
    // Where a limit falls inside a character of two UTF-16 units: 19 characters, then an emoji.
    QTest::newRow("emoji across the limit") << QString::fromUtf8("一二三四五六七八九十一二三四五六七八九😀后");
}

void TestHostileTextDialogs::dialogsStoreWhatTheyShow()
{
    QFETCH(QString, text);
    for (const QString& which : Dialogs) {
        ModalAnswerer boxes;
        std::unique_ptr<QDialog> dialog;
        QString nameField = "leName";
        QString noteField = "lnDescription";
        QString okButton = "pbOK";
        if (which == "account")
            dialog = std::make_unique<DAccount>(nullptr);
        else if (which == "borrower")
            dialog = std::make_unique<DBorrower>(nullptr);
        else if (which == "member")
            dialog = std::make_unique<DMember>(nullptr);
        else if (which == "bill") {
            dialog = std::make_unique<DBill>(nullptr);
            nameField = "leTitle";
            noteField = "teDescription";
            okButton = "pbOk";
        } else
            dialog = std::make_unique<DCategory>("expense", nullptr, which == "sub-category", parentId);
        dialog->show();
        if (which == "bill") {
            dialog->findChild<QDoubleSpinBox*>("dsbAmount")->setValue(12.5);
            dialog->findChild<QDateEdit*>("deDate")->setDate(QDate(2013, 7, 5));
        }
        auto* name = dialog->findChild<QLineEdit*>(nameField);
        QWidget* note = dialog->findChild<QWidget*>(noteField);
        QVERIFY2(name && note, qPrintable(which));
        paste(name, text);
        paste(note, text);

        // The limit holds, and what is left is the start of the text, whole characters only.
        const auto* noteLine = qobject_cast<QLineEdit*>(note);
        const QString shownNote = noteLine ? noteLine->text() : static_cast<QTextEdit*>(note)->toPlainText();
        QVERIFY2(name->text().size() <= name->maxLength(), qPrintable(which));
        QVERIFY2(!noteLine || shownNote.size() <= noteLine->maxLength(), qPrintable(which));
        QVERIFY2(!hasLoneSurrogate(name->text()) && !hasLoneSurrogate(shownNote), qPrintable(which));
        QVERIFY2(text.startsWith(name->text()), qPrintable(which));
        if (noteLine)
            QVERIFY2(text.startsWith(shownNote), qPrintable(which));

        const QString shownName = name->text();
        dialog->findChild<QPushButton*>(okButton)->click();
        QVERIFY2(boxes.answeredAll(), qPrintable(which + ": " + boxes.report()));
        QVERIFY2(dialog->result() == QDialog::Accepted, qPrintable(which));
        const QStringList stored = lastStored(tableOf(which), which == "bill" ? "title" : "name", "description");
        QCOMPARE(stored, (QStringList { shownName, shownNote }));
    }
}

QTEST_MAIN(TestHostileTextDialogs)
#include "tst_hostiletextdialogs.moc"
