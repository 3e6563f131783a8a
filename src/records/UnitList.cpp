#include "records/UnitList.h"

#include "core/Error.h"
#include "records/Recordset.h"

namespace qc {

const QString UnitList::Query =
    QStringLiteral("select codigounidade, RazaoSocial from bas_unidades order by codigounidade");
const QString UnitList::Separator = QStringLiteral("  | ");

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
    } catch (const Error&) {
        // Passed over: the list is cleared below all the same.
    }
    view.clear();
    if (rs.isOpen()) {
        for (;;) {
            try {
                if (rs.eof())
                    break;
            } catch (const Error&) {
                break;
            }
            try {
                const QString code = text(rs.fields(QStringLiteral("codigounidade")).value());
                const QString name = text(rs.fields(QStringLiteral("RazaoSocial")).value());
                view.addEntry(code + Separator + name, code);
            } catch (const Error&) {
                // A row that cannot be read adds no entry.
            }
            try {
                rs.moveNext();
            } catch (const Error&) {
                break;
            }
        }
    }
    view.selectFirst();
    if (rs.isOpen())
        rs.close();
}

} // namespace qc
