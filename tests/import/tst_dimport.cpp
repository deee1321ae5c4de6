// The import dialog as a user drives it: a file chosen, its steps, columns, names and the order of
// day and month set, duplicates ticked, the booking and its closing box, a cancel and a failure.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringEncoder>
#include <QTableWidget>
#include <QTest>

#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "datamgmt/dimport.h"
#include "datamgmt/udata.h"
#include "importfixture.h"
#include "modalanswerer.h"

namespace {

QTableWidget* table(DImport& dialog, const char* name)
{
    return dialog.findChild<QTableWidget*>(QLatin1String(name));
}

QComboBox* combo(QWidget& parent, const char* name)
{
    return parent.findChild<QComboBox*>(QLatin1String(name));
}

QPushButton* button(QWidget& parent, const char* name)
{
    return parent.findChild<QPushButton*>(QLatin1String(name));
}

QString previewText(DImport& dialog, int row, int column)
{
    const QTableWidgetItem* item = table(dialog, "twPreview")->item(row, column);
    return item ? item->text() : QString();
}

int backupCount(const ImportFixture& fixture)
{
    return int(QDir(fixture.dataDir() + QStringLiteral("backup")).entryList(QDir::Files).size());
}

} // namespace

class TestDImport : public QObject {
    Q_OBJECT

private slots:
    void booksAStatement();
    void cancelChangesNothing();
    void refusedFileIsSaid();
    void columnsChosenAndRemembered();
    void dateOrderAskedFor();
    void duplicateTicked();
    void everyRowBooked_data();
    void everyRowBooked();
    void nameMapped();
    void failedBookingKeepsTheDialog();
    void largeFileFirstRowsThenAll();
    void dataPageOpensIt();
};

void TestDImport::booksAStatement()
{
    ImportFixture fixture;
    DImport dialog;
    QVERIFY(dialog.openFile(ImportFixture::fixture(QStringLiteral("bank-gb18030.csv"))));
    QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("lblFileInfo"))->text().contains(QStringLiteral("GB18030")));
    QCOMPARE(combo(dialog, "cbDefaultAccount")->currentText(), QStringLiteral("我的钱包"));
    QTableWidget* preview = table(dialog, "twPreview");
    QCOMPARE(preview->rowCount(), 4);
    QCOMPARE(previewText(dialog, 2, 3), QStringLiteral("2023-03-05"));
    QCOMPARE(previewText(dialog, 2, 4), QStringLiteral("收入"));
    QCOMPARE(previewText(dialog, 2, 5), QStringLiteral("12500.00"));
    QCOMPARE(previewText(dialog, 3, 5), QStringLiteral("-88.00"));
    QCOMPARE(previewText(dialog, 3, 6), QStringLiteral("我的钱包"));
    // Another account typed in: the rows follow once it is complete.
    QComboBox* account = combo(dialog, "cbDefaultAccount");
    account->lineEdit()->setText(QStringLiteral("工资卡"));
    QCOMPARE(previewText(dialog, 3, 6), QStringLiteral("我的钱包"));
    emit account->lineEdit()->editingFinished();
    QCOMPARE(previewText(dialog, 3, 6), QStringLiteral("工资卡"));
    // Picked from the list again (the same item: the index does not change, the text does).
    account->setEditText(QStringLiteral("我的钱包"));
    emit account->activated(account->findText(QStringLiteral("我的钱包")));
    QCOMPARE(previewText(dialog, 3, 6), QStringLiteral("我的钱包"));

    // Next walks through the four steps.
    for (int step = 0; step < 3; ++step)
        button(dialog, "pbNext")->click();
    QVERIFY(!button(dialog, "pbNext")->isEnabled());
    QVERIFY(button(dialog, "pbImport")->isEnabled());

    ModalAnswerer boxes;
    boxes.expect(
        [](QWidget* modal) {
            return ModalAnswerer::titleOf(modal) == QStringLiteral("导入完成")
                && ModalAnswerer::textOf(modal).startsWith(QStringLiteral("已导入 4 条账目。"));
        },
        ModalAnswerer::press(QStringLiteral("确定")), QStringLiteral("the closing box"));
    button(dialog, "pbImport")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 4);
    QCOMPARE(ImportFixture::balance(QStringLiteral("我的钱包")), 11096.5);
    QCOMPARE(backupCount(fixture), 1);
}

void TestDImport::cancelChangesNothing()
{
    ImportFixture fixture;
    const QByteArray before = fileBytes(fixture.bookPath());
    {
        DImport dialog;
        QVERIFY(dialog.openFile(ImportFixture::fixture(QStringLiteral("accounts.qif"))));
        dialog.showStep(3);
        button(dialog, "pbCancel")->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 0);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_account")), 2);
    QCOMPARE(backupCount(fixture), 0);
    QCOMPARE(fileBytes(fixture.bookPath()), before);
}

void TestDImport::refusedFileIsSaid()
{
    ImportFixture fixture;
    const QString path = fixture.dataDir() + QStringLiteral("empty.csv");
    QVERIFY(writeFile(path, QByteArray()));
    DImport dialog;
    ModalAnswerer boxes;
    boxes.expect(QStringLiteral("错误"), QStringLiteral("文件是空的。"), QStringLiteral("确定"));
    QVERIFY(!dialog.openFile(path));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(!button(dialog, "pbImport")->isEnabled());
    QVERIFY(!button(dialog, "pbNext")->isEnabled());
}

void TestDImport::columnsChosenAndRemembered()
{
    ImportFixture fixture;
    {
        DImport dialog;
        QVERIFY(dialog.openFile(ImportFixture::fixture(QStringLiteral("quoted.csv"))));
        QCOMPARE(previewText(dialog, 0, 12), QStringLiteral("Caf\u00e9 \"Blue\""));
        // The title column is left out.
        auto* titleRole = qobject_cast<QComboBox*>(table(dialog, "twColumns")->cellWidget(0, 2));
        QVERIFY(titleRole);
        titleRole->setCurrentIndex(titleRole->findData(int(ColumnRole::Skip)));
        QTRY_COMPARE(previewText(dialog, 0, 12), QString());
        QCOMPARE(FileSetting::getInstance()->value(SettingKeys::ImportColumns, QString()).toString(),
            QStringLiteral("date,amount,-,description"));
    }
    // The next time a file of the same header row gets that mapping at once.
    DImport dialog;
    QVERIFY(dialog.openFile(ImportFixture::fixture(QStringLiteral("quoted.csv"))));
    QComboBox* presets = combo(dialog, "cbPreset");
    QCOMPARE(presets->currentData().toString(), QStringLiteral("last"));
    QCOMPARE(previewText(dialog, 0, 12), QString());
    QCOMPARE(previewText(dialog, 0, 13), QStringLiteral("two lines: first, then second"));
    // The headings decide again when asked to.
    presets->setCurrentIndex(0);
    QCOMPARE(previewText(dialog, 0, 12), QStringLiteral("Caf\u00e9 \"Blue\""));
    // Another header row keeps to its headings; the last mapping stays one of the presets.
    DImport other;
    QVERIFY(other.openFile(ImportFixture::fixture(QStringLiteral("statement-utf8.csv"))));
    QVERIFY(combo(other, "cbPreset")->currentData().toString().isEmpty());
    QVERIFY(combo(other, "cbPreset")->findData(QStringLiteral("last")) > 0);
}

void TestDImport::dateOrderAskedFor()
{
    ImportFixture fixture;
    const QString path = fixture.dataDir() + QStringLiteral("order.csv");
    QVERIFY(writeFile(path, "date,amount,title\n3/4/2023,-1,a\n5/6/2023,-2,b\n"));
    DImport dialog;
    QVERIFY(dialog.openFile(path));
    QVERIFY(!button(dialog, "pbImport")->isEnabled());
    QVERIFY(
        dialog.findChild<QLabel*>(QStringLiteral("lblFileInfo"))->text().contains(QStringLiteral("请选择日期顺序")));
    QComboBox* order = combo(dialog, "cbDateOrder");
    order->setCurrentIndex(order->findData(int(ValueParser::DateOrder::DayMonth)));
    QVERIFY(button(dialog, "pbImport")->isEnabled());
    QCOMPARE(previewText(dialog, 0, 3), QStringLiteral("2023-04-03"));
}

void TestDImport::duplicateTicked()
{
    ImportFixture fixture;
    const QString path = fixture.dataDir() + QStringLiteral("twice.csv");
    QVERIFY(writeFile(path, "date,amount,title\n2023-01-05,-4.50,Coffee\n2023-01-05,-4.50,Coffee\n"));
    // The book has one of the two coffees.
    QVERIFY(
        execAll({ QStringLiteral("insert into tbl_bill (id,amount,description,date,month,category_id,"
                                 "sub_category_id,account_id,to_account_id,borrower_id,member_id,title,kind) values "
                                 "('c1',-4.5,'','2023-01-05',202301,'01','01','01','','','','Coffee','expense')") }));
    DImport dialog;
    QVERIFY(dialog.openFile(path));
    QTableWidgetItem* status = table(dialog, "twPreview")->item(0, 0);
    QCOMPARE(status->text(), QStringLiteral("重复"));
    QCOMPARE(status->checkState(), Qt::Unchecked);
    QCOMPARE(table(dialog, "twPreview")->item(1, 0)->text(), QStringLiteral("新账目"));
    QVERIFY(
        dialog.findChild<QLabel*>(QStringLiteral("lblPreviewInfo"))->text().contains(QStringLiteral("将导入 1 条")));
    status->setCheckState(Qt::Checked);
    QVERIFY(
        dialog.findChild<QLabel*>(QStringLiteral("lblPreviewInfo"))->text().contains(QStringLiteral("将导入 2 条")));
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::titled(QStringLiteral("导入完成")), ModalAnswerer::press(QStringLiteral("确定")));
    button(dialog, "pbImport")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 3);
}

void TestDImport::everyRowBooked_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("change");
    QTest::newRow("250 rows untouched") << 250 << QStringLiteral("none");
    QTest::newRow("250 rows, account picked in step 3") << 250 << QStringLiteral("account");
    QTest::newRow("250 rows, column mapped in step 2") << 250 << QStringLiteral("column");
    QTest::newRow("1000 rows untouched") << 1000 << QStringLiteral("none");
    QTest::newRow("1000 rows, column mapped in step 2") << 1000 << QStringLiteral("column");
}

void TestDImport::everyRowBooked()
{
    QFETCH(int, rows);
    QFETCH(QString, change);
    ImportFixture fixture;
    // A bank statement in GB18030 as a bank writes it; every 25th row is the same purchase twice.
    QString text = QStringLiteral("交易日期,交易金额,对方户名,摘要\r\n");
    qint64 cents = 0;
    for (int i = 0; i < rows; ++i) {
        const int n = i % 25 == 24 ? i - 1 : i;
        const qint64 amount = n % 9 == 0 ? 150000 + n : -(100 + n * 37 % 100000);
        cents += amount;
        text += QStringLiteral("%1,%2%3.%4,商户%5,第%6笔消费\r\n")
                    .arg(QDate(2023, 1, 1).addDays(n / 4).toString(Qt::ISODate),
                        amount < 0 ? QStringLiteral("-") : QString())
                    .arg(std::abs(amount) / 100)
                    .arg(std::abs(amount) % 100, 2, 10, QLatin1Char('0'))
                    .arg(n % 40)
                    .arg(n);
    }
    QStringEncoder gb18030("GB18030");
    QVERIFY(gb18030.isValid());
    const QString path = fixture.dataDir() + QStringLiteral("statement.csv");
    QVERIFY(writeFile(path, gb18030.encode(text)));
    const QString counted
        = QStringLiteral("共 %1 行：将导入 %1 条，重复 0 条（勾选后也导入），无法读取 0 条。").arg(rows);

    {
        DImport dialog;
        const QLabel* fileInfo = dialog.findChild<QLabel*>(QStringLiteral("lblFileInfo"));
        const QLabel* previewInfo = dialog.findChild<QLabel*>(QStringLiteral("lblPreviewInfo"));
        QVERIFY(dialog.openFile(path));
        QVERIFY(fileInfo->text().contains(QStringLiteral("GB18030")));
        QTRY_VERIFY(button(dialog, "pbImport")->isEnabled());
        QVERIFY2(fileInfo->text().contains(QStringLiteral("共 %1 行").arg(rows)), qPrintable(fileInfo->text()));
        QString account = QStringLiteral("我的钱包");
        button(dialog, "pbNext")->click();
        if (change == QLatin1String("column")) {
            // The memo becomes the title, in place of the payee.
            auto* memo = qobject_cast<QComboBox*>(table(dialog, "twColumns")->cellWidget(0, 3));
            QVERIFY(memo);
            QCOMPARE(memo->currentData().toInt(), int(ColumnRole::Description));
            memo->setCurrentIndex(memo->findData(int(ColumnRole::Title)));
            QTRY_VERIFY(
                previewText(dialog, 0, 12) == QStringLiteral("第0笔消费") && button(dialog, "pbImport")->isEnabled());
        }
        button(dialog, "pbNext")->click();
        if (change == QLatin1String("account")) {
            QComboBox* accounts = combo(dialog, "cbDefaultAccount");
            account = QStringLiteral("我的银行卡");
            accounts->setCurrentIndex(accounts->findText(account));
            QTRY_VERIFY(previewText(dialog, 0, 6) == account && button(dialog, "pbImport")->isEnabled());
        }
        button(dialog, "pbNext")->click();
        QVERIFY2(previewInfo->text().startsWith(counted), qPrintable(previewInfo->text()));
        QCOMPARE(table(dialog, "twPreview")->rowCount(), std::min(rows, 100));

        ModalAnswerer boxes;
        boxes.expect(
            [rows](QWidget* modal) {
                return ModalAnswerer::textOf(modal).startsWith(QStringLiteral("已导入 %1 条账目。").arg(rows));
            },
            ModalAnswerer::press(QStringLiteral("确定")), QStringLiteral("the closing box"));
        button(dialog, "pbImport")->click();
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
        QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), rows);
        QCOMPARE(qRound64(scalar(QStringLiteral("select total(amount) from tbl_bill")).toDouble() * 100), cents);
        QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_bill b join tbl_account a on a.id=b.account_id "
                                       "where a.name='%1'")
                            .arg(account))
                     .toInt(),
            rows);
        const QString memoColumn
            = change == QLatin1String("column") ? QStringLiteral("title") : QStringLiteral("description");
        QCOMPARE(
            scalar(QStringLiteral("select count(*) from tbl_bill where %1 like '第%笔消费'").arg(memoColumn)).toInt(),
            rows);
    }

    // The same file again (on the same account) books nothing.
    DImport again;
    QVERIFY(again.openFile(path));
    if (change == QLatin1String("account")) {
        QComboBox* accounts = combo(again, "cbDefaultAccount");
        accounts->setCurrentIndex(accounts->findText(QStringLiteral("我的银行卡")));
    }
    QTRY_VERIFY(again.findChild<QLabel*>(QStringLiteral("lblPreviewInfo"))
                    ->text()
                    .startsWith(QStringLiteral("共 %1 行：将导入 0 条，重复 %1 条").arg(rows)));
    QVERIFY(!button(again, "pbImport")->isEnabled());
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), rows);
}

void TestDImport::nameMapped()
{
    ImportFixture fixture;
    DImport dialog;
    QVERIFY(dialog.openFile(ImportFixture::fixture(QStringLiteral("statement-utf8.csv"))));
    QTableWidget* names = table(dialog, "twNames");
    int bank = -1;
    for (int row = 0; row < names->rowCount(); ++row) {
        if (names->item(row, 1)->text() == QStringLiteral("招商银行"))
            bank = row;
    }
    QVERIFY(bank >= 0);
    QCOMPARE(names->item(bank, 2)->text(), QStringLiteral("3"));
    auto* action = qobject_cast<QComboBox*>(names->cellWidget(bank, 3));
    QCOMPARE(action->currentText(), QStringLiteral("新建"));
    action->setCurrentIndex(action->findText(QStringLiteral("对应到：我的银行卡")));
    QTRY_COMPARE(previewText(dialog, 0, 6), QStringLiteral("我的银行卡"));
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::titled(QStringLiteral("导入完成")), ModalAnswerer::press(QStringLiteral("确定")));
    button(dialog, "pbImport")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_bill where account_id='02'")).toInt(), 3);
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_account where name='招商银行'")).toInt(), 0);
}

void TestDImport::failedBookingKeepsTheDialog()
{
    ImportFixture fixture;
    DImport dialog;
    QVERIFY(dialog.openFile(ImportFixture::fixture(QStringLiteral("accounts.qif"))));
    QVERIFY(execAll({ QStringLiteral("create temp trigger refuse before insert on tbl_bill when new.title='Cinema' "
                                     "begin select raise(abort, 'refused'); end") }));
    ModalAnswerer boxes;
    boxes.expect(
        [](QWidget* modal) {
            return ModalAnswerer::titleOf(modal) == QStringLiteral("错误")
                && ModalAnswerer::textOf(modal).startsWith(QStringLiteral("导入失败，账本没有改变。"));
        },
        ModalAnswerer::press(QStringLiteral("确定")), QStringLiteral("the failure box"));
    button(dialog, "pbImport")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(dialog.result(), 0);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 0);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_account")), 2);
}

void TestDImport::largeFileFirstRowsThenAll()
{
    ImportFixture fixture;
    QByteArray text = "date,amount,title\n";
    for (int i = 0; i < 300; ++i)
        text += QStringLiteral("2023-01-%1,-%2,row %2\n").arg(1 + i % 28, 2, 10, QLatin1Char('0')).arg(i + 1).toUtf8();
    // The last row tells that the file's other dates are not what they seem: it is unreadable.
    text += "2023-02-30,-1,late\n";
    const QString path = fixture.dataDir() + QStringLiteral("large.csv");
    QVERIFY(writeFile(path, text));
    DImport dialog;
    QVERIFY(dialog.openFile(path));
    // The first rows show at once; booking waits for the whole file.
    QCOMPARE(table(dialog, "twPreview")->rowCount(), 100);
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("lblPreviewInfo"))->text(), QStringLiteral("正在检查全部账目……"));
    QVERIFY(!button(dialog, "pbImport")->isEnabled());
    QTRY_VERIFY(button(dialog, "pbImport")->isEnabled());
    QVERIFY2(dialog.findChild<QLabel*>(QStringLiteral("lblPreviewInfo"))
                 ->text()
                 .startsWith(QStringLiteral("共 301 行：将导入 300 条，重复 0 条（勾选后也导入），无法读取 1 条。")),
        qPrintable(dialog.findChild<QLabel*>(QStringLiteral("lblPreviewInfo"))->text()));
    QCOMPARE(table(dialog, "twPreview")->rowCount(), 100);
}

void TestDImport::dataPageOpensIt()
{
    ImportFixture fixture;
    UData page;
    QPushButton* open = button(page, "pbImport");
    QVERIFY(open);
    QCOMPARE(open->text(), QStringLiteral("导入CSV/QIF文件"));
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("DImport"), ModalAnswerer::closeStrip(), QStringLiteral("the import dialog"));
    open->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

QTEST_MAIN(TestDImport)
#include "tst_dimport.moc"
