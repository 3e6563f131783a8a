// Any text as the four connection settings and the installed SQL Server driver: the
// classic string must give back its catalog and server, and every engine string must hold
// exactly the attributes the engine is meant to get, with the password unchanged, whatever
// ; = { } or other characters the values carry.
//
// Input: lines "driver\nuser\npassword\ndatabase\nserver" (the server takes the rest).

#include "core/Error.h"
#include "records/ConnectionString.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(detail));
    std::abort();
}

// The attribute grammar of SQLDriverConnect: KEY=value or KEY={value with }} for }},
// each ended by ';'. The C call reads to the first NUL, so one may not appear at all.
QMap<QString, QString> odbcAttributes(const QString& text)
{
    if (text.contains(QChar(0)))
        fail("NUL in the ODBC string", text);
    QMap<QString, QString> attributes;
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype eq = text.indexOf(QLatin1Char('='), at);
        if (eq < 0)
            fail("attribute without '='", text.mid(at));
        const QString key = text.mid(at, eq - at);
        if (key.contains(QLatin1Char(';')) || key.contains(QLatin1Char('{')))
            fail("malformed key", key);
        QString value;
        at = eq + 1;
        if (at < text.size() && text.at(at) == QLatin1Char('{')) {
            ++at;
            for (;;) {
                if (at >= text.size())
                    fail("unterminated {", text);
                if (text.at(at) == QLatin1Char('}')) {
                    if (at + 1 < text.size() && text.at(at + 1) == QLatin1Char('}')) {
                        value += QLatin1Char('}');
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                value += text.at(at++);
            }
            if (at >= text.size() || text.at(at) != QLatin1Char(';'))
                fail("value not ended by ';'", text);
        } else {
            const qsizetype semi = text.indexOf(QLatin1Char(';'), at);
            if (semi < 0)
                fail("value not ended by ';'", text);
            value = text.mid(at, semi - at);
            if (value.contains(QLatin1Char('{')) || value.contains(QLatin1Char('}')))
                fail("brace in a plain value", value);
            at = semi;
        }
        ++at; // ';'
        if (attributes.contains(key.toUpper()))
            fail("attribute given twice", key);
        attributes.insert(key.toUpper(), value);
    }
    return attributes;
}

void expect(const QMap<QString, QString>& attributes, const char* key, const QString& value)
{
    if (attributes.value(QString::fromLatin1(key)) != value)
        fail(key, attributes.value(QString::fromLatin1(key)) + QStringLiteral(" != ") + value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.size() < 5)
        return -1; // not an input of this shape: keep it out of the corpus
    const QString& driver = lines[0];
    const QString& user = lines[1];
    const QString& password = lines[2];
    const QString& database = lines[3];
    const QString server = lines.mid(4).join(QLatin1Char('\n'));

    const QString classic = qc::ConnectionString::build(user, password, database, server);
    qc::ConnectionString::Parts parts;
    try {
        parts = qc::ConnectionString::parse(classic, user, password);
    } catch (const qc::Error& e) {
        fail("the built string was not recognised", e.description());
    }
    // A catalog holding the server's key cannot be told apart; the parser takes the first.
    if (!database.contains(QLatin1String(";Data Source=")) &&
        (parts.database != database || parts.server != server))
        fail("parse gave other parts", parts.database + QLatin1Char('|') + parts.server);

    qc::ConnectionTarget target;
    try {
        target = qc::ConnectionString::translate(parts, user, password, driver);
    } catch (const qc::Error&) {
        return 0; // refused with a reason: what a bad setting should get
    }

    using Engine = qc::ConnectionTarget::Engine;
    if (target.engine == Engine::Sqlite) {
        if (target.sqlitePath.isEmpty() || QLatin1String("sqlite:") + target.sqlitePath != server)
            fail("sqlite path", target.sqlitePath);
        return 0;
    }
    const auto attributes = odbcAttributes(target.odbcString);
    expect(attributes, "DRIVER", target.odbcDriver);
    expect(attributes, "UID", user);
    expect(attributes, "PWD", password);
    expect(attributes, "DATABASE", parts.database);
    QStringList keys = attributes.keys();
    QStringList wanted;
    if (target.engine == Engine::PostgreSql)
        wanted = {"BYTEAASLONGVARBINARY", "DATABASE", "DRIVER", "PORT", "PWD", "SERVER", "UID"};
    else if (target.freeTds)
        wanted = {"CLIENTCHARSET", "DATABASE", "DRIVER", "PWD", "SERVER", "TDS_VERSION", "UID"};
    else
        wanted = {"DATABASE", "DRIVER", "PWD", "SERVER", "TRUSTSERVERCERTIFICATE", "UID"};
    if (target.freeTds)
        keys.removeOne(QStringLiteral("PORT")); // HOST\INSTANCE goes without one
    if (keys != wanted)
        fail("attribute set", keys.join(QLatin1Char(',')));

    // The masked string is the same with the password gone.
    auto masked = odbcAttributes(qc::ConnectionString::masked(target));
    if (masked.value(QStringLiteral("PWD")) != QLatin1String("***"))
        fail("password not masked", masked.value(QStringLiteral("PWD")));
    auto unmasked = attributes;
    unmasked.remove(QStringLiteral("PWD"));
    masked.remove(QStringLiteral("PWD"));
    if (masked != unmasked)
        fail("masking changed another attribute", qc::ConnectionString::masked(target));
    return 0;
}
