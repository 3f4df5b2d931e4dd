// Errors that end an operation. what() is the finished sentence the user reads:
// it names the file and the cause where those are known.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace trundle {

class TrundleError : public std::runtime_error {
 public:
  explicit TrundleError(const std::string& message) : std::runtime_error(message) {}
};

// A file that could not be opened or created (no permission, a folder in its place, a
// link loop): the end it belongs to never opened, whenever that was found out.
// trundle-cli exits with the status of an end that did not open.
class NotOpenedError : public TrundleError {
 public:
  explicit NotOpenedError(const std::string& message) : TrundleError(message) {}
};

// A long phase ended early because the job asked to stop; the job reports the stop, so
// whoever catches this sends no message of its own.
class StopRequestedError : public TrundleError {
 public:
  StopRequestedError() : TrundleError("Stopped on request") {}
};

// A destination refused one record and nothing else: a value its field cannot take (too
// long, out of range, not a number), a Null where one is required, a key already held.
// what() is the whole sentence a run that stops on it ends with; cause() says which field
// and what was wrong ("field Name (value 'x'): NOT NULL constraint failed"), for a run
// that sets the record aside and goes on. The destination still takes the next record
// (after a Rollback and StartTransaction where it undid its open batch).
//
// A destination that learns of the refusal only later (a server told at Commit, or when
// a batch it collected is sent) names the record by batch_position: its place among the
// records written since StartTransaction, 0 for the first. -1: the record WriteRecord was
// given when it threw.
class RecordRefusedError : public TrundleError {
 public:
  RecordRefusedError(const std::string& message, std::string cause, int64_t batch_position = -1)
      : TrundleError(message), cause_(std::move(cause)), batch_position_(batch_position) {}
  const std::string& cause() const { return cause_; }
  int64_t batch_position() const { return batch_position_; }

 private:
  std::string cause_;
  int64_t batch_position_;
};

// A server undid the whole open batch for a reason that passes: a serialization failure
// or a deadlock with another transaction, a lock waited on too long. The same records
// sent again may well go in. what() is the whole sentence a run that gives up ends with;
// reason() the server's own words, for the log line of a retry. The destination takes a
// Rollback, a StartTransaction and the batch's records again.
class BatchUndoneError : public TrundleError {
 public:
  BatchUndoneError(const std::string& message, std::string reason)
      : TrundleError(message), reason_(std::move(reason)) {}
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// The message of a value index outside a record, as the user sees it.
inline constexpr const char kRangeCheckError[] = "Range check error";

// "Range check error", then on a line of its own where it happened and which limit was
// passed ("t.csv line 5: 92 values, and a text record holds at most 91").
inline TrundleError RangeCheckError(const std::string& where_and_limit) {
  return TrundleError(std::string(kRangeCheckError) + "\r\n" + where_and_limit);
}

// The range check error of a source whose records are wider than a record carries:
// "<source> gives 300 fields, and a record holds at most 256".
inline TrundleError TooManyFieldsError(const std::string& source, int64_t fields, int64_t limit) {
  return RangeCheckError(source + " gives " + std::to_string(fields) +
                         " fields, and a record holds at most " + std::to_string(limit));
}

}  // namespace trundle
