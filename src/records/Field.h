#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace qc {

class Recordset;

// One column of a recordset's current row. Owned by its recordset; a reference stays
// valid until the recordset is closed or opened again.
class Field
{
public:
    Field(Recordset& owner, int index, const QString& name);

    const QString& name() const { return m_name; }

    // The current row's value (the new value once set or appended, until the update).
    // NULL is an invalid QVariant; binary is QByteArray; text QString; integers qint64.
    QVariant value() const;
    bool isNull() const;

    // Bytes held: binary length, UTF-8 length of text; 0 for NULL.
    qint64 actualSize() const;

    // The next up to n bytes of the value, continuing where the last call on this row
    // ended; an empty array once everything was read (or for NULL).
    QByteArray getChunk(qint64 n);

    // New values, written by the recordset's update(). The first append after an update
    // (or after moving) starts a new value; later appends add to it.
    void setNull();
    void setValue(const QVariant& value);
    void appendChunk(const QByteArray& bytes);

private:
    friend class Recordset;
    void resetForRow();

    Recordset& m_owner;
    int m_index;
    QString m_name;
    qint64 m_chunkOffset = 0;
    bool m_pending = false;
    QVariant m_pendingValue;
};

} // namespace qc
