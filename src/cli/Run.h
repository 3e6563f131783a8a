#pragma once

#include "cli/CliOptions.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace qc {

struct Console;
class Module1;
class PhotoFolder;
class PhotoRecords;
class Progress;
class UnitRoster;

// One command's run over a unit: its failures listed one per line as they come (the run
// goes on), its summary at the end, and its exit code.
class Run
{
public:
    Run(Console& console, const CliOptions& options) : m_console(console), m_options(options) {}

    int exportPhotos(const UnitRoster& roster);
    int importPhotos(Module1& module, const UnitRoster& roster);
    int report(const UnitRoster& roster);

    // A failed item: listed on its own line, the run goes on.
    void failed(const QString& item, const QString& reason);
    int exitCode() const;

private:
    class WriteBehind;
    class StoreBehind;

    // What a file of the folder is to become in the database: the bytes to store, or why
    // it is not a photo.
    struct Prepared
    {
        QByteArray bytes;
        QString refusal;
    };

    void exportOne(const UnitRoster& roster, PhotoFolder& folder, WriteBehind& writes,
                   const QString& matricula);
    void importOne(PhotoFolder& folder, const QByteArray& name, StoreBehind& stores);
    std::optional<QString> admit(const PhotoFolder& folder, const QByteArray& name, int rank,
                                 QString& refusal) const;
    static Prepared prepare(const PhotoFolder& folder, const QByteArray& name);
    bool store(const QString& item, const QString& matricula, const QByteArray& bytes,
               const UnitRoster& roster, PhotoRecords& records);
    QString notFound(const QString& matricula) const;

    Console& m_console;
    const CliOptions& m_options;
    Progress* m_progress = nullptr;
    qint64 m_failed = 0;
};

} // namespace qc
