#pragma once

#include <libpq-fe.h>

#include <QString>
#include <memory>

// One libpq result, owned: released with PQclear exactly once. A default-constructed Result
// stands for "no result" (PQexec returned null), whose counts are 0 and whose tests fail.
class Result {
public:
    Result() = default;
    explicit Result(PGresult* raw) : m_res(raw) {}
    Result(Result&&) noexcept = default;
    Result& operator=(Result&&) noexcept = default;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    bool exists() const { return m_res != nullptr; }
    ExecStatusType status() const;
    // The command test: a result exists and its status is PGRES_COMMAND_OK.
    bool commandOk() const { return status() == PGRES_COMMAND_OK && exists(); }
    // The query test: a result exists and its status is PGRES_TUPLES_OK.
    bool tuplesOk() const { return status() == PGRES_TUPLES_OK && exists(); }

    int rows() const;
    int fields() const;
    QString fieldName(int field) const;
    // PQfnumber: an unquoted name is folded to lower case; -1 when absent.
    int fieldNumber(const char* name) const;
    // A null value reads as an empty text, as PQgetvalue gives it.
    QString value(int row, int field) const;
    bool isNull(int row, int field) const;
    // The raw bytes of a value, for code that streams them without decoding.
    const char* rawValue(int row, int field) const;
    int rawLength(int row, int field) const;

    QString errorMessage() const;  // PQresultErrorMessage; empty without a result
    // One field of the error report (PQresultErrorField), e.g. PG_DIAG_CONTEXT.
    QString errorField(int code) const;
    QString sqlState() const;      // the error's SQLSTATE code; empty when there is none
    // The statement was cancelled on request ("中止", "中断", a stopped export): 57014.
    bool cancelled() const { return sqlState() == QLatin1String("57014"); }
    QString commandStatus() const; // PQcmdStatus, e.g. "INSERT 0 1" or "ROLLBACK"
    // Rows the command touched (PQcmdTuples); -1 when the command reports none.
    long long affectedRows() const;

    void release() { m_res.reset(); }

private:
    struct Clear {
        void operator()(PGresult* r) const { PQclear(r); }
    };
    std::unique_ptr<PGresult, Clear> m_res;
};
