#include "library/sqlite_db.h"

#include <sqlite3.h>

namespace lapquill {

SqliteDb::~SqliteDb() { Close(); }

bool SqliteDb::Open(const std::string& path, std::string* error) {
    Close();
    const int rc = sqlite3_open_v2(path.c_str(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        *error = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        Close();
        return false;
    }
    sqlite3_extended_result_codes(db_, 0);
    return true;
}

void SqliteDb::Close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SqliteDb::Exec(std::string_view sql, std::string* error) {
    char* message = nullptr;
    const std::string text(sql);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        *error = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool SqliteDb::QueryInt(std::string_view sql, std::int64_t* value, std::string* error) {
    SqliteStatement s;
    if (!s.Prepare(*this, sql, error)) return false;
    if (!s.Step()) {
        if (s.Failed()) {
            *error = LastErrorMessage();
            return false;
        }
        *value = 0;
        return true;
    }
    *value = s.Int(0);
    return true;
}

int SqliteDb::LastErrorCode() const { return db_ ? (sqlite3_errcode(db_) & 0xFF) : SQLITE_MISUSE; }

std::string SqliteDb::LastErrorMessage() const { return db_ ? sqlite3_errmsg(db_) : "not open"; }

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

bool SqliteStatement::Prepare(SqliteDb& db, std::string_view sql, std::string* error) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    failed_ = false;
    if (sqlite3_prepare_v2(db.Handle(), sql.data(), static_cast<int>(sql.size()), &stmt_,
                           nullptr) != SQLITE_OK) {
        *error = sqlite3_errmsg(db.Handle());
        return false;
    }
    return true;
}

void SqliteStatement::Bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}
void SqliteStatement::Bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
void SqliteStatement::Bind(int index, double value) { sqlite3_bind_double(stmt_, index, value); }
void SqliteStatement::BindNull(int index) { sqlite3_bind_null(stmt_, index); }

bool SqliteStatement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    failed_ = rc != SQLITE_DONE;
    return false;
}

void SqliteStatement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    failed_ = false;
}

std::string SqliteStatement::Text(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    const int n = sqlite3_column_bytes(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(n))
                : std::string();
}
std::int64_t SqliteStatement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }
double SqliteStatement::Real(int column) const { return sqlite3_column_double(stmt_, column); }
bool SqliteStatement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

}  // namespace lapquill
