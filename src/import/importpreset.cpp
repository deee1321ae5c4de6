#include "import/importpreset.h"

#include <QObject>

namespace {

using Role = ColumnRole::Role;

struct Heading {
    const char* text;
    Role role;
};

ImportPreset make(const char* key, const char* label, std::initializer_list<Heading> headings)
{
    ImportPreset preset;
    preset.key = QLatin1String(key);
    preset.label = QObject::tr(label);
    for (const Heading& heading : headings)
        preset.headings.append({ QString::fromUtf8(heading.text), heading.role });
    return preset;
}

} // namespace

QList<ImportPreset> ImportPreset::all()
{
    // Headings as the formats' descriptions give them; they are compared without case, blanks and
    // a "(元)" unit.
    static const QList<ImportPreset> presets {
        make("quorvane", "本程序导出的CSV",
            { { "日期", Role::Date }, { "类型", Role::InOut }, { "金额", Role::Amount }, { "账户", Role::Account },
                { "转入账户", Role::ToAccount }, { "大类别", Role::Category }, { "小类别", Role::SubCategory },
                { "成员", Role::Member }, { "标题", Role::Title }, { "说明", Role::Description },
                { "借款人", Role::Borrower } }),
        make("bank", "银行/支付平台对账单",
            { { "交易日期", Role::Date }, { "记账日期", Role::Date }, { "交易时间", Role::Date },
                { "交易创建时间", Role::Date }, { "日期", Role::Date }, { "交易金额", Role::Amount },
                { "金额", Role::Amount }, { "发生额", Role::Amount }, { "收入金额", Role::Income },
                { "存入金额", Role::Income }, { "贷方金额", Role::Income }, { "收入", Role::Income },
                { "支出金额", Role::Expense }, { "取出金额", Role::Expense }, { "借方金额", Role::Expense },
                { "支出", Role::Expense }, { "收/支", Role::InOut }, { "收支", Role::InOut },
                { "收支类型", Role::InOut }, { "借贷标志", Role::InOut }, { "交易对方", Role::Title },
                { "对方户名", Role::Title }, { "摘要", Role::Description }, { "交易摘要", Role::Description },
                { "商品", Role::Description }, { "商品名称", Role::Description }, { "备注", Role::Description },
                { "附言", Role::Description }, { "用途", Role::Description }, { "账户", Role::Account },
                { "支付方式", Role::Account }, { "分类", Role::Category }, { "交易分类", Role::Category } }),
        make("homebank", "HomeBank CSV",
            { { "date", Role::Date }, { "payee", Role::Title }, { "memo", Role::Description },
                { "amount", Role::Amount }, { "category", Role::Category } }),
        make("gnucash", "GnuCash CSV",
            { { "Date", Role::Date }, { "Description", Role::Title }, { "Notes", Role::Description },
                { "Memo", Role::Description }, { "Account Name", Role::Account }, { "Transfer", Role::Category },
                { "Amount Num.", Role::Amount }, { "Amount", Role::Amount } }),
        make("kmymoney", "KMyMoney CSV",
            { { "Account", Role::Account }, { "Date", Role::Date }, { "Payee", Role::Title },
                { "Amount", Role::Amount }, { "Category", Role::Category }, { "Memo", Role::Description } }),
        make("mmex", "Money Manager Ex CSV",
            { { "Date", Role::Date }, { "Account", Role::Account }, { "Payee", Role::Title },
                { "Category", Role::Category }, { "SubCategory", Role::SubCategory }, { "Withdrawal", Role::Expense },
                { "Deposit", Role::Income }, { "Amount", Role::Amount }, { "Notes", Role::Description } }),
        make("skrooge", "Skrooge CSV",
            { { "date", Role::Date }, { "account", Role::Account }, { "payee", Role::Title },
                { "comment", Role::Description }, { "category", Role::Category }, { "amount", Role::Amount } }),
    };
    return presets;
}

const ImportPreset* ImportPreset::find(const QString& key)
{
    static const QList<ImportPreset> presets = all();
    for (const ImportPreset& preset : presets) {
        if (preset.key == key)
            return &preset;
    }
    return nullptr;
}

QString ImportPreset::normalHeading(const QString& heading)
{
    QString text = heading.normalized(QString::NormalizationForm_KC).toLower();
    text.remove(QStringLiteral("(元)"));
    text.remove(QLatin1Char(' '));
    return text.trimmed();
}

QList<ColumnRole::Role> ImportPreset::rolesFor(const QStringList& header, int* matched) const
{
    QStringList known;
    for (const auto& heading : headings)
        known << normalHeading(heading.first);
    QList<Role> roles;
    int count = 0;
    for (const QString& column : header) {
        const QString text = normalHeading(column);
        Role role = Role::Skip;
        for (qsizetype i = 0; i < headings.size(); ++i) {
            if (known.at(i) == text && !roles.contains(headings.at(i).second)) {
                role = headings.at(i).second;
                ++count;
                break;
            }
        }
        roles.append(role);
    }
    // A statement's memo (摘要, 附言…) is its description; with no payee beside it, it is the title.
    if (key == QLatin1String("bank") && !roles.contains(Role::Title)) {
        const qsizetype memo = roles.indexOf(Role::Description);
        if (memo >= 0)
            roles[memo] = Role::Title;
    }
    if (matched)
        *matched = count;
    return roles;
}

QList<ColumnRole::Role> ImportPreset::guess(const QStringList& header, QString* presetKey)
{
    const QList<ImportPreset> presets = all();
    int best = 0;
    QList<Role> roles;
    for (const ImportPreset& preset : presets) {
        int matched = 0;
        const QList<Role> candidate = preset.rolesFor(header, &matched);
        if (matched > best) {
            best = matched;
            roles = candidate;
            if (presetKey)
                *presetKey = preset.key;
        }
    }
    // The command line's words for the roles serve as headings too ("date", "to-account"…).
    QList<Role> byKey;
    int keys = 0;
    for (const QString& column : header) {
        Role role = Role::Skip;
        for (Role candidate : ColumnRole::all()) {
            if (candidate != Role::Skip && ColumnRole::key(candidate) == normalHeading(column)
                && !byKey.contains(candidate)) {
                role = candidate;
                ++keys;
            }
        }
        byKey.append(role);
    }
    if (best == 0 && keys == 0)
        return {};
    // A header made of the roles' own words ("date", "title"…) means just those.
    if (keys >= best) {
        if (presetKey)
            presetKey->clear();
        roles = byKey;
    }
    // Columns the best preset does not know may carry a role's own word, or a heading another
    // preset knows, in that order.
    for (int i = 0; i < roles.size(); ++i) {
        if (roles.at(i) == Role::Skip && byKey.at(i) != Role::Skip && !roles.contains(byKey.at(i)))
            roles[i] = byKey.at(i);
    }
    for (const ImportPreset& preset : presets) {
        const QList<Role> other = preset.rolesFor(header);
        for (int i = 0; i < roles.size(); ++i) {
            if (roles.at(i) == Role::Skip && other.at(i) != Role::Skip && !roles.contains(other.at(i)))
                roles[i] = other.at(i);
        }
    }
    return roles;
}
