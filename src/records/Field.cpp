#include "records/Field.h"

#include "records/Recordset.h"

namespace qc {

namespace {

QByteArray bytesOf(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return QByteArray();
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    return value.toString().toUtf8();
}

} // namespace

Field::Field(Recordset& owner, int index, const QString& name)
    : m_owner(owner), m_index(index), m_name(name)
{}

QVariant Field::value() const
{
    return m_pending ? m_pendingValue : m_owner.current(m_index);
}

bool Field::isNull() const
{
    const QVariant v = value();
    return !v.isValid() || v.isNull();
}

qint64 Field::actualSize() const
{
    const QVariant v = value();
    if (!v.isValid() || v.isNull())
        return 0;
    if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double)
        return 8;
    return bytesOf(v).size();
}

QByteArray Field::getChunk(qint64 n)
{
    const QByteArray all = bytesOf(value());
    if (n <= 0 || m_chunkOffset >= all.size())
        return QByteArray();
    QByteArray chunk = all.mid(m_chunkOffset, n);
    m_chunkOffset += chunk.size();
    return chunk;
}

void Field::setNull()
{
    m_owner.checkOpen();
    m_owner.current(m_index); // refuses when there is no current row
    m_pending = true;
    m_pendingValue = QVariant();
}

void Field::setValue(const QVariant& value)
{
    m_owner.checkOpen();
    m_owner.current(m_index);
    m_pending = true;
    m_pendingValue = value;
}

void Field::appendChunk(const QByteArray& bytes)
{
    m_owner.checkOpen();
    m_owner.current(m_index);
    if (!m_pending || m_pendingValue.typeId() != QMetaType::QByteArray) {
        m_pending = true;
        m_pendingValue = QByteArray("", 0);
    }
    QByteArray data = m_pendingValue.toByteArray();
    m_pendingValue = QVariant(); // drop the second reference before appending
    data.append(bytes);
    m_pendingValue = data;
}

void Field::resetForRow()
{
    m_chunkOffset = 0;
    m_pending = false;
    m_pendingValue = QVariant();
}

} // namespace qc
