#pragma once

#include "records/Field.h"

#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>
#include <vector>

namespace qc {

class Connection;

// The rows of one statement, read whole when it opens (a client-side cursor), positioned
// on the first row. Values are bound to the statement's '?' markers in order.
//
// Writing back: a statement's rows do not say which table row they came from, so a
// recordset that is to be updated is told so before it opens:
//     rs.setUpdateTarget("Aca_FichaCadastralAluno", {"codigounidade", "matricula"});
//     rs.open("SELECT * FROM Aca_FichaCadastralAluno WHERE codigounidade = ? and matricula = ?",
//             cnBanco, {unit, enrolment});
//     rs.fields("foto").setNull(); rs.update();
//     rs.fields("foto").appendChunk(block); ...; rs.update();
// update() writes the changed fields to the first table row whose key columns hold the
// current row's values (the key columns must be in the select list), binary values in
// 16 KiB pieces. Run it inside a Transaction to make several updates one step.
class Recordset
{
public:
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // Kept for the callers' sake: every recordset is a client-side, updatable snapshot.
    void setCursorLocation(int location) { m_cursorLocation = location; }
    void setCursorType(int type) { m_cursorType = type; }
    void setLockType(int type) { m_lockType = type; }

    void setUpdateTarget(const QString& table, const QStringList& keyColumns);

    void open(const QString& statement, const std::shared_ptr<Connection>& connection,
              const QVariantList& params = {}, int cursorType = -1, int lockType = -1,
              int options = -1);
    bool isOpen() const { return m_open; }
    void close();

    bool eof() const;
    void moveFirst();
    void moveNext();
    int recordCount() const;

    // The field of that name, compared without case (PostgreSQL folds names to lower case).
    Field& fields(const QString& name);
    int fieldCount() const;

    void update();

private:
    friend class Field;
    void checkOpen() const;
    const QVariant& current(int column) const;
    void positionChanged();

    std::shared_ptr<Connection> m_connection;
    QStringList m_columns;
    QVector<QVector<QVariant>> m_rows;
    std::vector<std::unique_ptr<Field>> m_fields;
    int m_position = 0;
    bool m_open = false;
    QString m_updateTable;
    QStringList m_keyColumns;
    int m_cursorLocation = 2;
    int m_cursorType = 0;
    int m_lockType = 1;
};

} // namespace qc
