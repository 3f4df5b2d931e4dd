// --verify: after a run the destination is read back through its own kind's reader and
// compared with what the run wrote, field by field and by the count of records. Each
// field is summed as an order-independent hash (RunTally, engine/run_tally.h) of its
// values in the form the destination field holds them; the destination's records from
// before the run are summed the same way and taken out, so that an append verifies as
// well as a new table.
//
//   Verifier verifier(description);   // VerifyRefusal(description) was empty
//   verifier.Attach(job);             // reads the table as it was, once both ends open
//   job.Execute();
//   const Verification result = verifier.Check(job);
//   result.Text();                    // "Verified: 3 records, 2 fields match"
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/field_types.h"
#include "engine/run_tally.h"
#include "engine/trundle.h"
#include "front/job_description.h"

namespace trundle {

// A table as read back: its fields and, per field, the hashes of its values summed.
struct TableSums {
  bool read = false;  // the table was there and was read to its end
  int64_t records = 0;
  TFieldDefs fields;
  std::vector<uint64_t> sums;  // parallel to fields
};

// Opens `reader` (an adaptor filled to read the table) and sums every field of every
// record, each field's values hashed in the class of its type; text fields render other
// values through text_form. A table that is not there gives read false. Throws
// TrundleError naming the table when reading it fails part way.
TableSums SumTable(TTrundleUnknown& reader, const TextForm& text_form = {});

// Empty when the destination of the description can be read back; otherwise the
// sentence for the user (an HTML page, the clipboard, standard output).
std::string VerifyRefusal(const JobDescription& description);

// One destination field's comparison.
struct FieldCheck {
  std::string destination;  // the field's name in the destination
  std::string source;       // the source field that filled it; empty when none did
  bool match = false;
};

struct Verification {
  bool done = false;   // false: the run did not finish, or the table could not be read
  std::string reason;  // when not done, why
  int64_t records_written = 0;
  int64_t records_found = 0;  // new records in the destination
  std::vector<FieldCheck> fields;

  bool sound() const;
  // "Verified: N records, F fields match", or one line per difference.
  std::string Text() const;
};

// Compares the destination before and after a run with what the run wrote. `map[i]` is
// the destination field of source field i (-1: none); a destination field no source
// field fills is expected to hold nothing in the new records.
Verification CompareSums(const TableSums& before, const TableSums& after, const RunTally& written,
                         const std::vector<int>& map);

// The destination field (an index into dest, -1 for none) of each source field, as the
// destination's writers match them: by name (FieldNameMapper), a table this run created
// by position, and a field stored under a shortened name (a dBase name cut to ten
// characters) by the start of its name.
std::vector<int> MapFields(const std::vector<std::string>& source_names, const TFieldDefs& dest,
                           bool created);

class Verifier {
 public:
  // REQUIRES: VerifyRefusal(description) is empty. The description must outlive this.
  explicit Verifier(const JobDescription& description);
  ~Verifier();
  Verifier(const Verifier&) = delete;
  Verifier& operator=(const Verifier&) = delete;

  // Sets the job's OnEndsOpen: once both ends are open, the destination is read as it is
  // then and the job told to hash what it writes in the destination fields' forms. The
  // job must outlive this.
  void Attach(TTrundle& job);
  // After Execute: reads the destination back and compares.
  Verification Check(const TTrundle& job);

 private:
  std::unique_ptr<TTrundle> Reader() const;

  const JobDescription& description_;
  TextForm text_form_;
  TableSums before_;
  std::string before_error_;  // why the table as it was could not be read
};

}  // namespace trundle
