#include "records/DatabaseWaits.h"

#include <chrono>

namespace qc::DatabaseWaits {

namespace {

thread_local qint64 total = 0;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class CountedConnection : public ProviderConnection
{
public:
    explicit CountedConnection(std::unique_ptr<ProviderConnection> engine)
        : m_engine(std::move(engine))
    {}

    ResultTable query(const QString& sql, const QVariantList& params, qsizetype maxRows) override
    {
        const Scope waiting;
        return m_engine->query(sql, params, maxRows);
    }
    qint64 execute(const QString& sql, const QVariantList& params) override
    {
        const Scope waiting;
        return m_engine->execute(sql, params);
    }
    void begin() override
    {
        const Scope waiting;
        m_engine->begin();
    }
    void commit() override
    {
        const Scope waiting;
        m_engine->commit();
    }
    void rollback() override
    {
        const Scope waiting;
        m_engine->rollback();
    }
    bool inTransaction() const override { return m_engine->inTransaction(); }
    qint64 updateFirstRow(const QString& table, const QVector<ColumnValue>& sets,
                          const QVector<ColumnValue>& keys) override
    {
        const Scope waiting;
        return m_engine->updateFirstRow(table, sets, keys);
    }
    QString maskedTarget() const override { return m_engine->maskedTarget(); }

private:
    std::unique_ptr<ProviderConnection> m_engine;
};

} // namespace

qint64 threadTotalNs()
{
    return total;
}

Scope::Scope() : m_start(nowNs()) {}

Scope::~Scope()
{
    total += nowNs() - m_start;
}

std::unique_ptr<ProviderConnection> counted(std::unique_ptr<ProviderConnection> engine)
{
    return std::make_unique<CountedConnection>(std::move(engine));
}

} // namespace qc::DatabaseWaits
