// ODBC handles wrapped once with their deleter, and the driver's diagnostics as the
// sentence a user reads.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

namespace trundle::odbc {

// One ODBC handle (environment, connection or statement), freed with SQLFreeHandle.
// A statement or connection handle must not outlive the handle it was allocated from.
class Handle {
 public:
  Handle() = default;
  // Allocates a handle of `type` under `parent` (SQL_NULL_HANDLE for an environment).
  // Throws TrundleError when the driver manager refuses.
  Handle(SQLSMALLINT type, SQLHANDLE parent);
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept;
  Handle& operator=(Handle&& other) noexcept;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }
  void Reset();

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// The handle's diagnostic records joined into one text, without the bracketed names of
// the driver manager and driver that lead each record ("[unixODBC][Driver]..."). Empty
// when there are none.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle);
// The SQLSTATE of the handle's first diagnostic record ("" when none).
std::string FirstState(SQLSMALLINT type, SQLHANDLE handle);
// The driver's own error number of the first diagnostic record (0 when none).
SQLINTEGER FirstNativeError(SQLSMALLINT type, SQLHANDLE handle);

// True when one of the handle's diagnostic records says the server undid the
// transaction for a reason that passes: a serialization failure or a deadlock (SQLSTATE
// 40001, 40P01), or with `mysql_codes` MariaDB's and MySQL's deadlock and lock wait
// timeout (native errors 1213, 1205), whatever SQLSTATE the driver gives them.
bool UndidTransaction(SQLSMALLINT type, SQLHANDLE handle, bool mysql_codes);

// Throws TrundleError carrying the diagnostics (or `what` when there are none) unless
// rc is SQL_SUCCESS or SQL_SUCCESS_WITH_INFO.
void Check(SQLRETURN rc, const Handle& handle, const std::string& what);

}  // namespace trundle::odbc
