#include "databases/paradox/px_values.h"

#include <cmath>
#include <cstring>

#include "engine/datetime.h"
#include "engine/errors.h"
#include "engine/log_text.h"
#include "engine/value_changes.h"

namespace trundle::paradox {
namespace {

constexpr int64_t kTwoTo53 = 1LL << 53;

// The milliseconds since midnight of a date-time's parts.
int64_t MsOfDay(const DateParts& t) {
  return ((static_cast<int64_t>(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

}  // namespace

RecordEncoder::RecordEncoder(const std::vector<PxField>& fields, std::vector<std::string> names,
                             PxTextEncoder* encoder, MbWriter* mb)
    : fields_(fields), names_(std::move(names)), encoder_(encoder), mb_(mb) {
  losses_.assign(fields_.size(), {});
  DateParts first;
  first.year = first.month = first.day = 1;
  first_moment_ = EncodeDateTime(first);
  DateParts last{9999, 12, 31, 23, 59, 59, 999};
  last_moment_ = EncodeDateTime(last);
}

void RecordEncoder::Encode(size_t i, const Variant& v, char* p, uint32_t& auto_inc) {
  const int64_t lost = Lost(i);
  EncodeField(i, v, p, auto_inc);
  // A value is stored changed once, however many ways it lost.
  if (Lost(i) != lost) CountValueChanged(names_[i]);
}

int64_t RecordEncoder::Lost(size_t i) const {
  int64_t n = 0;
  for (const int64_t count : losses_[i]) n += count;
  return n;
}

void RecordEncoder::EncodeField(size_t i, const Variant& v, char* p, uint32_t& auto_inc) {
  try {
    switch (fields_[i].code) {
      case kAlpha:
        return PutText(i, v, p);
      case kShort:
      case kLong:
      case kAutoInc:
        return PutInteger(i, v, p, auto_inc);
      case kNumber:
      case kMoney:
        return PutNumber(i, v, p);
      case kLogical:
        *p = static_cast<char>(v.ToBoolean() ? 0x81 : 0x80);
        return;
      case kDate:
      case kTime:
      case kTimestamp:
        return PutDate(i, v, p);
      case kBcd:
        return PutBcdValue(i, v, p);
      case kBytes:
        return PutBytes(i, v, p);
      default:
        return PutBlob(i, v, p);
    }
  } catch (const TrundleError& e) {
    throw TrundleError("Field " + names_[i] + ": " + e.what());
  }
}

std::string_view RecordEncoder::BytesOf(const Variant& v) {
  if (v.IsText() || v.type() == VarType::kBlob) return v.text();
  text_ = v.ToText();
  return text_;
}

void RecordEncoder::PutText(size_t i, const Variant& v, char* p) {
  const std::string_view text = BytesOf(v);
  const size_t width = static_cast<size_t>(fields_[i].size);
  bool ok = encoder_->Encode(text, encoded_);
  if (encoded_.size() > width) {
    Lose(i, kLossTooLong,
         "the value " + ValueInLog(v) + " takes " + std::to_string(encoded_.size()) +
             " bytes, and the field holds " + std::to_string(width));
    ok = encoder_->EncodeCut(text, width, encoded_);
  }
  if (!ok) ++losses_[i][kLossCodePage];
  std::memcpy(p, encoded_.data(), std::min(width, encoded_.size()));
}

void RecordEncoder::PutInteger(size_t i, const Variant& v, char* p, uint32_t& auto_inc) {
  const int64_t x = v.ToInteger();
  const bool is_short = fields_[i].code == kShort;
  const int64_t lowest = is_short ? INT16_MIN : INT32_MIN;
  const int64_t highest = is_short ? INT16_MAX : INT32_MAX;
  if (x == lowest)
    return Lose(i, kLossReserved,
                "the value " + std::to_string(x) + " is the one the field keeps for empty");
  if (x < lowest || x > highest)
    return Lose(i, kLossRange,
                "the value " + std::to_string(x) + " is outside " + std::to_string(lowest + 1) +
                    " to " + std::to_string(highest));
  if (is_short) return PutShort(p, static_cast<int16_t>(x));
  PutLong(p, static_cast<int32_t>(x));
  if (fields_[i].code == kAutoInc && x > 0 && static_cast<uint32_t>(x) > auto_inc)
    auto_inc = static_cast<uint32_t>(x);
}

void RecordEncoder::PutNumber(size_t i, const Variant& v, char* p) {
  double d;
  if (v.type() == VarType::kFloat || fields_[i].code == kNumber) {
    d = v.ToDouble();
    if (v.type() == VarType::kInteger && (v.integer() > kTwoTo53 || v.integer() < -kTwoTo53) &&
        static_cast<int64_t>(d) != v.integer())
      ++losses_[i][kLossInexact];
  } else {
    d = static_cast<double>(v.ToCurrency()) / 10000.0;
  }
  if (!std::isfinite(d)) return Lose(i, kLossRange, "the value " + ValueInLog(v) + " is not finite");
  PutDouble(p, d);
}

void RecordEncoder::PutDate(size_t i, const Variant& v, char* p) {
  const double moment = v.ToDateTime();
  if (!(moment >= first_moment_ && moment <= last_moment_))
    return Lose(i, kLossRange, "the date " + ValueInLog(v) + " is outside the years 1 to 9999");
  const DateParts t = DecodeDateTime(moment);
  const int64_t day = DaysFromCivil(t.year, t.month, t.day);
  switch (fields_[i].code) {
    case kDate:
      if (MsOfDay(t) != 0) ++losses_[i][kLossTime];
      return PutLong(p, static_cast<int32_t>(day));
    case kTime:
      if (day != EpochDayNumber()) ++losses_[i][kLossDate];
      return PutLong(p, static_cast<int32_t>(MsOfDay(t)));
    default:
      return PutDouble(p, static_cast<double>(day) * kMsPerDay + static_cast<double>(MsOfDay(t)));
  }
}

void RecordEncoder::PutBcdValue(size_t i, const Variant& v, char* p) {
  const int64_t units = v.ToCurrency();  // 1/10000
  const int decimals = fields_[i].decimals;
  uint64_t mag = units < 0 ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  int zeros = 0;  // digits after mag's last one
  if (decimals < 4) {
    uint64_t scale = 1;
    for (int k = decimals; k < 4; ++k) scale *= 10;
    const uint64_t rest = mag % scale;
    mag = mag / scale + (rest * 2 >= scale ? 1 : 0);
    if (rest != 0) ++losses_[i][kLossDecimals];
  } else {
    zeros = decimals - 4;
  }
  const std::string digits = std::to_string(mag);
  if (static_cast<int>(digits.size()) + zeros > 32)
    return Lose(i, kLossRange, "the value " + ValueInLog(v) + " has more than 32 digits");
  char digits32[32];
  std::memset(digits32, '0', sizeof digits32);
  std::memcpy(digits32 + 32 - zeros - digits.size(), digits.data(), digits.size());
  PutBcd(p, decimals, units < 0 && mag != 0, digits32);
}

void RecordEncoder::PutBytes(size_t i, const Variant& v, char* p) {
  const std::string_view bytes = BytesOf(v);
  const size_t width = static_cast<size_t>(fields_[i].size);
  if (bytes.size() > width)
    Lose(i, kLossTooLong,
         "the value takes " + std::to_string(bytes.size()) + " bytes, and the field holds " +
             std::to_string(width));
  std::memcpy(p, bytes.data(), std::min(width, bytes.size()));
}

void RecordEncoder::PutBlob(size_t i, const Variant& v, char* p) {
  const PxField& f = fields_[i];
  std::string_view bytes;
  if (f.code == kMemo) {
    if (!encoder_->Encode(BytesOf(v), encoded_)) ++losses_[i][kLossCodePage];
    bytes = encoded_;
  } else if (f.code == kGraphic) {
    // A graphic keeps 8 bytes of its own before the picture: zero, then its length.
    const std::string_view picture = BytesOf(v);
    if (picture.empty()) return;
    encoded_.assign(8, '\0');
    PutLe32(encoded_.data() + 4, static_cast<uint32_t>(picture.size()));
    encoded_.append(picture);
    bytes = encoded_;
  } else {
    bytes = BytesOf(v);
  }
  if (bytes.empty()) return;
  if (bytes.size() > 0xFFFFFFF0u)
    throw TrundleError("a value of " + std::to_string(bytes.size()) +
                       " bytes is too large for a Paradox blob");
  const size_t leader = static_cast<size_t>(f.size - kBlobTailSize);
  std::memcpy(p, bytes.data(), std::min(leader, bytes.size()));
  char* tail = p + leader;
  if (bytes.size() > leader) {
    PutLe32(tail, mb_->Put(bytes));
    PutLe16(tail + 8, mb_->mod_count());
  }
  PutLe32(tail + 4, static_cast<uint32_t>(bytes.size()));
}

void RecordEncoder::Lose(size_t i, Loss loss, const std::string& why) {
  if (refuse_lossy) throw TrundleError(why);
  ++losses_[i][loss];
}

std::string RecordEncoder::LossText(size_t i, Loss loss, int64_t n) const {
  const std::string count = CountOf(n, "value");
  const char* was = n == 1 ? " was" : " were";
  switch (loss) {
    case kLossTooLong:
      return count + was + " longer than the field's " + std::to_string(fields_[i].size) +
             " bytes and" + was + " cut";
    case kLossCodePage:
      return count + " held characters that code page " + encoder_->code_page() +
             " cannot hold; they were stored as '?'";
    case kLossReserved:
      return count + (fields_[i].code == kShort ? " -32768" : " -2147483648") +
             " cannot be stored (Paradox keeps it for an empty field) and" + was + " left empty";
    case kLossRange:
      return count + was + " outside the range of a Paradox " + TypeLetter(fields_[i].code) +
             " field and" + was + " left empty";
    case kLossInexact:
      return count + " beyond 2^53" + was + " stored as the nearest floating-point number";
    case kLossTime:
      return count + " had a time of day, which a date field does not hold; the time was dropped";
    case kLossDate:
      return count + " had a date, which a time field does not hold; the date was dropped";
    case kLossDecimals:
      return count + was + " rounded to " + std::to_string(fields_[i].decimals) + " decimals";
    case kLossCount:
      break;
  }
  return count;
}

std::vector<std::string> RecordEncoder::TakeNotes() {
  std::vector<std::string> notes;
  for (size_t i = 0; i < fields_.size(); ++i) {
    std::string line;
    for (int loss = 0; loss < kLossCount; ++loss) {
      const int64_t n = losses_[i][static_cast<size_t>(loss)];
      if (n == 0) continue;
      line += line.empty() ? "Field " + names_[i] + ": " : "; ";
      line += LossText(i, static_cast<Loss>(loss), n);
    }
    if (!line.empty()) notes.push_back(std::move(line));
    losses_[i] = {};
  }
  return notes;
}

}  // namespace trundle::paradox
