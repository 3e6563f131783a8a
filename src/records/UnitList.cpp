#include "records/UnitList.h"

#include "core/Error.h"
#include "core/Logging.h"
#include "records/PhotoRepository.h"
#include "records/Recordset.h"

namespace qc {

const QString UnitList::Query = PhotoRepository::unitListStatement();
const QString UnitList::Separator = QStringLiteral("  | ");

namespace {

// The window shows no failure of its unit list; whoever looks into a short list finds why
// in the log.
void passedOver(const char* what, const Error& error)
{
    qCWarning(lcRecords, "%s: %s", what, qPrintable(error.description()));
}

} // namespace

QString UnitList::text(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return QString();
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    return value.toString();
}

QString UnitList::codeOfEntry(const QString& entryText, const QVariant& keptCode)
{
    if (keptCode.isValid() && !keptCode.isNull())
        return keptCode.toString();
    return entryText.left(3).trimmed();
}

void UnitList::MontarComboUnidade(const std::shared_ptr<Connection>& connection, UnitListView& view)
{
    Recordset rs;
    try {
        rs.open(Query, connection, {}, 3, 3, 0);
    } catch (const Error& error) {
        // Passed over: the list is cleared below all the same.
        passedOver("cannot list the units", error);
    }
    view.clear();
    if (rs.isOpen()) {
        for (;;) {
            try {
                if (rs.eof())
                    break;
            } catch (const Error& error) {
                passedOver("the unit list ends early", error);
                break;
            }
            try {
                const QString code = text(rs.fields(QStringLiteral("codigounidade")).value());
                const QString name = text(rs.fields(QStringLiteral("RazaoSocial")).value());
                view.addEntry(code + Separator + name, code);
            } catch (const Error& error) {
                // A row that cannot be read adds no entry.
                passedOver("a unit row cannot be read", error);
            }
            try {
                rs.moveNext();
            } catch (const Error& error) {
                passedOver("the unit list ends early", error);
                break;
            }
        }
    }
    view.selectFirst();
    if (rs.isOpen())
        rs.close();
}

} // namespace qc
