#pragma once

#include <memory>

#include <QString>

#include "import/importplan.h"
#include "import/importsource.h"
#include "testenv.h"

// A private program folder with a book of the default records open, and a file read into it the
// way the dialog and quorvane-import read one.
class ImportFixture {
public:
    ImportFixture();

    bool isReady() const { return ready; }
    QString bookPath() const { return path; }
    QString dataDir() const { return env.dataDir(); }
    static QString fixture(const QString& name);

    // Reads path into source and a fresh plan on the open book. False with error when the file
    // itself is refused.
    bool read(const QString& path, const ImportSource::Settings& settings = {},
        ValueParser::DateOrder order = ValueParser::DateOrder::Unknown);
    // Books the plan after the automatic backup.
    bool book(ImportPlan::Summary* summary);

    // Figures of the open book.
    static double balance(const QString& accountName);
    static int count(const QString& table);

    ImportSource source;
    std::unique_ptr<ImportPlan> plan;
    QString error;

private:
    TestEnv env;
    QString path;
    bool ready = false;
};
