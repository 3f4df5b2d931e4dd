// The database adaptors' shared base: a destination's field matching (stored names read
// once per open, the names a table was created from preferred over what the kind's create
// would make) and the open's record count with its refusal of records too wide for the job.
#include "engine/trundle_record_set.h"

#include <gtest/gtest.h>

#include <climits>

#include "engine/errors.h"

namespace trundle {
namespace {

// A kind over a fixed list of stored fields, which tells how often they were read.
class FakeRecordSet : public TTrundleRecordSet {
 public:
  std::vector<std::string> stored;
  std::vector<std::string> made_from;  // what FieldsMadeFrom answers
  int stored_reads = 0;
  int made_from_asks = 0;

  using TTrundleRecordSet::ClearFilledBuffers;
  using TTrundleRecordSet::CountRecordsRead;
  using TTrundleRecordSet::FilledUpTo;
  using TTrundleRecordSet::ForgetFieldMap;
  using TTrundleRecordSet::IsDestination;
  using TTrundleRecordSet::MapFields;
  using TTrundleRecordSet::NewNamesLayout;
  using TTrundleRecordSet::SendFieldNotes;
  using TTrundleRecordSet::SetCreatedFrom;
  using TTrundleRecordSet::StoredFieldCount;

 protected:
  std::string DestinationSql() const override { return "select * from " + TableName; }
  std::vector<std::string> StoredFieldNames() override {
    ++stored_reads;
    return stored;
  }
  std::vector<std::string> FieldsMadeFrom(const TRecordBuffer& /*names*/,
                                          const std::vector<std::string>& /*stored*/) const override {
    ++const_cast<FakeRecordSet*>(this)->made_from_asks;
    return made_from;
  }
};

TRecordBuffer Buffer(const std::vector<std::string>& texts) {
  TRecordBuffer buffer(8);
  for (size_t i = 0; i < texts.size(); ++i) buffer[i] = Variant::String(texts[i]);
  return buffer;
}

std::vector<int> Mapped(FakeRecordSet& set, const std::vector<std::string>& names) {
  const std::vector<int>& map = set.MapFields(Buffer(names), Buffer(names));
  return std::vector<int>(map.begin(), map.begin() + static_cast<long>(names.size()));
}

TEST(TrundleRecordSetTest, NamesFindTheirFieldsInAnyLetterCaseAndStoredNamesAreReadOncePerOpen) {
  FakeRecordSet set;
  set.stored = {"ID", "NAME", "Town"};
  EXPECT_EQ(Mapped(set, {"name", "TOWN", "id", "extra"}), (std::vector<int>{1, 2, 0, -1}));
  EXPECT_EQ(set.StoredFieldCount(), 3u);
  // The next records match against what was read; a new open reads the table again.
  set.stored = {"Extra"};
  EXPECT_EQ(Mapped(set, {"name", "extra"}), (std::vector<int>{1, -1}));
  EXPECT_EQ(set.stored_reads, 1);
  set.ForgetFieldMap();
  EXPECT_EQ(Mapped(set, {"name", "extra"}), (std::vector<int>{-1, 0}));
  EXPECT_EQ(set.stored_reads, 2);
  EXPECT_EQ(set.StoredFieldCount(), 1u);
}

TEST(TrundleRecordSetTest, ATableCreatedHereMatchesByTheNamesItWasMadeFrom) {
  FakeRecordSet set;
  // The kind's create shortened both names; what it guesses for an existing table is
  // not asked once the run has made the table itself.
  set.stored = {"CUSTOMER_N", "CUSTOMER_1", "ROWID"};
  set.made_from = {"wrong", "guess"};
  TFieldDefs from(2);
  from[0].Name = "customer_number";
  from[1].Name = "customer_name";
  set.SetCreatedFrom(from);
  EXPECT_EQ(Mapped(set, {"Customer_Name", "customer_number"}), (std::vector<int>{1, 0}));
  EXPECT_EQ(set.made_from_asks, 0);

  // A table found in place: the kind's guess of what its fields were made from is used.
  FakeRecordSet found;
  found.stored = {"CUSTOMER_N", "CUSTOMER_1"};
  found.made_from = {"customer_number", ""};
  EXPECT_EQ(Mapped(found, {"CUSTOMER_NUMBER", "customer_name"}), (std::vector<int>{0, -1}));
  EXPECT_EQ(found.made_from_asks, 1);
  // The name without a field is logged once, with how many of its values were lost.
  std::vector<std::string> log;
  found.OnMessage = [&](const std::string& line) { log.push_back(line); };
  found.SendFieldNotes();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("customer_name"), std::string::npos) << log[0];
  log.clear();
  found.SendFieldNotes();
  EXPECT_TRUE(log.empty());
}

TEST(TrundleRecordSetTest, NamesOfOneLayoutAreMatchedOnceAndEveryOtherLayoutAgain) {
  // Two sources, each filling the job's buffers the way a ReadRecord does.
  FakeRecordSet first, second;
  TRecordBuffer names(8), values(8), elsewhere(8);
  auto read = [&](FakeRecordSet& source, const std::vector<std::string>& fields) {
    source.ClearFilledBuffers(names, values);
    for (size_t i = 0; i < fields.size(); ++i) {
      names[i] = Variant::String(fields[i]);
      values[i] = Variant::String("value");
    }
    source.FilledUpTo(static_cast<int>(fields.size()));
    return source.NamesLayout(names, values);
  };
  EXPECT_EQ(read(first, {"A", "B"}), 0u) << "a source that never said its names stay alike";
  first.NewNamesLayout();
  const uint64_t one = read(first, {"A", "B"});
  second.NewNamesLayout();
  const uint64_t two = read(second, {"B", "A"});
  first.NewNamesLayout();
  const uint64_t three = read(first, {"B", "X"});
  EXPECT_NE(one, 0u);
  EXPECT_NE(one, two);
  EXPECT_NE(three, one);
  EXPECT_NE(three, two);
  EXPECT_EQ(first.NamesLayout(elsewhere, values), 0u) << "buffers the source did not fill";

  FakeRecordSet destination;
  destination.stored = {"A", "B"};
  auto write = [&](const std::vector<std::string>& fields, uint64_t layout) {
    read(first, fields);
    destination.SetNamesFilled(static_cast<int>(fields.size()), layout);
    const std::vector<int>& map = destination.MapFields(names, values);
    return std::vector<int>(map.begin(), map.begin() + static_cast<long>(fields.size()));
  };
  EXPECT_EQ(write({"A", "B"}, one), (std::vector<int>{0, 1}));
  EXPECT_EQ(write({"A", "B"}, one), (std::vector<int>{0, 1}));
  EXPECT_EQ(write({"B", "A"}, two), (std::vector<int>{1, 0}));
  EXPECT_EQ(write({"A", "B"}, 0), (std::vector<int>{0, 1}));
  EXPECT_EQ(write({"B", "A"}, 0), (std::vector<int>{1, 0}));
  // A name without a field still has its values counted on records not looked at.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(write({"B", "X"}, three), (std::vector<int>{1, -1}));
  std::vector<std::string> log;
  destination.OnMessage = [&](const std::string& line) { log.push_back(line); };
  destination.SendFieldNotes();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("3 values were not written"), std::string::npos) << log[0];
}

TEST(TrundleRecordSetTest, TheOpenCountsRecordsAndRefusesASourceTooWideForTheJob) {
  FakeRecordSet source;
  std::vector<std::string> log;
  source.OnMessage = [&](const std::string& line) { log.push_back(line); };
  source.CountRecordsRead(int64_t{5000000000}, 3, "t");
  EXPECT_EQ(log, (std::vector<std::string>{"5000000000 records read"}));
  EXPECT_EQ(source.RecordCount, INT32_MAX);
  // Too many fields: refused with the name given, before anything is counted.
  log.clear();
  source.RecordCount = 7;
  try {
    source.CountRecordsRead(2, kRecordBufferSize + 1, "The statement q");
    FAIL() << "a record wider than the buffers was accepted";
  } catch (const TrundleError& e) {
    EXPECT_NE(std::string(e.what()).find("The statement q gives " +
                                         std::to_string(kRecordBufferSize + 1) + " fields"),
              std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(source.RecordCount, 7);
  // An empty result hands on no record, so its width does not matter.
  source.CountRecordsRead(0, kRecordBufferSize + 1, "t");
  EXPECT_EQ(source.RecordCount, 0);

  // A destination's own width is its table's affair.
  FakeRecordSet destination;
  destination.TableName = "T";
  destination.Sql = "select 1";
  destination.PrepareDestination();
  EXPECT_TRUE(destination.IsDestination());
  EXPECT_EQ(destination.Sql, "select * from T");
  EXPECT_NO_THROW(destination.CountRecordsRead(2, kRecordBufferSize + 1, "t"));
  EXPECT_EQ(destination.RecordCount, 2);
}

}  // namespace
}  // namespace trundle
