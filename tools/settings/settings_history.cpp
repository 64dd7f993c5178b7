// The settings commands that look at changes over time: history and revert read the store's
// record of every committed change (POSIX; the Windows registry keeps none), and watch prints
// each change as it is committed.
//
// A change is told in the library's words, one line each:
//   r42 2026-12-10T09:15:02.311Z tovarine[4711] ops  Sample Server 0: port changing from 80 to 8080
// "NAME changing from OLD to NEW", "NAME deleted, was OLD", "NAME will be  NEW" for a value the
// key lacked, and "key made" / "key deleted" for a key made or deleted whole.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"
#include "library_internals.h"
#include "reg_file.h"
#include "registry_access.h"
#include "report.h"
#include "settings_command.h"
#include "settings_text.h"
#include "text_encoding.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <ctime>
#endif

namespace tovarine_tool {
namespace {

// One change as the commands print it. On Windows, where the registry records nothing, a
// change found by comparing the keys has no revision, program or user.
struct Event {
    std::optional<int64_t> revision;
    int64_t time_ms = 0;
    std::string key;
    bool whole_key = false;
    bool made = false;  // a whole key's change: made, else deleted
    std::string name;
    std::optional<Value> old_value, new_value;
    std::optional<std::string> program;
    int64_t pid = 0;
    std::string user;
    std::optional<std::string> command;
};

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar (--since), and back.
#ifndef _WIN32
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
#endif

void CivilFromDays(int64_t z, int64_t &y, int64_t &m, int64_t &d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2);
}

// "2026-12-10T09:15:02.311Z": a time in UTC with milliseconds.
std::string IsoTime(int64_t ms) {
    const int64_t day_ms = 86400000;
    int64_t days = ms / day_ms, rest = ms % day_ms;
    if (rest < 0) {
        rest += day_ms;
        --days;
    }
    int64_t y, m, d;
    CivilFromDays(days, y, m, d);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ",
                  static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                  static_cast<long long>(rest / 3600000), static_cast<long long>(rest / 60000 % 60),
                  static_cast<long long>(rest / 1000 % 60), static_cast<long long>(rest % 1000));
    return text;
}

// Whether `key` is one the command's words ask for: an instance key named whole, or an
// instance of a settings name, in either letter case. No words: every key.
bool Wanted(std::string_view key, const std::vector<std::string> &words) {
    if (words.empty()) return true;
    return std::any_of(words.begin(), words.end(), [key](const std::string &word) {
        return tovarine::text::EqualIgnoringCase(key, word) || tovarine::IsInstanceKeyOf(key, word);
    });
}

// The change in the library's words, after "KEY: ".
std::string ChangeText(const Event &event) {
    if (event.whole_key) return event.made ? "key made" : "key deleted";
    const std::string name = EscapeText(event.name) + ' ';
    if (event.old_value && event.new_value) {
        return name + "changing from " + ValueText(*event.old_value) + " to " +
               ValueText(*event.new_value);
    }
    if (event.old_value) return name + "deleted, was " + ValueText(*event.old_value);
    if (event.new_value) return name + IDS_WILL_BE_TEXT + ' ' + ValueText(*event.new_value);
    return name + "unchanged";
}

// "r42 TIME program[pid] user  KEY: CHANGE", or "TIME KEY: CHANGE" for a change without a
// revision.
std::string EventLine(const Event &event) {
    std::string line;
    if (event.revision) line = 'r' + std::to_string(*event.revision) + ' ';
    line += IsoTime(event.time_ms) + ' ';
    if (event.program) {
        line += EscapeText(*event.program) + '[' + std::to_string(event.pid) + "] " +
                (event.user.empty() ? std::string("-") : EscapeText(event.user)) + "  ";
    }
    return line + EscapeText(event.key) + ": " + ChangeText(event) + '\n';
}

// {"revision", "time", "program", "pid", "user", "command", "key", "name", "old", "new"}; for a
// key made or deleted whole, name is null and old or new is true on the side the key was there.
Json EventJson(const Event &event) {
    const auto or_null = [](const auto &optional) {
        return optional ? Json(*optional) : Json(nullptr);
    };
    const auto value_or_null = [](const std::optional<Value> &value) {
        return value ? ValueJson(*value) : Json(nullptr);
    };
    const Json old_value = event.whole_key ? (event.made ? Json(nullptr) : Json(true))
                                           : value_or_null(event.old_value);
    const Json new_value = event.whole_key ? (event.made ? Json(true) : Json(nullptr))
                                           : value_or_null(event.new_value);
    return Json{{"revision", or_null(event.revision)},
                {"time", IsoTime(event.time_ms)},
                {"program", or_null(event.program)},
                {"pid", event.program ? Json(event.pid) : Json(nullptr)},
                {"user", event.program ? Json(event.user) : Json(nullptr)},
                {"command", or_null(event.command)},
                {"key", event.key},
                {"name", event.whole_key ? Json(nullptr) : Json(event.name)},
                {"old", old_value},
                {"new", new_value}};
}

// Prints one watched change and flushes it, so that a reader of a pipe sees it at once.
void PutWatched(const Invocation &invocation, const Event &event) {
    Put(stdout, invocation.json ? DumpJson(EventJson(event)) + '\n' : EventLine(event));
    if (std::fflush(stdout) != 0) throw std::runtime_error("cannot write the output");
}

// --count N and --timeout SECONDS, checked.
void CheckWatchBounds(const SettingsRequest &request) {
    if (request.count && *request.count < 1) {
        throw UsageError("settings watch: --count takes a number of changes, at least 1");
    }
    if (request.timeout && !(std::isfinite(*request.timeout) && *request.timeout > 0)) {
        throw UsageError("settings watch: --timeout takes a number of seconds above 0");
    }
}

// The end of a watch by its time-out: exit status 1, with why.
int TimedOut(const SettingsRequest &request, int64_t seen) {
    std::string message = "tovarine: settings: the time-out came after " + std::to_string(seen);
    if (request.count) message += " of " + std::to_string(*request.count);
    message += seen == 1 && !request.count ? " change\n" : " changes\n";
    std::fputs(message.c_str(), stderr);
    return 1;
}

#ifndef _WIN32

using tovarine::registry::Change;
using tovarine::registry::StoredValue;

Event EventOf(const Change &change) {
    Event event;
    event.revision = change.revision;
    event.time_ms = change.time_ms;
    event.key = change.key;
    event.whole_key = change.whole_key;
    event.made = change.whole_key && !change.old_value;
    event.name = change.name;
    if (!change.whole_key && change.old_value) {
        event.old_value = ValueOf(change.old_value->type, change.old_value->data);
    }
    if (!change.whole_key && change.new_value) {
        event.new_value = ValueOf(change.new_value->type, change.new_value->data);
    }
    event.program = change.program;
    event.pid = change.pid;
    event.user = change.user;
    event.command = change.command;
    return event;
}

// A whole number of at most `max` from all of `text`'s digits; nullopt for anything else.
std::optional<int64_t> Digits(std::string_view text, int64_t max) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    int64_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number > max) return std::nullopt;
    return number;
}

// --since TIME as milliseconds since 1970 (UTC): a date "2026-12-01", a time
// "2026-12-01T09:30:00" (with or without fractional seconds and a final Z, UTC either way), or
// an age before now: "90s", "90m", "12h", "7d".
int64_t SinceMs(const std::string &since, int64_t now_ms) {
    const UsageError bad(
        "settings history: --since takes a date (2026-12-01), a time in UTC "
        "(2026-12-01T09:30:00Z) or an age (90s, 90m, 12h, 7d), not \"" +
        EscapeText(since) + "\"");
    if (since.size() >= 2 && since.find_first_not_of("0123456789") == since.size() - 1) {
        static const std::map<char, int64_t> kUnitMs = {
            {'s', 1000}, {'m', 60000}, {'h', 3600000}, {'d', 86400000}};
        const auto unit = kUnitMs.find(since.back());
        if (unit == kUnitMs.end()) throw bad;
        // Ages up to some 30,000 years: any longer reaches before every change all the same.
        const std::optional<int64_t> age =
            Digits(std::string_view(since).substr(0, since.size() - 1),
                   int64_t{1000000000000000} / unit->second);
        if (!age) throw bad;
        return now_ms - *age * unit->second;
    }
    const std::string_view text = since;
    const auto field = [&](size_t at, size_t size, int64_t low, int64_t high) {
        const std::optional<int64_t> value =
            at + size <= text.size() ? Digits(text.substr(at, size), high) : std::nullopt;
        if (!value || *value < low) throw bad;
        return *value;
    };
    if (text.size() < 10 || text[4] != '-' || text[7] != '-') throw bad;
    const int64_t year = field(0, 4, 1970, 9999), month = field(5, 2, 1, 12);
    static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int64_t day = field(8, 2, 1, month == 2 && !leap ? 28 : kMonthDays[month - 1]);
    int64_t ms = DaysFromCivil(year, month, day) * 86400000;
    size_t at = 10;
    if (at < text.size()) {
        if (text[at] != 'T' || text.size() < 19 || text[13] != ':' || text[16] != ':') throw bad;
        ms += field(11, 2, 0, 23) * 3600000 + field(14, 2, 0, 59) * 60000 +
              field(17, 2, 0, 59) * 1000;
        at = 19;
        if (at < text.size() && text[at] == '.') {
            size_t digits = 0;
            for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
                if (digits < 3) ms += (text[at] - '0') * (digits == 0 ? 100 : digits == 1 ? 10 : 1);
            }
            if (digits == 0 || digits > 9) throw bad;
        }
        if (at < text.size() && text[at] == 'Z') ++at;
        if (at != text.size()) throw bad;
    }
    return ms;
}

std::string RetentionText(const tovarine::registry::Retention &retention) {
    const int64_t day = 86400;
    const std::string age =
        retention.seconds % day == 0
            ? std::to_string(retention.seconds / day) +
                  (retention.seconds == day ? " day" : " days")
            : std::to_string(retention.seconds) + (retention.seconds == 1 ? " second" : " seconds");
    return "keeps the newest " + std::to_string(retention.changes) +
           (retention.changes == 1 ? " change" : " changes") + ", none older than " + age + '\n';
}

Json RetentionJson(const tovarine::registry::Retention &retention) {
    const int64_t day = 86400;
    return Json{{"changes", retention.changes},
                {"days", retention.seconds % day == 0
                             ? Json(retention.seconds / day)
                             : Json(static_cast<double>(retention.seconds) / day)}};
}

// --retain: the bound shown, or set first from "CHANGES" (days kept) or "CHANGES:DAYS".
int Retain(const Invocation &invocation, const std::string &retain) {
    tovarine::registry::Retention retention;
    LONG rc = tovarine::registry::ReadRetention(&retention);
    if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot read how much history is kept", rc);
    if (!retain.empty()) {
        const size_t colon = retain.find(':');
        const std::optional<int64_t> changes =
            Digits(std::string_view(retain).substr(0, colon), int64_t{1} << 40);
        const std::optional<int64_t> days =
            colon == std::string::npos
                ? std::optional<int64_t>(retention.seconds / 86400)
                : Digits(std::string_view(retain).substr(colon + 1), 1000000);
        if (!changes || !days || *changes < 1 || *days < 1) {
            throw UsageError(
                "settings history: --retain takes CHANGES or CHANGES:DAYS, whole "
                "numbers of at least 1, not \"" +
                EscapeText(retain) + "\"");
        }
        tovarine::registry::Retention wanted{*changes, retention.seconds};
        if (colon != std::string::npos) wanted.seconds = *days * 86400;
        rc = tovarine::registry::SetRetention(wanted);
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot set how much history is kept", rc);
        rc = tovarine::registry::ReadRetention(&retention);
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot read how much history is kept", rc);
    }
    PutJsonOrText(invocation, RetentionJson(retention), RetentionText(retention));
    return 0;
}

std::string HistoryHolds(const tovarine::registry::HistorySpan &span) {
    if (span.oldest == 0) {
        return "the history holds no change (the newest revision given is r" +
               std::to_string(span.last_given) + ")";
    }
    return "the history holds r" + std::to_string(span.oldest) + " to r" +
           std::to_string(span.newest);
}

tovarine::registry::HistorySpan ReadSpan() {
    tovarine::registry::HistorySpan span;
    const LONG rc = tovarine::registry::ReadHistorySpan(&span);
    if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot read the history", rc);
    return span;
}

// Calls ForEachChange, turning a failure into an error naming what was being done.
void EachChange(int64_t after, bool oldest_first, const std::function<bool(const Change &)> &each,
                const std::string &doing) {
    const LONG rc = tovarine::registry::ForEachChange(after, oldest_first, each);
    if (rc != ERROR_SUCCESS) throw RegistryFailure(doing, rc);
}

// A recorded value as the key's text in `encoding`: it must be text the store can hold.
std::string TextOf(const StoredValue &value, StoreEncoding encoding, const std::string &what) {
    if (value.type != REG_SZ) {
        throw std::runtime_error("settings: " + what + " was not text (type " +
                                 std::to_string(value.type) + "); nothing was written");
    }
    const auto *chars = reinterpret_cast<const char *>(value.data.data());
    const std::optional<std::string> text =
        StoreToUtf8(std::string_view(chars, strnlen(chars, value.data.size())), encoding);
    if (!text) {
        throw std::runtime_error("settings: " + what +
                                 " is not valid text in the encoding given; "
                                 "nothing was written");
    }
    return *text;
}

// The values of the key as the revert works them back: nullopt while the key is not there.
using KeyState = std::optional<std::vector<RegValue> >;

std::vector<RegValue>::iterator FindValue(std::vector<RegValue> &values, std::string_view name) {
    return std::find_if(values.begin(), values.end(), [name](const RegValue &value) {
        return tovarine::text::EqualIgnoringCase(value.name, name);
    });
}

// Undoes one recorded change of the key on `state`.
void Undo(const Change &change, KeyState &state, StoreEncoding encoding) {
    if (change.whole_key) {
        if (!change.old_value) {
            state.reset();  // made after: not there before
        } else if (!state) {
            state.emplace();  // deleted after: there before, its values come back one by one
        }
        return;
    }
    const std::optional<std::string> name = StoreToUtf8(change.name, encoding);
    const std::string what =
        "r" + std::to_string(change.revision) + "'s value " + Quote(name.value_or(change.name));
    if (!name) {
        throw std::runtime_error("settings: the name of " + what +
                                 " is not valid text in the encoding given; nothing was written");
    }
    if (!state) state.emplace();
    auto found = FindValue(*state, *name);
    if (!change.old_value) {
        if (found != state->end()) state->erase(found);
        return;
    }
    const std::string text = TextOf(*change.old_value, encoding, what);
    if (found != state->end()) {
        found->text = text;
    } else {
        // Undone newest first, values deleted one after the other come back in their order.
        state->insert(state->begin(), {*name, text, 0});
    }
}

// The one change that takes the key from `current` to `wanted`.
std::vector<KeyChange> ChangesBetween(const std::string &key, const KeyState &current,
                                      const KeyState &wanted) {
    if (!current && !wanted) return {};
    if (!wanted) {
        KeyChange change{key, true, true, {}};
        for (const RegValue &value : *current) {
            change.values.push_back({value.name, value.text, std::nullopt});
        }
        return {change};
    }
    KeyChange change{key, current.has_value(), false, {}};
    std::vector<RegValue> before = current.value_or(std::vector<RegValue>{});
    for (const RegValue &value : *wanted) {
        const auto found = FindValue(before, value.name);
        if (found == before.end()) {
            change.values.push_back({value.name, std::nullopt, value.text});
        } else if (found->text != value.text) {
            change.values.push_back({found->name, found->text, value.text});
        }
    }
    std::vector<RegValue> wanted_values = *wanted;
    for (const RegValue &value : before) {
        if (FindValue(wanted_values, value.name) == wanted_values.end()) {
            change.values.push_back({value.name, value.text, std::nullopt});
        }
    }
    if (change.exists && change.values.empty()) return {};
    return {change};
}

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

// SIGINT and SIGTERM end the watch's wait (nanosleep returns early) and then the watch.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: the sleep ends at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

#else  // _WIN32

[[noreturn]] void NoHistory() {
    throw std::runtime_error(
        "settings: the Windows registry keeps no history; 'tovarine settings watch' shows "
        "changes as they come, and 'tovarine settings export' keeps a copy to compare with");
}

// An instance key's values as the registry holds them, by name.
struct Snapshot {
    std::string key;
    std::vector<RawValue> values;
};

std::vector<Snapshot> TakeSnapshot(HKEY root, const std::vector<std::string> &words) {
    std::vector<Snapshot> keys;
    for (const std::string &name : Subkeys(root, tovarine::kSettingsRootFullName)) {
        if (!Wanted(name, words)) continue;
        Key instance;
        const LONG rc = OpenSubkey(root, name, KEY_QUERY_VALUE, instance);
        if (rc == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile: the next look finds it
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot open " + Quote(name), rc);
        keys.push_back({name, Values(instance.get(), Quote(name))});
    }
    return keys;
}

template <typename T>
const T *FindNamed(const std::vector<T> &items, std::string_view name, std::string T::*field) {
    for (const T &item : items) {
        if (tovarine::text::EqualIgnoringCase(item.*field, name)) return &item;
    }
    return nullptr;
}

// The differences between two looks at the keys, in the order the store's history records
// them: a key's values deleted before the key, a key made before its values.
std::vector<Event> Differences(const std::vector<Snapshot> &before,
                               const std::vector<Snapshot> &after) {
    std::vector<Event> events;
    const int64_t now = NowMs();
    const auto value_event = [&](const std::string &key, const std::string &name,
                                 const RawValue *old_value, const RawValue *new_value) {
        Event event;
        event.time_ms = now;
        event.key = key;
        event.name = name;
        if (old_value) event.old_value = ValueOf(old_value->type, old_value->data);
        if (new_value) event.new_value = ValueOf(new_value->type, new_value->data);
        events.push_back(std::move(event));
    };
    const auto key_event = [&](const std::string &key, bool made) {
        Event event;
        event.time_ms = now;
        event.key = key;
        event.whole_key = true;
        event.made = made;
        events.push_back(std::move(event));
    };
    for (const Snapshot &old_key : before) {
        if (FindNamed(after, old_key.key, &Snapshot::key) != nullptr) continue;
        for (const RawValue &value : old_key.values) {
            value_event(old_key.key, value.name, &value, nullptr);
        }
        key_event(old_key.key, false);
    }
    for (const Snapshot &new_key : after) {
        const Snapshot *old_key = FindNamed(before, new_key.key, &Snapshot::key);
        if (old_key == nullptr) key_event(new_key.key, true);
        for (const RawValue &value : new_key.values) {
            const RawValue *old_value =
                old_key ? FindNamed(old_key->values, value.name, &RawValue::name) : nullptr;
            if (old_value && old_value->type == value.type && old_value->data == value.data) {
                continue;
            }
            value_event(new_key.key, value.name, old_value, &value);
        }
        if (old_key == nullptr) continue;
        for (const RawValue &value : old_key->values) {
            if (FindNamed(new_key.values, value.name, &RawValue::name) == nullptr) {
                value_event(new_key.key, value.name, &value, nullptr);
            }
        }
    }
    return events;
}

HANDLE g_stop_event = nullptr;

BOOL WINAPI OnConsoleStop(DWORD kind) {
    if (kind != CTRL_C_EVENT && kind != CTRL_BREAK_EVENT && kind != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    SetEvent(g_stop_event);
    return TRUE;
}

#endif

}  // namespace

// Filtered by instance keys or settings names, since a time, at most N lines; --retain shows or
// sets how much the store keeps.
// JSON: [{"revision", "time", "program", "pid", "user", "command", "key", "name", "old",
// "new"}, ...] (old and new null where absent; for a key made or deleted whole, name null and
// old or new true); --retain: {"changes": N, "days": D}.
int RunHistory(const Invocation &invocation, const SettingsRequest &request) {
#ifdef _WIN32
    (void)invocation;
    (void)request;
    NoHistory();
#else
    if (request.limit && *request.limit < 1) {
        throw UsageError("settings history: --limit takes a number of lines, at least 1");
    }
    if (request.retain && (!request.words.empty() || !request.since.empty() || request.limit)) {
        throw UsageError("settings history: --retain takes no KEY, --since or --limit");
    }
    const std::optional<int64_t> since =
        request.since.empty() ? std::nullopt
                              : std::optional<int64_t>(SinceMs(request.since, NowMs()));
    CheckStore(Access::kRead);
    if (request.retain) return Retain(invocation, *request.retain);
    std::vector<Event> events;
    EachChange(
        0, false,
        [&](const Change &change) {
            if (!Wanted(change.key, request.words)) return true;
            if (since && change.time_ms < *since) return true;
            events.push_back(EventOf(change));
            return !request.limit || static_cast<int64_t>(events.size()) < *request.limit;
        },
        "cannot read the history");
    if (invocation.json) {
        Json json = Json::array();
        for (const Event &event : events) json.push_back(EventJson(event));
        PutJsonLine(json);
    } else {
        std::string text;
        for (const Event &event : events) {
            text += EventLine(event);
            if (text.size() > (size_t{1} << 16)) {
                Put(stdout, text);
                text.clear();
            }
        }
        Put(stdout, text);
    }
    return 0;
#endif
}

// Works back from the key's values now through every later change of it, newest first, to
// what it held right after REVISION, and writes the difference as one change list.
// JSON: as set's, {"changes": [...], "written": BOOL}.
int RunRevert(const Invocation &invocation, const SettingsRequest &request) {
#ifdef _WIN32
    (void)invocation;
    (void)request;
    NoHistory();
#else
    const std::string &name = request.words.at(0);
    CheckInstanceName(name);
    const int64_t revision = *request.to_revision;
    const std::optional<std::string> stored = Utf8ToStore(name, request.encoding);
    if (!stored) {
        throw std::runtime_error(
            "settings: the key " + Quote(name) + " cannot be written as " +
            (request.encoding == StoreEncoding::kUtf8 ? "UTF-8" : "windows-1252") +
            " text; nothing was written");
    }
    Key root;
    OpenRoot(root, KEY_READ | KEY_WRITE, Access::kWrite);
    const std::string outcome = "nothing was written";
    // The key and its later changes read until no change came between the first read and the
    // last, so that the one is the other's state.
    KeyState current, wanted;
    std::string spelling = name;  // a key made again gets the name it had
    for (int attempt = 0;; ++attempt) {
        const tovarine::registry::HistorySpan span = ReadSpan();
        const bool held = span.oldest == 0 ? revision == span.last_given
                                           : revision >= span.oldest - 1 && revision <= span.newest;
        if (revision < 0 || !held) {
            throw std::runtime_error("settings: r" + std::to_string(revision) +
                                     " is not in the history: " + HistoryHolds(span) +
                                     "; nothing was written");
        }
        std::optional<RegKey> instance = ReadInstance(root.get(), name, request.encoding, outcome);
        current.reset();
        if (instance) current.emplace(std::move(instance->values));
        std::vector<Change> later;  // the key's changes after REVISION, newest first
        EachChange(
            revision, false,
            [&](const Change &change) {
                if (tovarine::text::EqualIgnoringCase(change.key, *stored)) later.push_back(change);
                return true;
            },
            "cannot read the history; " + outcome);
        wanted = current;
        for (const Change &change : later) Undo(change, wanted, request.encoding);
        if (instance) {
            spelling = instance->name;
        } else if (!later.empty()) {
            spelling = StoreToUtf8(later.back().key, request.encoding).value_or(name);
        }
        const tovarine::registry::HistorySpan after = ReadSpan();
        if (after.last_given == span.last_given &&
            (after.oldest == 0 || revision >= after.oldest - 1)) {
            break;
        }
        if (attempt == 4) {
            throw std::runtime_error("settings: " + Quote(name) +
                                     " kept changing while its history was read; " + outcome);
        }
    }
    return ConfirmAndApply(invocation, request, root.get(),
                           ChangesBetween(spelling, current, wanted));
#endif
}

// Until interrupted (exit status 0), --count changes (0) or --timeout (1, with a line on
// standard error). On POSIX the history is polled every 100 ms; on Windows the registry's
// change notification wakes it, and the keys are compared before and after.
// JSON: one object a line, as those of the history's array (on Windows revision, program, pid,
// user and command null).
int RunWatch(const Invocation &invocation, const SettingsRequest &request) {
    CheckWatchBounds(request);
    const double timeout_s = request.timeout.value_or(0);
    // Longer than any watch runs: a time-out in years is none.
    const int64_t timeout_ms =
        request.timeout ? static_cast<int64_t>(std::min(timeout_s, 1e9) * 1000) : -1;
    int64_t seen = 0;
    const auto done = [&] { return request.count && seen >= *request.count; };
#ifdef _WIN32
    Key root;
    OpenRoot(root, KEY_READ | KEY_NOTIFY, Access::kRead);
    HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (changed == nullptr || g_stop_event == nullptr) {
        throw std::runtime_error("settings: cannot make an event to wait on");
    }
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
    const auto notify = [&] {
        const LONG rc = RegNotifyChangeKeyValue(
            root.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE);
        if (rc != ERROR_SUCCESS) {
            throw RegistryFailure(std::string("cannot watch ") + tovarine::kSettingsRootFullName,
                                  rc);
        }
    };
    notify();
    std::vector<Snapshot> before = TakeSnapshot(root.get(), request.words);
    const ULONGLONG start = GetTickCount64();
    while (!done()) {
        DWORD wait = INFINITE;
        if (timeout_ms >= 0) {
            const ULONGLONG spent = GetTickCount64() - start;
            if (spent >= static_cast<ULONGLONG>(timeout_ms)) return TimedOut(request, seen);
            wait = static_cast<DWORD>(
                std::min<ULONGLONG>(static_cast<ULONGLONG>(timeout_ms) - spent, 0xfffffffe));
        }
        const HANDLE events[] = {g_stop_event, changed};
        const DWORD woke = WaitForMultipleObjects(2, events, FALSE, wait);
        if (woke == WAIT_OBJECT_0) return 0;
        if (woke == WAIT_TIMEOUT) continue;
        if (woke != WAIT_OBJECT_0 + 1)
            throw std::runtime_error("settings: cannot wait for changes");
        notify();  // again before looking, so that no later change goes unreported
        std::vector<Snapshot> after = TakeSnapshot(root.get(), request.words);
        for (const Event &event : Differences(before, after)) {
            if (done()) break;
            PutWatched(invocation, event);
            ++seen;
        }
        before = std::move(after);
    }
    return 0;
#else
    CheckStore(Access::kRead);
    CatchStopSignals();
    int64_t last = ReadSpan().last_given;
    const int64_t start = MonotonicMs();
    std::vector<Event> events;
    while (!done()) {
        // Printed once the store's reading is over: a failed write ends the watch outside it.
        events.clear();
        EachChange(
            last, true,
            [&](const Change &change) {
                last = change.revision;
                if (Wanted(change.key, request.words)) events.push_back(EventOf(change));
                return !request.count ||
                       seen + static_cast<int64_t>(events.size()) < *request.count;
            },
            "cannot read the history");
        for (const Event &event : events) {
            PutWatched(invocation, event);
            ++seen;
        }
        if (done() || g_stop) break;
        int64_t nap_ms = 100;
        if (timeout_ms >= 0) {
            const int64_t left = timeout_ms - (MonotonicMs() - start);
            if (left <= 0) return TimedOut(request, seen);
            nap_ms = std::min(nap_ms, left);
        }
        const timespec nap{static_cast<time_t>(nap_ms / 1000),
                           static_cast<long>(nap_ms % 1000) * 1000000};
        nanosleep(&nap, nullptr);  // a stop signal ends it early
        if (g_stop) break;
    }
    return 0;
#endif
}

}  // namespace tovarine_tool
