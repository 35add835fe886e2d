#include "monitor/PendingRecords.h"

namespace kw {

namespace {

constexpr char kTag[] = "unconfirmed changes";

// One record a line, its fields in one order for writing and reading: each
// text field goes through the overload of its own type, so a field that
// changes its string type needs no change here.
template <typename TVisit>
bool VisitFields(TChangeRecord& record, TVisit&& visit) {
  return visit.Number(record.Kind) && visit.Number(record.Where) &&
         visit.Number(record.Time.Year) && visit.Number(record.Time.Month) &&
         visit.Number(record.Time.Day) && visit.Number(record.Time.Hour) &&
         visit.Number(record.Time.Minute) && visit.Number(record.Time.Second) &&
         visit.Number(record.Time.Milliseconds) && visit.Number(record.RootKey) &&
         visit.Number(record.View) && visit.Text(record.Location) && visit.Text(record.ValueName) &&
         visit.Text(record.Identity) && visit.Text(record.IdentitySubKey) &&
         visit.Text(record.OldData) && visit.Text(record.NewData) && visit.Number(record.Type) &&
         visit.Text(record.Line) && visit.Text(record.ProgramPath) &&
         visit.Number(record.Setting) && visit.Text(record.Title) && visit.Text(record.Key) &&
         visit.Text(record.OldText) && visit.Text(record.NewText) && visit.Text(record.Program);
}

// The fields added since the first lines were written, after all the others:
// a line written before has none of them.
template <typename TVisit>
bool VisitLaterFields(TChangeRecord& record, TVisit&& visit) {
  return visit.Number(record.OldType) && visit.Number(record.SwitchHive) &&
         visit.Text(record.SwitchKey);
}

struct TWriter {
  std::string& Out;
  template <typename T>
  bool Number(const T& value) {
    AppendNumber(Out, static_cast<std::uint64_t>(value));
    return true;
  }
  template <typename T>
  bool Text(const T& text) {
    AppendField(Out, text);
    return true;
  }
};

struct TReader {
  const std::vector<std::string_view>& Fields;
  std::size_t Next = 1;  // after the tag
  template <typename T>
  bool Number(T& value) {
    std::uint64_t read = 0;
    if (Next >= Fields.size() || !ParseNumber(Fields[Next++], read)) return false;
    value = static_cast<T>(read);
    // Only what was written reads back: no value is cut to fit.
    return static_cast<std::uint64_t>(value) == read;
  }
  template <typename T>
  bool Text(T& text) {
    return Next < Fields.size() && ParseField(Fields[Next++], text);
  }
};

}  // namespace

std::string EncodePendingRecords(const std::vector<TChangeRecord>& records,
                                 const std::string& secret) {
  std::string body;
  for (const TChangeRecord& record : records) {
    body += 'R';
    TChangeRecord copy = record;
    TWriter writer{body};
    VisitFields(copy, writer);
    VisitLaterFields(copy, writer);
    body += '\n';
  }
  return EncodeFrame(kTag, body, secret);
}

TDecodeResult DecodePendingRecords(const std::string& text, const std::string& secret,
                                   std::vector<TChangeRecord>& records) {
  records.clear();
  std::string body;
  const TDecodeResult framed = DecodeFrame(text, kTag, secret, body);
  if (framed != TDecodeResult::Read) return framed;
  std::vector<TChangeRecord> read;
  std::string_view rest = body;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) return TDecodeResult::Damaged;
    const std::vector<std::string_view> fields = FieldsOf(rest.substr(0, end));
    rest.remove_prefix(end + 1);
    TReader reader{fields};
    TChangeRecord record;
    if (fields[0] != "R" || !VisitFields(record, reader) ||
        (reader.Next < fields.size() && !VisitLaterFields(record, reader)) ||
        reader.Next != fields.size()) {
      return TDecodeResult::Damaged;
    }
    read.push_back(std::move(record));
  }
  records = std::move(read);
  return TDecodeResult::Read;
}

}  // namespace kw
