#pragma once

#include <QJsonObject>
#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>

class MBill;

// Writes to the open book at random, through the record classes as the program's dialogs and pages
// use them: bills of every kind with the references their kind needs, accounts, borrowers, top and
// sub-categories and members, changed and deleted as the pages allow (a record that a bill still
// names is not deleted). For the crash driver and the synchronisation rounds.
class RandomWrites {
public:
    explicit RandomWrites(quint32 seed);

    int between(int low, int high);
    bool chance(int percent);
    template <typename T> T pick(const QList<T>& list) { return list.at(between(0, int(list.size()) - 1)); }
    QString words(int most);
    static QString money(double value);

    static const QStringList& billKinds();
    static const QStringList& referenceTables();
    // The first column of every row of sql on the open book.
    static QStringList column(const QString& sql, const QVariantList& values = {});
    // In the order the book stored them, not by id: ids are random, and a seed must replay its run.
    static QStringList liveIds(const QString& table);
    // True when no bill (and, for a top category, no sub-category) names the record.
    static bool unused(const QString& table, const QString& id);
    static QList<MBill*> bills();
    // The fields a bill's write stores, as texts.
    static QJsonObject billFields(const MBill& bill);
    // Fills bill as the bill dialog does for kind: the references that kind needs, the amount signed
    // as stored, a date, a description and a title. False when the book lacks what the kind needs.
    bool fillBill(MBill& bill, const QString& kind);

    // One write on a record chosen at random. announce gets it just before it is made: "op"
    // (insert, update, delete), "table", "id" (not for an insert) and "row" (the fields written).
    // Skipped when the book has nothing to write it on.
    enum class Outcome { Skipped, Written, Failed };
    using Announce = std::function<void(const QJsonObject& write)>;
    Outcome insertBill(const Announce& announce, QString* id);
    Outcome updateBill(const Announce& announce);
    Outcome deleteBill(const Announce& announce);
    Outcome insertReference(const QString& table, const Announce& announce, QString* id);
    Outcome updateReference(const QString& table, const Announce& announce);
    Outcome deleteReference(const QString& table, const Announce& announce);

private:
    QRandomGenerator generator;
};
