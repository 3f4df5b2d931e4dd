#include "engine/trundle_unknown.h"

#include <atomic>
#include <string>

namespace trundle {

bool TTrundleUnknown::OpenTable() {
  SendMessage("Source or destination not set");
  RecordCount = 0;
  return false;
}

void TTrundleUnknown::PrepareDestination() {}

void TTrundleUnknown::SaveTable() { SendMessage("Destination not set"); }

TDataKind TTrundleUnknown::GetKind() const { return dkUnknown; }

bool TTrundleUnknown::CreateTable(TTrundleUnknown& /*source*/) {
  SendMessage("Destination not set");
  return false;
}

bool TTrundleUnknown::ReadRecord(TRecordBuffer& names, TRecordBuffer& values) {
  ClearBuffers(names, values);
  return false;
}

bool TTrundleUnknown::WriteRecord(const TRecordBuffer& /*names*/, const TRecordBuffer& /*values*/) {
  SendMessage("Destination not set");
  return false;
}

void TTrundleUnknown::StartTransaction() {}

void TTrundleUnknown::Commit() {}

void TTrundleUnknown::Rollback() {}

bool TTrundleUnknown::RollsBackOpenBatch() const { return false; }

bool TTrundleUnknown::MayUndoBatch() const { return false; }

std::string TTrundleUnknown::WhatAStopLeaves(int64_t records_moved) const {
  return "The destination " + TableName + " keeps the " + std::to_string(records_moved) +
         " records moved before the stop";
}

TFieldDefs TTrundleUnknown::SourceFieldDefs(const TextLength& /*measure_widths*/) { return {}; }

TIndexDefs TTrundleUnknown::SourceIndexDefs() { return {}; }

bool TTrundleUnknown::DescribeNewTable(TTrundleUnknown& /*source*/, TNewTable& /*out*/) {
  return false;
}

void TTrundleUnknown::ReportReadError(const std::string& message) {
  read_error_ = message;
  SendMessage(message);
}

void TTrundleUnknown::SendMessage(const std::string& message) const {
  if (OnMessage) OnMessage(message);
}

void TTrundleUnknown::ClearBuffers(TRecordBuffer& names, TRecordBuffer& values) {
  // Names decides the range, as the job passes both with the same highest index.
  for (size_t i = 0; i < names.size(); ++i) {
    names[i].Clear();
    if (i < values.size()) values[i].Clear();
  }
}

void TTrundleUnknown::ClearFilledBuffers(TRecordBuffer& names, TRecordBuffer& values) {
  if (filled_ < 0 || filled_buffer_ != values.data() || values.size() < names.size()) {
    ClearBuffers(names, values);
  } else {
    for (int i = 0; i < filled_ && i < static_cast<int>(names.size()); ++i) {
      names[i].Clear();
      values[i].Clear();
    }
  }
  filled_buffer_ = values.data();
  filled_names_ = names.data();
  filled_ = 0;
}

uint64_t TTrundleUnknown::NamesLayout(const TRecordBuffer& names,
                                      const TRecordBuffer& values) const {
  return FilledNames(names, values) >= 0 ? layout_ : 0;
}

void TTrundleUnknown::NewNamesLayout() {
  // Layouts are told apart across every adaptor of the process: a destination may see
  // a source opened again (a whole database's next table) or another source.
  static std::atomic<uint64_t> last{0};
  layout_ = ++last;
}

int TTrundleUnknown::FilledNames(const TRecordBuffer& names, const TRecordBuffer& values) const {
  if (filled_ < 0 || filled_buffer_ != values.data() || filled_names_ != names.data()) return -1;
  return filled_;
}

}  // namespace trundle
