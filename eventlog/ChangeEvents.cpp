#include "eventlog/ChangeEvents.h"

#include <cstdio>

#include "eventlog/EventIds.h"
#include "lib/Hives.h"
#include "monitor/RegSnapshot.h"

namespace kw {

namespace {

struct TKindEvent {
  std::uint32_t Id;
  TEventLevel Level;
};

TKindEvent EventOf(TChangeKind kind) {
  switch (kind) {
    case TChangeKind::Added:
      return {events::kAdded, TEventLevel::Warning};
    case TChangeKind::Deleted:
      return {events::kDeleted, TEventLevel::Warning};
    case TChangeKind::Changed:
      return {events::kChanged, TEventLevel::Warning};
    case TChangeKind::NotWatched:
      return {events::kNotWatched, TEventLevel::Warning};
    case TChangeKind::WatchedAgain:
      return {events::kWatchedAgain, TEventLevel::Information};
    // A location nobody watches any more is what an intruder wants.
    case TChangeKind::Stopped:
      return {events::kStopped, TEventLevel::Error};
  }
  return {events::kChanged, TEventLevel::Warning};
}

std::u16string Widened(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::u16string ViewName(const TChangeRecord& record) {
  if (record.Where != TLocationKind::RegistryKey) return {};
  if (record.View == kKeyWow64_32Key) return u"32-bit";
  if (record.View == kKeyWow64_64Key) return u"64-bit";
  return {};
}

std::u16string Readable(const TChangeRecord& record, const std::u16string& text) {
  return record.Where == TLocationKind::RegistryKey ? ReadableData(text, record.Type) : text;
}

}  // namespace

std::string EventTime(const TLocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.Year, t.Month, t.Day,
                t.Hour, t.Minute, t.Second, t.Milliseconds);
  return text;
}

TLogEvent ChangeEvent(const TChangeRecord& record) {
  const TKindEvent kind = EventOf(record.Kind);
  const bool key = record.Where == TLocationKind::RegistryKey;
  return {kind.Id,
          kind.Level,
          {Widened(EventTime(record.Time)),
           key ? Widened(HiveToName(record.RootKey)) : std::u16string(), record.Key,
           record.Identity, Readable(record, record.OldText), Readable(record, record.NewText),
           record.Program, ViewName(record)}};
}

namespace {

const char16_t* VerdictName(TSignatureKind kind) {
  switch (kind) {
    case TSignatureKind::Signed:
      return u"signed";
    case TSignatureKind::Unsigned:
      return u"not signed";
    case TSignatureKind::Invalid:
      return u"not valid";
    case TSignatureKind::NotChecked:
      break;
  }
  return u"not checked";
}

}  // namespace

// The change's own fields where a collector finds them in its event, so the
// two are matched by time, place and name.
TLogEvent SignerEvent(const TChangeRecord& record, const TSignature& signature) {
  TLogEvent event = ChangeEvent(record);
  event.Id = events::kSigner;
  // A signature that does not verify is what a tampered program shows.
  event.Level =
      signature.Kind == TSignatureKind::Invalid ? TEventLevel::Warning : TEventLevel::Information;
  event.Strings[4].clear();
  event.Strings[5].clear();
  event.Strings.push_back(VerdictName(signature.Kind));
  event.Strings.push_back(signature.Signer);
  return event;
}

TLogEvent GuardStartedEvent(const TLocalTime& time, const std::u16string& programPath) {
  return {events::kGuardStarted, TEventLevel::Information, {Widened(EventTime(time)), programPath}};
}

TLogEvent GuardStoppedEvent(const TLocalTime& time, const std::u16string& programPath) {
  // Warning: on a guarded machine the guard ending is worth a look.
  return {events::kGuardStopped, TEventLevel::Warning, {Widened(EventTime(time)), programPath}};
}

TLogEvent EventsLostEvent(const TLocalTime& firstLost, std::uint64_t count) {
  return {events::kEventsLost,
          TEventLevel::Warning,
          {Widened(EventTime(firstLost)), Widened(std::to_string(count))}};
}

}  // namespace kw
