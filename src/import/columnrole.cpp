#include "import/columnrole.h"

#include <QObject>

namespace {

struct RoleName {
    ColumnRole::Role role;
    const char* key;
    const char* label;
};

const RoleName Names[] = {
    { ColumnRole::Skip, "-", "（不导入）" },
    { ColumnRole::Date, "date", "日期" },
    { ColumnRole::Amount, "amount", "金额" },
    { ColumnRole::Income, "income", "收入金额" },
    { ColumnRole::Expense, "expense", "支出金额" },
    { ColumnRole::InOut, "inout", "收/支" },
    { ColumnRole::Account, "account", "账户" },
    { ColumnRole::ToAccount, "to-account", "转入账户" },
    { ColumnRole::Category, "category", "大类别" },
    { ColumnRole::SubCategory, "subcategory", "小类别" },
    { ColumnRole::Member, "member", "成员" },
    { ColumnRole::Title, "title", "标题" },
    { ColumnRole::Description, "description", "说明" },
    { ColumnRole::Borrower, "borrower", "借款人" },
};

} // namespace

QList<ColumnRole::Role> ColumnRole::all()
{
    QList<Role> roles;
    for (const RoleName& name : Names)
        roles.append(name.role);
    return roles;
}

QString ColumnRole::key(Role role)
{
    for (const RoleName& name : Names) {
        if (name.role == role)
            return QLatin1String(name.key);
    }
    return QStringLiteral("-");
}

QString ColumnRole::label(Role role)
{
    for (const RoleName& name : Names) {
        if (name.role == role)
            return QObject::tr(name.label);
    }
    return QString();
}

bool ColumnRole::parseList(const QString& text, QList<Role>* roles, QString* error)
{
    roles->clear();
    for (const QString& word : text.split(QLatin1Char(','))) {
        const QString key = word.trimmed().toLower();
        const auto found = std::find_if(std::begin(Names), std::end(Names),
            [&key](const RoleName& name) { return key == QLatin1String(name.key); });
        if (found == std::end(Names) || (found->role != Skip && roles->contains(found->role))) {
            if (error)
                *error = word.trimmed();
            roles->clear();
            return false;
        }
        roles->append(found->role);
    }
    return true;
}

QString ColumnRole::toList(const QList<Role>& roles)
{
    QStringList keys;
    for (Role role : roles)
        keys << key(role);
    return keys.join(QLatin1Char(','));
}
