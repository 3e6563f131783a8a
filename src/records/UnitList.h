#pragma once

#include <QString>
#include <QVariant>

#include <memory>

namespace qc {

class Connection;

// Where the unit list goes: the capture window's combo box, through a small adapter,
// since this layer knows no widget.
class UnitListView
{
public:
    virtual ~UnitListView() = default;
    virtual void clear() = 0;
    // text as the operator sees it; code is the unit's whole code, kept with the entry.
    virtual void addEntry(const QString& text, const QString& code) = 0;
    virtual void selectFirst() = 0;
};

// The list of school units: "code  | name" for every row of bas_unidades, in code order.
class UnitList
{
public:
    static const QString Query;
    static const QString Separator;

    // Fills view from the connection. Never throws: the list is cleared whether or not the
    // query ran, a row that cannot be read adds nothing, and a broken result ends the
    // filling with the entries so far.
    static void MontarComboUnidade(const std::shared_ptr<Connection>& connection,
                                   UnitListView& view);

    // A database value as the list shows it: NULL is nothing, numbers their digits.
    static QString text(const QVariant& value);

    // The unit code of a chosen entry: the whole code kept with it, or, for an entry
    // without one, its first three characters trimmed (the classic read-back).
    static QString codeOfEntry(const QString& entryText, const QVariant& keptCode);
};

} // namespace qc
