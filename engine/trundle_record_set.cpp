#include "engine/trundle_record_set.h"

#include <climits>
#include <utility>

#include "engine/errors.h"

namespace trundle {

void TTrundleRecordSet::PrepareDestination() {
  Sql = DestinationSql();
  destination_ = true;
}

std::vector<std::string> TTrundleRecordSet::FieldsMadeFrom(
    const TRecordBuffer& /*names*/, const std::vector<std::string>& /*stored*/) const {
  return {};
}

void TTrundleRecordSet::CountRecordsRead(int64_t count, int fields, const std::string& what) {
  // Records wider than the job's buffers could not be handed on whole: refused before
  // the destination is touched.
  if (!destination_ && count > 0 && fields > kRecordBufferSize)
    throw TooManyFieldsError(what, fields, kRecordBufferSize);
  SendMessage(std::to_string(count) + " records read");
  RecordCount = ClampedCount(count);
}

int32_t TTrundleRecordSet::ClampedCount(int64_t count) {
  return count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
}

void TTrundleRecordSet::SendLines(const std::vector<std::string>& lines) const {
  for (const std::string& line : lines) SendMessage(line);
}

void TTrundleRecordSet::SetCreatedFrom(const TFieldDefs& fields) {
  created_from_.clear();
  for (const TFieldDef& field : fields) created_from_.push_back(field.Name);
}

const std::vector<int>& TTrundleRecordSet::MapFields(const TRecordBuffer& names,
                                                     const TRecordBuffer& values) {
  if (!mapper_ready_) {
    std::vector<std::string> stored = StoredFieldNames();
    stored_count_ = stored.size();
    std::vector<std::string> made_from =
        created_from_.empty() ? FieldsMadeFrom(names, stored) : created_from_;
    mapper_.SetDestination(std::move(stored), std::move(made_from));
    mapper_ready_ = true;
  }
  return mapper_.Map(names, values, false, NamesFilled(), NamesLayoutPassed());
}

void TTrundleRecordSet::SendFieldNotes() { SendLines(mapper_.TakeNotes()); }

}  // namespace trundle
