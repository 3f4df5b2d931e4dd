#include "databases/server/odbc.h"

#include <utility>

#include "engine/errors.h"

namespace trundle::odbc {

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
  if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_))) {
    handle_ = SQL_NULL_HANDLE;
    throw TrundleError(type == SQL_HANDLE_ENV ? "The ODBC driver manager cannot be started"
                                              : "The ODBC driver manager is out of handles");
  }
}

Handle::Handle(Handle&& other) noexcept
    : type_(other.type_), handle_(std::exchange(other.handle_, SQLHANDLE{})) {}

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    Reset();
    type_ = other.type_;
    handle_ = std::exchange(other.handle_, SQLHANDLE{});
  }
  return *this;
}

void Handle::Reset() {
  if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  handle_ = SQL_NULL_HANDLE;
}

namespace {

// "[unixODBC][Driver Manager]Data source name not found" -> "Data source name not found".
std::string WithoutSourceNames(std::string text) {
  size_t start = 0;
  while (start < text.size() && text[start] == '[') {
    const size_t close = text.find(']', start);
    if (close == std::string::npos) break;
    start = close + 1;
  }
  text.erase(0, start);
  // Drivers end their records with line breaks and ';' separators of their own.
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ';' || text.back() == ' '))
    text.pop_back();
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  if (handle == SQL_NULL_HANDLE) return out;
  for (SQLSMALLINT record = 1; record <= 8; ++record) {
    SQLCHAR state[8] = {};
    SQLINTEGER native = 0;
    SQLCHAR text[2048];
    SQLSMALLINT length = 0;
    const SQLRETURN rc =
        SQLGetDiagRec(type, handle, record, state, &native, text, sizeof text, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    std::string line = WithoutSourceNames(reinterpret_cast<const char*>(text));
    if (line.empty() || out.find(line) != std::string::npos) continue;
    if (!out.empty()) out += ' ';
    out += line;
  }
  return out;
}

std::string FirstState(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[8] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (handle == SQL_NULL_HANDLE ||
      !SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, nullptr, 0, &length)))
    return "";
  return reinterpret_cast<const char*>(state);
}

bool UndidTransaction(SQLSMALLINT type, SQLHANDLE handle, bool mysql_codes) {
  if (handle == SQL_NULL_HANDLE) return false;
  for (SQLSMALLINT record = 1; record <= 8; ++record) {
    SQLCHAR state[8] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, record, state, &native, nullptr, 0, &length)))
      break;
    const std::string code = reinterpret_cast<const char*>(state);
    if (code == "40001" || code == "40P01") return true;
    if (mysql_codes && (native == 1213 || native == 1205)) return true;
  }
  return false;
}

SQLINTEGER FirstNativeError(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[8] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (handle == SQL_NULL_HANDLE ||
      !SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, nullptr, 0, &length)))
    return 0;
  return native;
}

void Check(SQLRETURN rc, const Handle& handle, const std::string& what) {
  if (SQL_SUCCEEDED(rc)) return;
  const std::string text = Diagnostics(handle.type(), handle.get());
  throw TrundleError(text.empty() ? what : text);
}

}  // namespace trundle::odbc
