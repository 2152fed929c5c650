// Fuzzes vigil's modifier tracking on the fake platform: any sequence of Quartz tap notifications
// through their decoding (flags changed, key down and up, both tap-disabled kinds, types no one
// handles) with any key codes and flags, and the source lost. The lines the platform recorded are
// parsed back and checked against the set of keys the monitor says are down. The same lines also go
// through the bounded outbox the backends write with, to a host that reads a few bytes now and
// then: however the outbox collapsed them, the host's view must hold up and end in the monitor's.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "fake_monitor_platform.h"
#include "hotkey_monitor.h"
#include "line_outbox.h"
#include "quartz_keys.h"

namespace {

using namespace vigil;
namespace flag = QuartzFlag;
namespace type = QuartzEventType;

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Every flag bit the monitor could look at, for building flags bit by bit.
constexpr std::uint64_t kBits[] = {
    flag::shift,        flag::control,      flag::alternate,     flag::command,
    flag::secondaryFn,  flag::leftControl,  flag::leftShift,     flag::rightShift,
    flag::leftCommand,  flag::rightCommand, flag::leftAlternate, flag::rightAlternate,
    flag::rightControl,
};

struct ParsedLine {
  std::string event, key, state, message;
};

ParsedLine parse(const std::string& line) {
  const auto json = nlohmann::ordered_json::parse(line, nullptr, false);
  check(json.is_object() && json.contains("event") && json["event"].is_string(),
        "every line is a JSON object with an \"event\" string");
  check(json.dump() == line, "lines are compact, keys in the written order");
  ParsedLine parsed;
  parsed.event = json["event"].get<std::string>();
  const auto text = [&](const char* key) {
    return json.contains(key) && json[key].is_string() ? json[key].get<std::string>() : "";
  };
  parsed.key = text("key");
  parsed.state = text("state");
  parsed.message = text("message");
  return parsed;
}

class Session {
 public:
  Session(bool sourceCanBeOpened, bool sourceDelivers, bool trusted) : monitor_(platform_, false) {
    platform_.sourceCanBeOpened = sourceCanBeOpened;
    platform_.sourceDelivers = sourceDelivers;
    platform_.trusted = trusted;
    monitor_.start();
    for (const std::string& line : platform_.takeLines()) {
      outbox_.push(line);
      check(parse(line).event != "modifier", "no key is reported before one is pressed");
    }
  }

  void step(FuzzedDataProvider& provider) {
    act(provider);
    if (provider.ConsumeBool()) hostReads(provider.ConsumeIntegralInRange<std::size_t>(1, 200));
  }

  // The host reads everything left: it must know every key's true state.
  void finish() {
    hostReads(SIZE_MAX);
    check(outbox_.empty() && received_.empty(), "the host gets every line whole");
    check(hostDown_ == monitor_.modifierKeysDown(),
          "a host that reads again arrives at every key's true state");
  }

 private:
  // A host whose pipe takes at most `bytes` now; the lines it completes are checked as it reads.
  void hostReads(std::size_t bytes) {
    flushOutbox(outbox_, [&](std::string_view pending) -> SinkWrite {
      const std::size_t n = std::min(pending.size(), bytes);
      received_.append(pending.substr(0, n));
      bytes -= n;
      return {n, false};
    });
    for (std::size_t end; (end = received_.find('\n')) != std::string::npos;) {
      const ParsedLine p = parse(received_.substr(0, end));
      received_.erase(0, end + 1);
      if (p.event == "modifier") {
        check(p.state == "down" ? hostDown_.insert(p.key).second : hostDown_.erase(p.key) == 1,
              "through the outbox too, each key's lines alternate from \"down\"");
      } else if (p.state == "ready" || p.state == "degraded") {
        check(hostDown_.empty(), "through the outbox too, no key is down at a tap's new state");
      }
    }
  }

  void act(FuzzedDataProvider& provider) {
    const auto kind = provider.ConsumeIntegralInRange<int>(0, 11);
    if (kind <= 4) {
      flagsChanged(keyCode(provider), flags(provider));
    } else if (kind == 5 || kind == 6) {
      // Key down and key up pass by; so does every type no one handles.
      unhandled(kind == 5 ? type::keyDown : type::keyUp, keyCode(provider), flags(provider));
    } else if (kind == 7) {
      const auto other = provider.ConsumeIntegral<std::uint32_t>();
      if (other == type::flagsChanged || other == type::tapDisabledByTimeout ||
          other == type::tapDisabledByUserInput) {
        return;
      }
      unhandled(other, keyCode(provider), flags(provider));
    } else if (kind == 8 || kind == 9) {
      released(kind == 8 ? type::tapDisabledByTimeout : type::tapDisabledByUserInput);
    } else if (kind == 10) {
      released(std::nullopt);
    } else {
      // A tap callback with no monitor behind it does nothing.
      const std::set<std::string> before = monitor_.modifierKeysDown();
      deliverQuartzEvent(nullptr, type::flagsChanged, keyCode(provider), ~0ULL);
      check(read().empty() && monitor_.modifierKeysDown() == before,
            "a callback without its monitor writes nothing");
    }
  }

  static std::int64_t keyCode(FuzzedDataProvider& provider) {
    // Mostly the neighbourhood of the table (57 and 62 are untracked), now and then anything.
    if (provider.ConsumeBool()) return provider.ConsumeIntegralInRange<std::int64_t>(53, 64);
    return provider.ConsumeIntegral<std::int64_t>();
  }
  static std::uint64_t flags(FuzzedDataProvider& provider) {
    if (provider.ConsumeIntegralInRange<int>(0, 7) == 0) {
      return provider.ConsumeIntegral<std::uint64_t>();
    }
    const auto chosen = provider.ConsumeIntegral<std::uint16_t>();
    std::uint64_t flags = 0;
    for (std::size_t i = 0; i < std::size(kBits); ++i) {
      if (chosen & (1u << i)) flags |= kBits[i];
    }
    return flags;
  }

  void flagsChanged(std::int64_t keyCode, std::uint64_t flags) {
    deliverQuartzEvent(&monitor_, type::flagsChanged, keyCode, flags);
    const std::vector<ParsedLine> lines = read();
    const QuartzKey* key = findQuartzKey(keyCode);
    if (key == nullptr) {
      check(lines.empty(), "a key code outside the table writes nothing");
      return;
    }
    const std::string name(modifierKeyName(key->key));
    check(lines.size() <= 1, "one flags change writes at most one line");
    if (!lines.empty()) {
      check(lines[0].event == "modifier" && lines[0].key == name,
            "a flags change reports only its own key");
    }
    const bool down = monitor_.modifierKeysDown().count(name) > 0;
    if ((flags & (key->flag | key->kindSides)) == 0) {
      check(!down, "flags with no bit of the key's kind leave it up");
    }
    if ((flags & key->flag) != 0 && (key->sideFlag == 0 || (flags & key->sideFlag) != 0)) {
      check(down, "flags with the kind's bit and the key's own bit hold it down");
    }
    // The same notification again is a repeat: nothing new to say.
    deliverQuartzEvent(&monitor_, type::flagsChanged, keyCode, flags);
    check(read().empty(), "a repeated flags change writes nothing");
  }

  void unhandled(std::uint32_t other, std::int64_t keyCode, std::uint64_t flags) {
    const std::set<std::string> before = monitor_.modifierKeysDown();
    deliverQuartzEvent(&monitor_, other, keyCode, flags);
    check(read().empty() && monitor_.modifierKeysDown() == before,
          "key down, key up and unknown types write nothing and change nothing");
  }

  // A tap-disabled notice (with its type), or the tap lost for good (none).
  void released(std::optional<std::uint32_t> disabledType) {
    const std::set<std::string> held = monitor_.modifierKeysDown();
    const bool hadTap = monitor_.holdsKeySource();
    if (disabledType) {
      deliverQuartzEvent(&monitor_, *disabledType, 0, 0);
    } else {
      monitor_.listeningLost("X server connection lost.");
    }
    const std::vector<ParsedLine> lines = read();
    check(monitor_.modifierKeysDown().empty(), "nothing is held after the tap stops");
    check(lines.size() == held.size() + 1, "one \"up\" per held key, then one status line");
    std::set<std::string> ups;
    for (std::size_t i = 0; i < held.size(); ++i) {
      check(lines[i].event == "modifier" && lines[i].state == "up", "the releases come first");
      ups.insert(lines[i].key);
    }
    check(ups == held, "every held key, and only those, is reported up first");
    const ParsedLine& status = lines.back();
    check(status.event == "status", "a status line follows the releases");
    const bool reenabled = disabledType && hadTap;
    check(status.state == (reenabled ? "ready" : "degraded"),
          "\"ready\" after a re-enabled tap, \"degraded\" without one");
  }

  // The lines written since the last read, parsed, with the per-key order checked: "down" only
  // from up, "up" only from down, and the set of held keys the same as the lines say.
  std::vector<ParsedLine> read() {
    std::vector<ParsedLine> parsed;
    for (const std::string& line : platform_.takeLines()) {
      outbox_.push(line);
      check(outbox_.bytes() <= kOutboxBound + 1024, "the outbox stays near its bound");
      ParsedLine p = parse(line);
      if (p.event == "modifier") {
        bool known = false;
        for (std::size_t k = 0; k < kModifierKeyCount; ++k) {
          known = known || modifierKeyName(static_cast<ModifierKey>(k)) == p.key;
        }
        check(known, "only tracked keys are reported");
        if (p.state == "down") {
          check(down_.insert(p.key).second, "a \"down\" follows nothing or an \"up\"");
        } else {
          check(p.state == "up", "a key's state is \"down\" or \"up\"");
          check(down_.erase(p.key) == 1, "every \"up\" follows a \"down\" for that key");
        }
      }
      parsed.push_back(std::move(p));
    }
    check(monitor_.modifierKeysDown() == down_,
          "a key is held exactly when its last line was \"down\"");
    return parsed;
  }

  static constexpr std::size_t kOutboxBound = 512;  // small, so that it collapses often

  FakeMonitorPlatform platform_;
  HotkeyMonitor monitor_;
  std::set<std::string> down_;  // keys whose last line was "down"
  LineOutbox outbox_{kOutboxBound};
  std::string received_;            // bytes the host has read, up to its next line feed
  std::set<std::string> hostDown_;  // keys whose last line the host read was "down"
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const auto setup = provider.ConsumeIntegral<std::uint8_t>();
  // Mostly a working tap; sometimes none (then every notice ends "degraded").
  Session session((setup & 7) != 0, (setup & 8) == 0 || (setup & 16) == 0, (setup & 32) == 0);
  while (provider.remaining_bytes() > 0) session.step(provider);
  session.finish();
  return 0;
}
