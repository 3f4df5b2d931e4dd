#include "engine/field_types.h"

#include "engine/ascii.h"

namespace trundle {
namespace {}  // namespace

const char* FieldTypeName(TFieldType type) {
  static constexpr const char* kNames[kFieldTypeCount] = {
      "ftUnknown",    "ftString",     "ftSmallint", "ftInteger",     "ftWord",      "ftBoolean",
      "ftFloat",      "ftCurrency",   "ftBCD",      "ftDate",        "ftTime",      "ftDateTime",
      "ftBytes",      "ftVarBytes",   "ftAutoInc",  "ftBlob",        "ftMemo",      "ftGraphic",
      "ftFmtMemo",    "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor",    "ftFixedChar",
      "ftWideString", "ftLargeint",   "ftADT",      "ftArray",       "ftReference", "ftDataSet",
      "ftOraBlob",    "ftOraClob",    "ftVariant",  "ftInterface",   "ftIDispatch", "ftGuid"};
  return type < kFieldTypeCount ? kNames[type] : "ftUnknown";
}

int DefaultFieldSize(TFieldType type) {
  switch (type) {
    case ftString:
    case ftFixedChar:
      return 20;
    case ftBytes:
    case ftVarBytes:
      return 16;
    case ftBCD:
      return 4;
    case ftArray:
      return 10;
    default:
      return 0;
  }
}

int FindFieldIndex(const TFieldDefs& defs, std::string_view name) {
  for (size_t i = 0; i < defs.size(); ++i)
    if (defs[i].Name == name) return static_cast<int>(i);
  for (size_t i = 0; i < defs.size(); ++i)
    if (EqualsIgnoringAsciiCase(defs[i].Name, name)) return static_cast<int>(i);
  return -1;
}

}  // namespace trundle
