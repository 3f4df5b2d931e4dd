#include "databases/server/oracle_dataset.h"

#include <sqlext.h>

#include <algorithm>
#include <cstring>

#include "databases/server/odbc.h"
#include "databases/server/oracle_session.h"
#include "databases/server/server_columns.h"
#include "engine/ascii.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "engine/trundle_unknown.h"

namespace trundle {
namespace {

constexpr char kUpdatablePrefix[] = "SELECT A.*, A.ROWID FROM ";
constexpr char kUpdatableSuffix[] = " A ";
// Fetch buffers are sized to hold about this many bytes per block of rows.
constexpr size_t kFetchBytes = 4 << 20;
constexpr SQLULEN kMaxRowsPerFetch = 512;
// The widest buffer bound for a text or binary column; a value longer than its buffer
// is fetched whole with SQLGetData.
constexpr SQLLEN kMaxBoundWidth = 4096;
// Parameters in one INSERT of many rows. PostgreSQL takes 65535, but psqlODBC 13 drops
// the connection on statements of more than about 7400.
constexpr size_t kMaxParameters = 4000;
// The parameter arrays of a batch are sent in slices of at most this many bytes.
constexpr size_t kMaxArrayBytes = 64 << 20;
// A refused record's place in its batch when the driver did not say which it was.
constexpr size_t kUnknownRow = static_cast<size_t>(-1);

struct Column {
  SQLUSMALLINT number = 0;  // 1-based position in the result
  ColumnDescription description;
  ColumnPlan plan;
  SQLSMALLINT c_type = SQL_C_CHAR;
  bool bound = true;         // else read with SQLGetData alone, row by row
  SQLLEN width = 0;          // bytes per row in buffer
  std::vector<char> buffer;  // rows_per_fetch * width
  std::vector<SQLLEN> lengths;
};

std::string Trimmed(const std::string& sql) {
  size_t end = sql.size();
  while (end > 0 && (sql[end - 1] == ';' || sql[end - 1] == ' ' || sql[end - 1] == '\n' ||
                     sql[end - 1] == '\r' || sql[end - 1] == '\t'))
    --end;
  size_t start = 0;
  while (start < end &&
         (sql[start] == ' ' || sql[start] == '\n' || sql[start] == '\r' || sql[start] == '\t'))
    ++start;
  return sql.substr(start, end - start);
}

}  // namespace

struct TOracleDataSet::Impl {
  TOracleSession* session = nullptr;
  odbc::Handle statement;
  bool active = false;
  bool updatable = false;
  std::string table;
  int64_t record_count = 0;
  std::vector<Column> columns;  // the carried ones, in field order
  TFieldDefs fields;
  std::vector<Variant> values;
  std::vector<std::string> notes;

  // Reading.
  SQLULEN rows_per_fetch = 1;
  SQLULEN rows_fetched = 0;
  SQLULEN row = 0;  // within the block
  std::vector<SQLUSMALLINT> row_status;
  bool eof = true;
  std::string whole;        // a value fetched whole
  std::vector<char> chunk;  // SQLGetData's pieces of it

  // Appending.
  odbc::Handle insert;
  bool arrays = false;
  // PostgreSQL: records go as one INSERT of many rows, so that the server runs one
  // statement a batch rather than one a record.
  size_t rows_per_insert = 1;
  odbc::Handle many_insert;  // for rows_per_insert rows
  odbc::Handle tail_insert;  // for the last rows of a run, tail_rows of them
  size_t tail_rows = 0;
  std::vector<std::vector<Variant>> pending;
  size_t pending_count = 0;
  bool appending = false;
  int64_t posted = 0;              // records posted in this run
  int64_t sent = 0;                // written in the open transaction, before the pending ones
  int64_t committed = 0;           // in committed batches
  std::vector<std::string> arena;  // per column: the parameter texts of the batch
  std::vector<std::vector<size_t>> offsets;
  std::vector<std::vector<SQLLEN>> indicators;
  std::vector<SQLLEN> longest;  // per column: the longest parameter text of the batch
  std::vector<std::vector<char>> array_buffers;
  std::vector<SQLLEN> slice_widths;  // per column: the bound width of the slice being sent
  std::vector<SQLUSMALLINT> param_status;
  SQLULEN params_processed = 0;

  SQLHDBC connection() const { return session->connection(); }

  void Execute(odbc::Handle& stmt, const std::string& sql) {
    std::string text = sql;
    odbc::Check(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS), stmt,
                "The server refused the statement");
  }

  // The count a "select count(*)" statement gives; -1 when the server refuses it.
  int64_t Count(const std::string& sql) {
    odbc::Handle stmt(SQL_HANDLE_STMT, connection());
    std::string text = sql;
    if (!SQL_SUCCEEDED(
            SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS))) {
      // A failed statement spoils an open transaction on some servers (PostgreSQL).
      session->Rollback();
      return -1;
    }
    SQLBIGINT count = -1;
    SQLLEN length = 0;
    if (!SQL_SUCCEEDED(SQLFetch(stmt.get())) ||
        !SQL_SUCCEEDED(SQLGetData(stmt.get(), 1, SQL_C_SBIGINT, &count, 0, &length)) ||
        length == SQL_NULL_DATA)
      count = -1;
    SQLCloseCursor(stmt.get());
    return count;
  }

  void Describe() {
    columns.clear();
    fields.clear();
    SQLSMALLINT count = 0;
    odbc::Check(SQLNumResultCols(statement.get(), &count), statement,
                "The result's columns cannot be read");
    for (SQLUSMALLINT number = 1; number <= count; ++number) {
      Column column;
      column.number = number;
      SQLCHAR name[512] = {};
      SQLSMALLINT name_length = 0;
      SQLSMALLINT nullable = 0;
      ColumnDescription& d = column.description;
      odbc::Check(SQLDescribeCol(statement.get(), number, name, sizeof name, &name_length,
                                 &d.sql_type, &d.size, &d.decimals, &nullable),
                  statement, "The result's columns cannot be read");
      d.name = reinterpret_cast<const char*>(name);
      char type_name[256] = {};
      SQLSMALLINT type_length = 0;
      if (SQL_SUCCEEDED(SQLColAttribute(statement.get(), number, SQL_DESC_TYPE_NAME, type_name,
                                        sizeof type_name, &type_length, nullptr)))
        d.type_name = type_name;
      SQLLEN is_unsigned = SQL_FALSE;
      if (SQL_SUCCEEDED(SQLColAttribute(statement.get(), number, SQL_DESC_UNSIGNED, nullptr, 0,
                                        nullptr, &is_unsigned)))
        d.is_unsigned = is_unsigned == SQL_TRUE;
      if (EqualsIgnoringAsciiCase(d.name, "ROWID")) continue;
      column.plan = PlanColumn(d, session->IsSQLite());
      if (column.plan.kind == ColumnKind::kNotCarried) {
        notes.push_back(
            "Column " + d.name + " left out: its type " +
            (d.type_name.empty() ? "(ODBC type " + std::to_string(d.sql_type) + ")" : d.type_name) +
            " is not carried");
        continue;
      }
      fields.push_back(column.plan.def);
      columns.push_back(std::move(column));
    }
    values.assign(columns.size(), Variant());
  }

  void BindForReading() {
    // Every column is bound and rows come in blocks. A text or binary value longer than
    // its buffer is fetched whole afterwards with SQLGetData on its row, which needs the
    // driver to allow SQLGetData on bound columns and inside a block of rows; a driver
    // that does not gets its long columns read with SQLGetData alone, one row at a time.
    SQLUINTEGER extensions = 0;
    SQLGetInfo(connection(), SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr);
    const bool get_bound = (extensions & SQL_GD_BOUND) != 0;
    // MariaDB's driver claims SQLGetData in a block, but after SQLSetPos it delivers the
    // value of the block's first row for every row: its long values come row by row.
    const bool get_in_block =
        get_bound && (extensions & SQL_GD_BLOCK) != 0 && !session->IsMySqlFamily();
    // A value can outgrow its buffer only when its column's declared size does; SQLite
    // holds text of any length whatever a column declares.
    const bool sizes_hold = !session->IsSQLite();
    bool may_be_cut = false;
    size_t row_bytes = 0;
    for (Column& c : columns) {
      const SQLLEN size = static_cast<SQLLEN>(c.description.size);
      c.bound = true;
      switch (c.plan.kind) {
        case ColumnKind::kInteger:
          c.c_type = SQL_C_SBIGINT;
          c.width = sizeof(SQLBIGINT);
          break;
        case ColumnKind::kFloat:
          c.c_type = SQL_C_DOUBLE;
          c.width = sizeof(double);
          break;
        case ColumnKind::kDate:
          c.c_type = SQL_C_TYPE_DATE;
          c.width = sizeof(SQL_DATE_STRUCT);
          break;
        case ColumnKind::kTimestamp:
          c.c_type = SQL_C_TYPE_TIMESTAMP;
          c.width = sizeof(SQL_TIMESTAMP_STRUCT);
          break;
        case ColumnKind::kDecimal:
          // Sign, point and exponent beside the digits. A number without a declared
          // precision may still be longer: it is then fetched whole.
          c.c_type = SQL_C_CHAR;
          c.width = std::clamp<SQLLEN>(size + 8, 48, kMaxBoundWidth);
          break;
        case ColumnKind::kBoolean:
        case ColumnKind::kTime:
          c.c_type = SQL_C_CHAR;
          c.width = 40;
          break;
        case ColumnKind::kText:
          // Up to four bytes a character in UTF-8, and the terminating zero; long and
          // unsized text gets the largest buffer.
          c.c_type = SQL_C_CHAR;
          c.width =
              size > 0 ? std::clamp<SQLLEN>(size * 4 + 1, 32, kMaxBoundWidth) : kMaxBoundWidth;
          if (!get_bound && (size <= 0 || size * 4 + 1 > kMaxBoundWidth)) c.bound = false;
          break;
        case ColumnKind::kBinary:
          c.c_type = SQL_C_BINARY;
          c.width = size > 0 ? std::clamp<SQLLEN>(size, 32, kMaxBoundWidth) : kMaxBoundWidth;
          if (!get_bound && (size <= 0 || size > kMaxBoundWidth)) c.bound = false;
          break;
        case ColumnKind::kNotCarried:
          break;
      }
      if (c.c_type == SQL_C_CHAR || c.c_type == SQL_C_BINARY) {
        const bool fits = sizes_hold && size > 0 &&
                          (c.plan.kind == ColumnKind::kText   ? size * 4 + 1 <= c.width
                           : c.plan.kind == ColumnKind::kBinary ? size <= c.width
                           : c.plan.kind == ColumnKind::kDecimal ? size + 8 <= c.width
                                                                 : false);
        if (!fits) may_be_cut = true;
      }
      if (c.bound) row_bytes += static_cast<size_t>(c.width) + sizeof(SQLLEN);
    }
    const bool all_bound =
        std::all_of(columns.begin(), columns.end(), [](const Column& c) { return c.bound; });
    rows_per_fetch =
        all_bound && (get_in_block || !may_be_cut)
            ? std::clamp<SQLULEN>(kFetchBytes / std::max<size_t>(row_bytes, 1), 1, kMaxRowsPerFetch)
            : 1;
    SQLSetStmtAttr(statement.get(), SQL_ATTR_ROW_BIND_TYPE,
                   reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
    if (!SQL_SUCCEEDED(SQLSetStmtAttr(statement.get(), SQL_ATTR_ROW_ARRAY_SIZE,
                                      reinterpret_cast<SQLPOINTER>(rows_per_fetch), 0)))
      rows_per_fetch = 1;
    SQLULEN granted = 0;
    if (SQL_SUCCEEDED(
            SQLGetStmtAttr(statement.get(), SQL_ATTR_ROW_ARRAY_SIZE, &granted, 0, nullptr)) &&
        granted >= 1)
      rows_per_fetch = granted;
    row_status.assign(rows_per_fetch, SQL_ROW_SUCCESS);
    SQLSetStmtAttr(statement.get(), SQL_ATTR_ROW_STATUS_PTR, row_status.data(), 0);
    SQLSetStmtAttr(statement.get(), SQL_ATTR_ROWS_FETCHED_PTR, &rows_fetched, 0);
    for (Column& c : columns) {
      if (!c.bound) continue;
      c.buffer.assign(static_cast<size_t>(c.width) * rows_per_fetch, 0);
      c.lengths.assign(rows_per_fetch, 0);
      odbc::Check(SQLBindCol(statement.get(), c.number, c.c_type, c.buffer.data(), c.width,
                             c.lengths.data()),
                  statement, "The result's columns cannot be bound");
    }
  }

  void FetchBlock() {
    rows_fetched = 0;
    row = 0;
    const SQLRETURN rc = SQLFetchScroll(statement.get(), SQL_FETCH_NEXT, 0);
    if (rc == SQL_NO_DATA) {
      eof = true;
      return;
    }
    odbc::Check(rc, statement, "The server failed to deliver a record");
    eof = rows_fetched == 0;
  }

  // The whole of a text or binary value of the current row, for a column read with
  // SQLGetData alone or a value longer than its bound buffer; false for NULL.
  bool FetchWhole(const Column& c, std::string& data) {
    // In a block of rows, SQLGetData reads the row positioned on.
    if (rows_per_fetch > 1 &&
        !SQL_SUCCEEDED(SQLSetPos(statement.get(), static_cast<SQLSETPOSIROW>(row + 1), SQL_POSITION,
                                 SQL_LOCK_NO_CHANGE)))
      throw TrundleError("A value of column " + c.description.name +
                         " is too long for this driver to deliver whole: " +
                         odbc::Diagnostics(SQL_HANDLE_STMT, statement.get()));
    data.clear();
    chunk.resize(1 << 16);
    const bool text = c.c_type == SQL_C_CHAR;
    const SQLLEN room = static_cast<SQLLEN>(chunk.size()) - (text ? 1 : 0);
    for (;;) {
      SQLLEN length = 0;
      const SQLRETURN rc = SQLGetData(statement.get(), c.number, c.c_type, chunk.data(),
                                      static_cast<SQLLEN>(chunk.size()), &length);
      if (rc == SQL_NO_DATA) break;
      odbc::Check(rc, statement,
                  "A long value of column " + c.description.name + " cannot be read");
      if (length == SQL_NULL_DATA) return false;
      const SQLLEN piece = (length == SQL_NO_TOTAL || length > room) ? room : length;
      data.append(chunk.data(), static_cast<size_t>(piece));
      if (rc == SQL_SUCCESS) break;
    }
    return true;
  }

  // A value delivered as text or bytes, into the Variant its column's kind gives.
  static void TextValue(ColumnKind kind, std::string_view data, Variant& v) {
    switch (kind) {
      case ColumnKind::kDecimal:
      case ColumnKind::kText:
        v.SetString(data);
        break;
      case ColumnKind::kBoolean:
        v.SetBoolean(BooleanFromText(data));
        break;
      case ColumnKind::kTime:
        TimeValue(data, v);
        break;
      case ColumnKind::kBinary:
        v.SetBlob(data);
        break;
      default:
        v.SetNull();
        break;
    }
  }

  void LoadRow() {
    if (row < row_status.size() && row_status[row] == SQL_ROW_ERROR)
      throw TrundleError("The server failed to deliver a record: " +
                         odbc::Diagnostics(SQL_HANDLE_STMT, statement.get()));
    for (size_t i = 0; i < columns.size(); ++i) {
      const Column& c = columns[i];
      Variant& v = values[i];
      if (!c.bound) {
        if (FetchWhole(c, whole))
          TextValue(c.plan.kind, whole, v);
        else
          v.SetNull();
        continue;
      }
      const SQLLEN length = c.lengths[row];
      const char* at = c.buffer.data() + static_cast<size_t>(c.width) * row;
      if (length == SQL_NULL_DATA) {
        v.SetNull();
        continue;
      }
      switch (c.plan.kind) {
        case ColumnKind::kInteger: {
          SQLBIGINT n;
          std::memcpy(&n, at, sizeof n);
          v.SetInteger(n);
          break;
        }
        case ColumnKind::kFloat: {
          double d;
          std::memcpy(&d, at, sizeof d);
          v.SetFloat(d);
          break;
        }
        case ColumnKind::kDate: {
          SQL_DATE_STRUCT date;
          std::memcpy(&date, at, sizeof date);
          DateParts parts;
          parts.year = date.year;
          parts.month = date.month;
          parts.day = date.day;
          parts.hour = parts.minute = parts.second = 0;
          if (IsValidDateParts(parts))
            v.SetDateTime(EncodeDateTime(parts));
          else
            v.SetNull();
          break;
        }
        case ColumnKind::kTimestamp: {
          SQL_TIMESTAMP_STRUCT ts;
          std::memcpy(&ts, at, sizeof ts);
          TimestampValue(ts, v);
          break;
        }
        default: {
          // Text and bytes: a value cut short by its buffer (its length says more than
          // the buffer holds, or the driver cannot tell) is fetched again whole.
          const SQLLEN room = c.width - (c.c_type == SQL_C_CHAR ? 1 : 0);
          if (length == SQL_NO_TOTAL || length > room) {
            if (FetchWhole(c, whole))
              TextValue(c.plan.kind, whole, v);
            else
              v.SetNull();
          } else {
            TextValue(c.plan.kind, std::string_view(at, static_cast<size_t>(length)), v);
          }
          break;
        }
      }
    }
  }

  void OpenForReading(const std::string& sql) {
    record_count = Count("select count(*) from (" + Trimmed(sql) + ") q");
    statement = odbc::Handle(SQL_HANDLE_STMT, connection());
    Execute(statement, sql);
    if (record_count < 0) {
      // The server cannot count a statement of this form: count by a pass of its own,
      // holding nothing, then run it again.
      record_count = 0;
      while (SQL_SUCCEEDED(SQLFetch(statement.get()))) ++record_count;
      SQLCloseCursor(statement.get());
      Execute(statement, sql);
    }
    Describe();
    BindForReading();
    FetchBlock();
    if (!eof) LoadRow();
  }

  void OpenForAppending(const std::string& sql) {
    record_count = std::max<int64_t>(Count("select count(*) from " + table), 0);
    statement = odbc::Handle(SQL_HANDLE_STMT, connection());
    // Oracle runs the statement as given; other servers have no ROWID and describe the
    // table's columns from a select that returns no rows.
    Execute(statement, session->IsOracle() ? sql : "select * from " + table + " where 1=0");
    Describe();
    SQLCloseCursor(statement.get());
    PrepareInsert();
    eof = true;
  }

  // A prepared "insert into TABLE (...) values (?, ...), ..." of `rows` rows.
  odbc::Handle PreparedInsert(size_t rows) {
    std::string sql = "insert into " + table + " (";
    std::string marks = "(";
    for (size_t i = 0; i < columns.size(); ++i) {
      if (i) sql += ", ", marks += ", ";
      sql += session->QuotedIdentifier(columns[i].description.name);
      marks += '?';
    }
    marks += ')';
    sql += ") values " + marks;
    for (size_t r = 1; r < rows; ++r) sql += ", " + marks;
    odbc::Handle stmt(SQL_HANDLE_STMT, connection());
    odbc::Check(SQLPrepare(stmt.get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), stmt,
                "The server refused the insert statement");
    return stmt;
  }

  void PrepareInsert() {
    if (columns.empty()) return;
    insert = PreparedInsert(1);
    rows_per_insert = 1;
    tail_rows = 0;
    tail_insert.Reset();
    many_insert.Reset();
    if (session->IsPostgres()) {
      rows_per_insert = std::clamp<size_t>(kMaxParameters / columns.size(), 1, kRecordsPerBatch);
      if (rows_per_insert > 1) many_insert = PreparedInsert(rows_per_insert);
    }
    arrays = DriverTakesArrays();
    // The SQLite driver stores a binary value of an array as wide as the array's buffer,
    // whatever its length says: such tables go one record at a time.
    if (session->IsSQLite())
      for (const Column& c : columns)
        if (c.plan.kind == ColumnKind::kBinary) arrays = false;
    SQLSetStmtAttr(insert.get(), SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    if (arrays) {
      param_status.assign(kRecordsPerBatch, SQL_PARAM_UNUSED);
      SQLSetStmtAttr(insert.get(), SQL_ATTR_PARAM_BIND_TYPE,
                     reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0);
      SQLSetStmtAttr(insert.get(), SQL_ATTR_PARAM_STATUS_PTR, param_status.data(), 0);
      SQLSetStmtAttr(insert.get(), SQL_ATTR_PARAMS_PROCESSED_PTR, &params_processed, 0);
    }
    arena.assign(columns.size(), std::string());
    offsets.assign(columns.size(), std::vector<size_t>());
    indicators.assign(columns.size(), std::vector<SQLLEN>());
    array_buffers.assign(columns.size(), std::vector<char>());
  }

  // True when the driver executes a statement once for each row of a parameter array.
  // It is asked rather than known by name: a driver of ODBC 3 answers
  // SQL_PARAM_ARRAY_ROW_COUNTS (one of two ways of counting rows, either will do for an
  // insert), and it must then take the array's size as asked; a driver that changes the
  // size (01S02) or refuses it runs each record on its own.
  bool DriverTakesArrays() {
    SQLUINTEGER row_counts = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(connection(), SQL_PARAM_ARRAY_ROW_COUNTS, &row_counts,
                                  sizeof row_counts, nullptr)) ||
        (row_counts != SQL_PARC_BATCH && row_counts != SQL_PARC_NO_BATCH))
      return false;
    SQLULEN granted = 0;
    const bool taken =
        SQL_SUCCEEDED(SQLSetStmtAttr(insert.get(), SQL_ATTR_PARAMSET_SIZE,
                                     reinterpret_cast<SQLPOINTER>(kRecordsPerBatch), 0)) &&
        SQL_SUCCEEDED(SQLGetStmtAttr(insert.get(), SQL_ATTR_PARAMSET_SIZE, &granted, 0, nullptr)) &&
        granted == static_cast<SQLULEN>(kRecordsPerBatch);
    SQLSetStmtAttr(insert.get(), SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    return taken;
  }

  // A Boolean column of MariaDB or MySQL described as bit(1), sent as a byte.
  bool BitAsByte(const Column& c) const {
    return c.plan.kind == ColumnKind::kBoolean && c.description.sql_type == SQL_BIT &&
           session->IsMySqlFamily();
  }

  struct ParameterType {
    SQLSMALLINT c_type;
    SQLSMALLINT sql_type;
    SQLULEN size;
    SQLSMALLINT digits;
  };

  // Column i's parameter type, for values of at most `most` bytes.
  ParameterType TypeOf(size_t i, SQLLEN most) const {
    const Column& c = columns[i];
    ParameterType type{
        static_cast<SQLSMALLINT>(c.plan.kind == ColumnKind::kBinary ? SQL_C_BINARY : SQL_C_CHAR),
        c.description.sql_type, c.description.size, c.description.decimals};
    switch (c.plan.kind) {
      case ColumnKind::kText:
      case ColumnKind::kBinary:
        type.size = static_cast<SQLULEN>(std::max<SQLLEN>(most, 1));
        break;
      case ColumnKind::kBoolean:
        // MariaDB's driver crashes converting text to a bit parameter, and its server
        // takes the text "1" as too long for a bit(1): the bit goes as its byte.
        if (BitAsByte(c)) {
          type.c_type = SQL_C_BINARY;
          type.sql_type = SQL_BINARY;
          type.size = 1;
        }
        break;
      case ColumnKind::kTimestamp:
        type.digits = std::max<SQLSMALLINT>(type.digits, 3);
        type.size = std::max<SQLULEN>(type.size, 23);
        break;
      default:
        if (type.size == 0) type.size = static_cast<SQLULEN>(std::max<SQLLEN>(most, 1));
        break;
    }
    return type;
  }

  void BindParameter(size_t i, SQLPOINTER data, SQLLEN width, SQLLEN* indicator, SQLLEN most) {
    const ParameterType type = TypeOf(i, most);
    odbc::Check(SQLBindParameter(insert.get(), static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
                                 type.c_type, type.sql_type, type.size, type.digits, data, width,
                                 indicator),
                insert, "A value cannot be bound");
  }

  // Writes the pending records as INSERTs of many rows each.
  void SendRows() {
    const size_t n = pending_count;
    const size_t count = columns.size();
    for (size_t start = 0; start < n; start += rows_per_insert) {
      const size_t rows = std::min(rows_per_insert, n - start);
      if (rows != rows_per_insert && rows != tail_rows) {
        tail_insert = PreparedInsert(rows);
        tail_rows = rows;
      }
      odbc::Handle& stmt = rows == rows_per_insert ? many_insert : tail_insert;
      for (size_t i = 0; i < count; ++i) {
        const ParameterType type = TypeOf(i, longest[i]);
        for (size_t r = 0; r < rows; ++r) {
          SQLLEN& length = indicators[i][start + r];
          odbc::Check(SQLBindParameter(stmt.get(), static_cast<SQLUSMALLINT>(r * count + i + 1),
                                       SQL_PARAM_INPUT, type.c_type, type.sql_type, type.size,
                                       type.digits, arena[i].data() + offsets[i][start + r],
                                       std::max<SQLLEN>(length, 1), &length),
                      stmt, "A value cannot be bound");
        }
      }
      if (!SQL_SUCCEEDED(SQLExecute(stmt.get())))
        Failed(stmt, kUnknownRow);
    }
  }

  // Binds record r of the batch alone, straight from the texts.
  void BindRecord(size_t r) {
    SQLFreeStmt(insert.get(), SQL_RESET_PARAMS);
    SQLSetStmtAttr(insert.get(), SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    for (size_t i = 0; i < columns.size(); ++i) {
      SQLLEN& length = indicators[i][r];
      const SQLLEN width = length == SQL_NULL_DATA ? 1 : std::max<SQLLEN>(length, 1);
      BindParameter(i, arena[i].data() + offsets[i][r], width, &length, width);
    }
  }

  // Writes the pending records into the open transaction.
  void Send() {
    if (pending_count == 0) return;
    const size_t n = pending_count;
    longest.assign(columns.size(), 0);
    for (size_t i = 0; i < columns.size(); ++i) {
      std::string& texts = arena[i];
      texts.clear();
      // Empty text is a value of a text column; in any other column it is no value (a
      // text file's empty field), so it goes as NULL.
      const bool keeps_empty = columns[i].plan.kind == ColumnKind::kText;
      offsets[i].assign(n, 0);
      indicators[i].assign(n, SQL_NULL_DATA);
      for (size_t r = 0; r < n; ++r) {
        const Variant& v = pending[r][i];
        offsets[i][r] = texts.size();
        if (v.IsEmpty() || (v.IsText() && v.text().empty() && !keeps_empty)) continue;
        ParameterText(v, columns[i].plan.kind, texts);
        if (BitAsByte(columns[i]) && texts.size() == offsets[i][r] + 1 &&
            (texts.back() == '1' || texts.back() == '0'))
          texts.back() = texts.back() == '1' ? '\x01' : '\x00';
        indicators[i][r] = static_cast<SQLLEN>(texts.size() - offsets[i][r]);
        longest[i] = std::max(longest[i], indicators[i][r]);
      }
    }
    if (rows_per_insert > 1) {
      SendRows();
    } else if (arrays) {
      // Each slice of the batch is bound as one array as wide as its longest values, and
      // kept under kMaxArrayBytes: one long value makes its slice short, not the whole
      // batch wide.
      for (size_t start = 0; start < n;) {
        const size_t rows = SliceRows(start, n);
        SendSlice(start, rows);
        start += rows;
      }
    } else {
      for (size_t r = 0; r < n; ++r) {
        BindRecord(r);
        if (!SQL_SUCCEEDED(SQLExecute(insert.get()))) Failed(insert, r);
      }
    }
    sent += static_cast<int64_t>(n);
    pending_count = 0;
  }

  // How many records from `start` go in one array: as many as keep the array's bytes,
  // each column as wide as its longest value among them, within kMaxArrayBytes (at least
  // one record, however long).
  size_t SliceRows(size_t start, size_t n) {
    slice_widths.assign(columns.size(), 1);
    size_t row_bytes = columns.size();
    size_t rows = 0;
    for (size_t r = start; r < n; ++r) {
      size_t widened = row_bytes;
      for (size_t i = 0; i < columns.size(); ++i)
        if (indicators[i][r] > slice_widths[i])
          widened += static_cast<size_t>(indicators[i][r] - slice_widths[i]);
      if (rows > 0 && widened * (rows + 1) > kMaxArrayBytes) break;
      for (size_t i = 0; i < columns.size(); ++i)
        slice_widths[i] = std::max(slice_widths[i], indicators[i][r]);
      row_bytes = widened;
      ++rows;
    }
    return rows;
  }

  // Binds records start to start + rows - 1 as parameter arrays, column by column, and
  // executes them once; the widths are SliceRows's for the same slice.
  void SendSlice(size_t start, size_t rows) {
    // Bindings of an earlier slice go first: MariaDB's driver keeps what it derived from
    // them (and corrupts its heap when a later slice is bound wider over them).
    SQLFreeStmt(insert.get(), SQL_RESET_PARAMS);
    for (size_t i = 0; i < columns.size(); ++i) {
      const SQLLEN width = slice_widths[i];
      std::vector<char>& buffer = array_buffers[i];
      buffer.resize(static_cast<size_t>(width) * rows);
      for (size_t r = 0; r < rows; ++r) {
        const SQLLEN length = indicators[i][start + r];
        if (length > 0)
          std::memcpy(buffer.data() + static_cast<size_t>(width) * r,
                      arena[i].data() + offsets[i][start + r], static_cast<size_t>(length));
      }
      BindParameter(i, buffer.data(), width, indicators[i].data() + start, width);
    }
    SQLSetStmtAttr(insert.get(), SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0);
    std::fill(param_status.begin(), param_status.end(), SQL_PARAM_UNUSED);
    params_processed = 0;
    const SQLRETURN rc = SQLExecute(insert.get());
    const size_t first_error = FirstError(rows);
    if (!SQL_SUCCEEDED(rc) || first_error != kUnknownRow)
      Failed(insert, first_error == kUnknownRow ? kUnknownRow : start + first_error);
    // A driver that stopped early without an error has not written the rest.
    if (params_processed != 0 && params_processed < rows)
      throw TrundleError("The driver wrote " + std::to_string(params_processed) + " of " +
                         std::to_string(rows) + " records of an array into table " + table +
                         " and gave no reason for the rest.");
  }

  // The first record of the array the driver marked as refused, or kUnknownRow.
  size_t FirstError(size_t n) const {
    for (size_t r = 0; r < n; ++r)
      if (param_status[r] == SQL_PARAM_ERROR) return r;
    return kUnknownRow;
  }

  // The batch's records undone by the server, as the sentence a run that gives up ends with.
  std::string UndoneText(const std::string& reason) const {
    return "Records " + std::to_string(committed + 1) + " to " + std::to_string(posted) +
           " were undone by the server: " + (reason.empty() ? "no reason given" : reason) + ". " +
           std::to_string(committed) + " records were committed before them.";
  }

  // Undoes the open batch and throws BatchUndoneError.
  [[noreturn]] void Undone(const std::string& reason) {
    pending_count = 0;
    sent = 0;
    try {
      session->Rollback();
    } catch (const std::exception&) {
      // The server has undone the transaction already.
    }
    throw BatchUndoneError(UndoneText(reason), reason);
  }

  // A statement of the batch failed: a transaction the server undid for a passing reason
  // (a deadlock, a serialization failure) is no record's fault; anything else is
  // Refused's to name.
  [[noreturn]] void Failed(const odbc::Handle& stmt, size_t guess) {
    if (odbc::UndidTransaction(SQL_HANDLE_STMT, stmt.get(), session->IsMySqlFamily()))
      Undone(odbc::Diagnostics(SQL_HANDLE_STMT, stmt.get()));
    Refused(stmt, guess);
  }

  // True when the statement's refusal was the record's own fault: a value the column
  // cannot take or a constraint it breaks (SQLSTATE class 22 or 23; the SQLite driver
  // says HY000 and gives SQLite's own code: a constraint, a type mismatch, too big).
  bool RecordsOwnFault(const odbc::Handle& stmt) const {
    const std::string state = odbc::FirstState(SQL_HANDLE_STMT, stmt.get());
    if (state.rfind("22", 0) == 0 || state.rfind("23", 0) == 0) return true;
    if (!session->IsSQLite()) return false;
    const SQLINTEGER native = odbc::FirstNativeError(SQL_HANDLE_STMT, stmt.get()) & 0xff;
    return native == 18 || native == 19 || native == 20;  // TOOBIG, CONSTRAINT, MISMATCH
  }

  // Writes record r of the batch alone; true when the server refuses it, with its
  // reason in `text` and whether the record was at fault in `own_fault`.
  bool RefusedAlone(size_t r, std::string& text, bool& own_fault) {
    BindRecord(r);
    if (SQL_SUCCEEDED(SQLExecute(insert.get()))) return false;
    const std::string own = odbc::Diagnostics(SQL_HANDLE_STMT, insert.get());
    if (!own.empty()) text = own;
    own_fault = RecordsOwnFault(insert);
    return true;
  }

  // The server refused a record of the batch (at `guess`, as the array's row status
  // says). Rolls back, finds the record by writing the batch again one record at a time
  // (drivers that send arrays in slices mark a whole slice), rolls back again, throws:
  // RecordRefusedError with the record's place in the open batch when the record was at
  // fault, TrundleError otherwise.
  [[noreturn]] void Refused(const odbc::Handle& failed, size_t guess) {
    std::string text = odbc::Diagnostics(SQL_HANDLE_STMT, failed.get());
    bool own_fault = RecordsOwnFault(failed);
    const size_t n = pending_count;
    size_t refused = guess == kUnknownRow ? 0 : guess;
    session->Rollback();
    if (arrays || rows_per_insert > 1) {
      // The record the row status array marks is tried alone first; when it goes in on
      // its own (a driver that marks a whole slice, a key an earlier record of the batch
      // holds) the batch is written again from its start, one record at a time.
      bool found = false;
      if (arrays && rows_per_insert == 1 && guess != kUnknownRow) {
        found = RefusedAlone(guess, text, own_fault);
        if (!found) session->Rollback();
      }
      for (size_t r = 0; r < n && !found; ++r) {
        found = RefusedAlone(r, text, own_fault);
        if (found) refused = r;
      }
      try {
        session->Rollback();
      } catch (const std::exception&) {
        // The first rollback stands; this one only undoes the search.
      }
    }
    const int64_t first = committed + 1;
    const int64_t record = posted - static_cast<int64_t>(n) + static_cast<int64_t>(refused) + 1;
    const int64_t last = posted;
    const int64_t position = sent + static_cast<int64_t>(refused);
    pending_count = 0;
    sent = 0;
    const std::string cause = text.empty() ? "no reason given" : text;
    const std::string message =
        "Record " + std::to_string(record) + " was refused by the server: " + cause + ". " +
        std::to_string(committed) + " records were committed before it; the open batch (records " +
        std::to_string(first) + " to " + std::to_string(last) + ") was rolled back.";
    if (own_fault) throw RecordRefusedError(message, cause, position);
    throw TrundleError(message);
  }
};

TOracleDataSet::TOracleDataSet() : impl_(std::make_unique<Impl>()) {}

TOracleDataSet::~TOracleDataSet() { Close(); }

void TOracleDataSet::Open() {
  Close();
  if (!Session || !Session->Connected()) throw TrundleError("Not logged on");
  Impl& m = *impl_;
  m.session = Session;
  const std::string upper = UpperAscii(SQL);
  const size_t prefix = sizeof kUpdatablePrefix - 1;
  const size_t suffix = sizeof kUpdatableSuffix - 1;
  m.updatable = upper.size() > prefix + suffix && upper.compare(0, prefix, kUpdatablePrefix) == 0 &&
                upper.compare(upper.size() - suffix, suffix, kUpdatableSuffix) == 0;
  m.posted = m.sent = m.committed = 0;
  m.pending_count = 0;
  m.appending = false;
  try {
    if (m.updatable) {
      m.table = Trimmed(SQL.substr(prefix, SQL.size() - prefix - suffix));
      m.OpenForAppending(SQL);
    } else {
      m.OpenForReading(SQL);
    }
  } catch (...) {
    m.statement.Reset();
    m.insert.Reset();
    throw;
  }
  m.active = true;
}

void TOracleDataSet::Close() {
  Impl& m = *impl_;
  if (m.statement) SQLFreeStmt(m.statement.get(), SQL_CLOSE);
  m.statement.Reset();
  m.insert.Reset();
  m.active = false;
  m.eof = true;
  m.pending_count = 0;
  m.columns.clear();
  m.fields.clear();
  m.values.clear();
}

bool TOracleDataSet::Active() const { return impl_->active; }
bool TOracleDataSet::Updatable() const { return impl_->active && impl_->updatable; }
int64_t TOracleDataSet::RecordCount() const { return impl_->record_count; }
const TFieldDefs& TOracleDataSet::FieldDefs() const { return impl_->fields; }
int TOracleDataSet::FieldCount() const { return static_cast<int>(impl_->fields.size()); }
const Variant& TOracleDataSet::Value(int i) const { return impl_->values[static_cast<size_t>(i)]; }
bool TOracleDataSet::Eof() const { return impl_->eof; }

TOracleDataSet::Insertion TOracleDataSet::InsertionPath() const {
  if (impl_->rows_per_insert > 1) return Insertion::kManyRows;
  return impl_->arrays ? Insertion::kArrays : Insertion::kOneByOne;
}

void TOracleDataSet::Next() {
  Impl& m = *impl_;
  if (!m.active || m.eof) return;
  if (++m.row >= m.rows_fetched) m.FetchBlock();
  if (!m.eof) m.LoadRow();
}

void TOracleDataSet::Append() {
  Impl& m = *impl_;
  if (!Updatable()) throw TrundleError("The dataset is read-only: " + SQL);
  if (m.appending) return;
  if (m.pending.size() <= m.pending_count) m.pending.emplace_back(m.columns.size());
  for (Variant& v : m.pending[m.pending_count]) v.SetNull();
  m.appending = true;
}

void TOracleDataSet::SetValue(int i, const Variant& value) {
  Impl& m = *impl_;
  if (!m.appending) throw TrundleError("No record is being appended");
  m.pending[m.pending_count][static_cast<size_t>(i)] = value;
}

void TOracleDataSet::Post() {
  Impl& m = *impl_;
  if (!m.appending) throw TrundleError("No record is being appended");
  m.appending = false;
  ++m.pending_count;
  ++m.posted;
  if (m.pending_count >= static_cast<size_t>(kRecordsPerBatch)) m.Send();
}

void TOracleDataSet::CommitBatch() {
  Impl& m = *impl_;
  if (!m.active || !m.updatable) return;
  m.appending = false;
  m.Send();
  try {
    m.session->Commit();
  } catch (const BatchUndoneError& e) {
    m.Undone(e.reason());
  }
  m.committed += m.sent;
  m.sent = 0;
}

void TOracleDataSet::RollbackBatch() noexcept {
  Impl& m = *impl_;
  m.pending_count = 0;
  m.appending = false;
  m.sent = 0;
  // The records of the batch are numbered again when they are sent again.
  m.posted = m.committed;
  if (m.session && m.session->Connected()) {
    try {
      m.session->Rollback();
    } catch (const std::exception&) {
      // Logging off rolls back as well.
    }
  }
}

int64_t TOracleDataSet::CommittedRecords() const { return impl_->committed; }

std::vector<std::string> TOracleDataSet::TakeNotes() {
  std::vector<std::string> out;
  out.swap(impl_->notes);
  return out;
}

}  // namespace trundle
