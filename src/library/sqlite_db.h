// A thin C++ layer over the SQLite C library: a connection and a prepared statement that
// close themselves, and errors returned as text rather than thrown. Only what the lap library
// uses is here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace lapquill {

class SqliteStatement;

// What owns an SQLite handle and closes it in its destructor: a copy would close it twice.
class SqliteHandleOwner {
public:
    SqliteHandleOwner(const SqliteHandleOwner&) = delete;
    SqliteHandleOwner& operator=(const SqliteHandleOwner&) = delete;

protected:
    SqliteHandleOwner() = default;
    ~SqliteHandleOwner() = default;
};

class SqliteDb : SqliteHandleOwner {
public:
    ~SqliteDb();

    // Opens or creates the file; false with SQLite's message in *error. Opening reads nothing
    // yet: a file that is not a database shows up at the first statement.
    bool Open(const std::string& path, std::string* error);
    void Close();
    bool IsOpen() const { return db_ != nullptr; }

    // Runs one or more statements without results; false with the message in *error.
    bool Exec(std::string_view sql, std::string* error);
    // The first column of the first row of a query as an integer; false on error.
    bool QueryInt(std::string_view sql, std::int64_t* value, std::string* error);

    // The primary result code of the last failure (SQLITE_NOTADB, SQLITE_CORRUPT, ...).
    int LastErrorCode() const;
    std::string LastErrorMessage() const;
    sqlite3* Handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

class SqliteStatement : SqliteHandleOwner {
public:
    ~SqliteStatement();

    bool Prepare(SqliteDb& db, std::string_view sql, std::string* error);
    bool IsReady() const { return stmt_ != nullptr; }

    // Parameters count from 1.
    void Bind(int index, std::string_view text);
    void Bind(int index, std::int64_t value);
    void Bind(int index, double value);
    void BindNull(int index);

    // True while there is a row; false at the end or on an error (then Failed() is true).
    bool Step();
    bool Failed() const { return failed_; }
    // Runs a statement without rows; false on an error.
    bool Run() { return !Step() && !failed_; }
    void Reset();

    // Columns count from 0.
    std::string Text(int column) const;
    std::int64_t Int(int column) const;
    double Real(int column) const;
    bool IsNull(int column) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
    bool failed_ = false;
};

}  // namespace lapquill
