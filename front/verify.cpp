#include "front/verify.h"

#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/field_name_mapper.h"
#include "front/kinds.h"
#include "textfiles/qor_tables.h"

namespace trundle {
namespace {

std::vector<ValueClass> ClassesOf(const TFieldDefs& fields) {
  std::vector<ValueClass> classes;
  for (const TFieldDef& field : fields) classes.push_back(ClassOfFieldType(field.DataType));
  return classes;
}

TRecordBuffer NameBuffer(const std::vector<std::string>& names) {
  TRecordBuffer buffer(std::max<size_t>(names.size(), kRecordBufferSize));
  for (size_t i = 0; i < names.size(); ++i) buffer[i] = Variant::String(names[i]);
  return buffer;
}

}  // namespace

TableSums SumTable(TTrundleUnknown& reader, const TextForm& text_form) {
  TableSums sums;
  if (!reader.OpenTable()) return sums;
  sums.fields = reader.SourceFieldDefs(nullptr);
  sums.sums.assign(sums.fields.size(), 0);
  const std::vector<ValueClass> classes = ClassesOf(sums.fields);
  TRecordBuffer names(kRecordBufferSize);
  TRecordBuffer values(kRecordBufferSize);
  static const Variant kNoValue;
  while (reader.ReadRecord(names, values)) {
    ++sums.records;
    for (size_t i = 0; i < sums.fields.size(); ++i)
      sums.sums[i] += HashValue(i < values.size() ? values[i] : kNoValue, classes[i], text_form);
  }
  if (!reader.ReadError().empty())
    throw TrundleError("Cannot read back " + reader.TableName + ": " + reader.ReadError());
  sums.read = true;
  return sums;
}

std::string VerifyRefusal(const JobDescription& description) {
  const EndDescription& dest = description.destination;
  const KindDeclaration* declared = FindKind(dest.kind);
  if (!declared || !declared->Can(kaReadBack))
    return std::string("--verify reads the destination back, and ") + KindTitle(dest.kind) +
           " destinations cannot be read";
  if (dest.kind == dkText && description.clipboard)
    return "--verify reads the destination back, and the clipboard cannot be read";
  if (IsFileKind(dest.kind) && dest.file == "-")
    return "--verify reads the destination back, and standard output cannot be read";
  return "";
}

bool Verification::sound() const {
  if (!done || records_found != records_written) return false;
  for (const FieldCheck& field : fields)
    if (!field.match) return false;
  return true;
}

std::string Verification::Text() const {
  if (!done) return "Not verified: " + reason;
  if (sound())
    return "Verified: " + std::to_string(records_written) + " records, " +
           std::to_string(fields.size()) + " fields match";
  std::string text;
  if (records_found != records_written)
    text += "Verification failed: " + std::to_string(records_written) +
            " records were written and the destination holds " + std::to_string(records_found) +
            " new ones\n";
  for (const FieldCheck& field : fields)
    if (!field.match)
      text += "Verification failed: field " + field.destination +
              " differs from what was written" +
              (field.source.empty() || field.source == field.destination
                   ? std::string()
                   : " (from source field " + field.source + ")") +
              "\n";
  text.pop_back();
  return text;
}

Verification CompareSums(const TableSums& before, const TableSums& after, const RunTally& written,
                         const std::vector<int>& map) {
  Verification result;
  result.done = true;
  result.records_written = written.records();
  result.records_found = after.records - before.records;
  static const uint64_t kNothing = HashValue(Variant::Null(), ValueClass::kText, {});
  for (size_t j = 0; j < after.fields.size(); ++j) {
    FieldCheck check;
    check.destination = after.fields[j].Name;
    // Fields are matched by name: a table that was there before keeps its own.
    uint64_t old_sum = 0;
    for (size_t k = 0; k < before.fields.size(); ++k)
      if (before.fields[k].Name == check.destination) old_sum = before.sums[k];
    uint64_t expected = static_cast<uint64_t>(written.records()) * kNothing;
    for (size_t i = 0; i < map.size() && i < written.fields().size(); ++i)
      if (map[i] == static_cast<int>(j)) {
        check.source = written.fields()[i].name;
        expected = written.fields()[i].sum;
      }
    check.match = after.sums[j] - old_sum == expected;
    result.fields.push_back(std::move(check));
  }
  return result;
}

std::vector<int> MapFields(const std::vector<std::string>& source_names, const TFieldDefs& dest,
                           bool created) {
  std::vector<std::string> dest_names;
  for (const TFieldDef& field : dest) dest_names.push_back(field.Name);
  FieldNameMapper mapper;
  // A table the run made has the source's fields in its order, names perhaps shortened.
  mapper.SetDestination(dest_names, created && dest.size() == source_names.size()
                                        ? source_names
                                        : std::vector<std::string>{});
  const TRecordBuffer names = NameBuffer(source_names);
  const TRecordBuffer values(names.size());
  std::vector<int> map = mapper.Map(names, values, false);
  map.resize(source_names.size(), -1);
  std::vector<bool> taken(dest.size(), false);
  for (int j : map)
    if (j >= 0) taken[size_t(j)] = true;
  for (size_t i = 0; i < map.size(); ++i) {
    if (map[i] >= 0) continue;
    for (size_t j = 0; j < dest.size(); ++j) {
      const std::string& name = dest_names[j];
      if (taken[j] || name.empty() || name.size() >= source_names[i].size() ||
          !EqualsIgnoringAsciiCase(source_names[i].substr(0, name.size()), name))
        continue;
      map[i] = static_cast<int>(j);
      taken[j] = true;
      break;
    }
  }
  return map;
}

Verifier::Verifier(const JobDescription& description) : description_(description) {
  if (description.destination.kind == dkCsv || description.destination.kind == dkText) {
    // A text file formats what is not text as its writer does (TTableObject).
    auto table = std::make_shared<TTableObject>();
    text_form_ = [table](const Variant& value, std::string& out) {
      table->AppendFormatted(value, out);
    };
  }
}

Verifier::~Verifier() = default;

std::unique_ptr<TTrundle> Verifier::Reader() const {
  JobDescription reading;
  reading.source = description_.destination;
  reading.source.create_database = false;
  reading.source.sql = WholeTableSql(reading.source.kind, IsFileKind(reading.source.kind)
                                                              ? reading.source.file
                                                              : reading.source.table);
  auto job = std::make_unique<TTrundle>();
  BuildJob(reading, *job);
  return job;
}

void Verifier::Attach(TTrundle& job) {
  job.OnEndsOpen = [this, &job] {
    before_ = TableSums{};
    before_error_.clear();
    // A text file made anew leaves nothing of the old one.
    const bool replaced =
        description_.if_exists == IfExists::kReplace && CanReplace(description_.destination.kind);
    if (!replaced) {
      try {
        before_ = SumTable(Reader()->Source(), text_form_);
      } catch (const std::exception& e) {
        before_error_ = e.what();
      }
    }
    job.HashValues = true;
    job.HashTextForm = text_form_;
    job.HashClasses.clear();
    if (!before_.read) return;  // a new text file: every field text
    std::vector<std::string> source_names;
    for (const TFieldDef& field : job.Source().SourceFieldDefs(nullptr))
      source_names.push_back(field.Name);
    for (int j : MapFields(source_names, before_.fields, job.destination_created()))
      job.HashClasses.push_back(j < 0 ? ValueClass::kText
                                      : ClassOfFieldType(before_.fields[size_t(j)].DataType));
  };
}

Verification Verifier::Check(const TTrundle& job) {
  Verification result;
  if (job.outcome() != TRunOutcome::kMoved) {
    result.reason = "the run did not finish";
    return result;
  }
  if (!before_error_.empty()) {
    result.reason = "the destination could not be read before the run: " + before_error_;
    return result;
  }
  TableSums after;
  try {
    after = SumTable(Reader()->Source(), text_form_);
  } catch (const std::exception& e) {
    result.reason = e.what();
    return result;
  }
  if (!after.read) {
    result.reason = "the destination could not be read back";
    return result;
  }
  std::vector<std::string> source_names;
  for (const RunTally::Field& field : job.tally().fields()) source_names.push_back(field.name);
  return CompareSums(before_, after, job.tally(),
                     MapFields(source_names, after.fields, job.destination_created()));
}

}  // namespace trundle
