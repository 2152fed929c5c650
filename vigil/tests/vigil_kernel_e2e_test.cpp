// The real vigil binary on a real kernel's input devices: keyboards made through /dev/uinput,
// set up by the system's own udev, read by vigil as it reads USB keyboards. It needs root, uinput
// and udevd, so scripts/vm-test.sh runs it inside a throwaway virtual machine:
//   vigil_kernel_e2e_test VIGIL [gtest flags]
#include <gtest/gtest.h>
#include <linux/input.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "mock_logind.h"
#include "uinput_keyboard.h"

namespace {

using e2e::ChildProcess;
using e2e::UinputKeyboard;
using json = nlohmann::json;
using namespace std::chrono_literals;

std::string vigilPath;
// Generous: under software emulation a start of vigil alone takes a good part of a second.
constexpr auto kLineTimeout = 10s;

json status(const std::string& state) { return {{"event", "status"}, {"state", state}}; }
json modifier(const std::string& key, const std::string& state) {
  return {{"event", "modifier"}, {"key", key}, {"state", state}};
}
json down(const std::string& key) { return modifier(key, "down"); }
json up(const std::string& key) { return modifier(key, "up"); }
const json kCapability = {{"event", "capability"},
                          {"platform", "linux"},
                          {"supportsFn", true},
                          {"supportsModifierOnly", true},
                          {"requiresAccessibilityPermission", true}};

// The next line, parsed; `expected` names the keys that matter (a message is free text).
::testing::AssertionResult nextLineIs(ChildProcess& vigil, const json& expected) {
  auto line = vigil.readLine(kLineTimeout);
  if (!line) return ::testing::AssertionFailure() << "no line, expected " << expected.dump();
  json got = json::parse(*line, nullptr, false);
  if (!got.is_object()) return ::testing::AssertionFailure() << "not a JSON object: " << *line;
  for (const auto& [key, value] : expected.items()) {
    if (!got.contains(key) || got[key] != value) {
      return ::testing::AssertionFailure() << "got " << *line << ", expected " << expected.dump();
    }
  }
  return ::testing::AssertionSuccess();
}

std::unique_ptr<UinputKeyboard> makeKeyboard(const std::string& name,
                                             const std::vector<unsigned>& keys) {
  auto keyboard = std::make_unique<UinputKeyboard>(name, keys);
  EXPECT_TRUE(keyboard->created()) << "cannot create " << name << " through /dev/uinput";
  EXPECT_TRUE(e2e::eventually([&] { return e2e::setUpByUdev(keyboard->devnode()); }, 10s))
      << "udev did not make " << keyboard->devnode() << " root:input 0660";
  return keyboard;
}

// What a scenario does, one step at a time, to the keyboards and to vigil.
enum class Do {
  Press,
  Release,
  Repeat,
  Unplug,         // the keyboard goes away
  Plug,           // a new full keyboard appears, `keyboard` is its index
  Grab,           // another reader takes the keyboard for itself, as remappers do
  StopVigil,      // vigil stops reading (SIGSTOP)...
  Flood,          // ...while a burst of letters overflows the kernel's buffer for it
  ContinueVigil,  // ...and goes on (SIGCONT) after the kernel's SYN_DROPPED
  Await           // the scenario's next line comes before anything else is done
};
struct Step {
  Do action;
  size_t keyboard = 0;
  unsigned code = 0;
};
struct Scenario {
  std::string name;
  std::vector<Step> steps;
  std::vector<json> lines;  // every line vigil writes after "ready", in order
};
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

// Keyboards present before vigil starts: 0 and 1 full keyboards, 2 one with modifier keys only.
constexpr size_t kFirst = 0, kSecond = 1, kModifiersOnly = 2;

std::vector<Step> tap(size_t keyboard, unsigned code) {
  return {{Do::Press, keyboard, code}, {Do::Release, keyboard, code}};
}
std::vector<Step> steps(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const std::pair<unsigned, const char*> kTrackedKeys[] = {
    {KEY_LEFTMETA, "left_command"},  {KEY_RIGHTMETA, "right_command"},
    {KEY_LEFTALT, "left_alt"},       {KEY_RIGHTALT, "right_alt"},
    {KEY_LEFTCTRL, "left_control"},  {KEY_LEFTSHIFT, "left_shift"},
    {KEY_RIGHTSHIFT, "right_shift"}, {KEY_FN, "fn"}};

std::vector<Scenario> scenarios() {
  Scenario everyKey{"EveryTrackedKeyGivesDownThenUp", {}, {}};
  for (const auto& [code, name] : kTrackedKeys) {
    everyKey.steps = steps({everyKey.steps, tap(kFirst, code)});
    everyKey.lines.insert(everyKey.lines.end(), {down(name), up(name)});
  }
  // Where a line must not come, a tracked key follows as a marker: its lines come first. vigil
  // reads each keyboard in its own order, so where the order across keyboards matters the
  // scenario awaits a line before it goes on.
  const std::vector<Step> await = {{Do::Await}};
  const std::vector<Step> awaitTap = {{Do::Await}, {Do::Await}};
  return {
      everyKey,
      {"RightControlLettersAndAutorepeatAreSilent",
       steps({tap(kFirst, KEY_RIGHTCTRL),
              tap(kFirst, KEY_A),
              tap(kFirst, KEY_SPACE),
              {{Do::Press, kFirst, KEY_LEFTSHIFT},
               {Do::Repeat, kFirst, KEY_LEFTSHIFT},
               {Do::Repeat, kFirst, KEY_LEFTSHIFT}},
              tap(kFirst, KEY_RIGHTALT),
              {{Do::Release, kFirst, KEY_LEFTSHIFT}}}),
       {down("left_shift"), down("right_alt"), up("right_alt"), up("left_shift")}},
      {"AKeyHeldOnTwoKeyboardsIsUpAtTheLastRelease",
       steps({{{Do::Press, kFirst, KEY_LEFTSHIFT}},
              await,
              {{Do::Press, kSecond, KEY_LEFTSHIFT}},
              tap(kSecond, KEY_RIGHTALT),
              awaitTap,
              {{Do::Release, kFirst, KEY_LEFTSHIFT}},
              tap(kFirst, KEY_RIGHTALT),
              awaitTap,
              {{Do::Release, kSecond, KEY_LEFTSHIFT}}}),
       {down("left_shift"), down("right_alt"), up("right_alt"), down("right_alt"), up("right_alt"),
        up("left_shift")}},
      // The kernel sends a release of held keys as the device goes, but a reader that was not
      // running then only gets ENODEV: vigil stopped meanwhile must release the key itself.
      {"AKeyboardUnpluggedWhileHoldingAKeyReleasesIt",
       steps({{{Do::Press, kSecond, KEY_LEFTALT}},
              await,
              {{Do::StopVigil}, {Do::Unplug, kSecond}, {Do::ContinueVigil}}}),
       {down("left_alt"), up("left_alt")}},
      {"AKeyboardPluggedInAfterReadyIsHeard",
       steps({{{Do::Plug, 3}}, tap(3, KEY_RIGHTMETA)}),
       {down("right_command"), up("right_command")}},
      {"ADeviceWithModifierKeysOnlyIsHeard",
       tap(kModifiersOnly, KEY_RIGHTSHIFT),
       {down("right_shift"), up("right_shift")}},
      // A remapper grabs the physical keyboard and types through a virtual one of its own: keys
      // pressed on the grabbed one reach no other reader; the virtual one is where vigil hears
      // them.
      {"AGrabbedKeyboardIsHeardThroughTheVirtualOneThatReplacesIt",
       steps({{{Do::Grab, kFirst}, {Do::Press, kFirst, KEY_LEFTMETA}},
              tap(kSecond, KEY_RIGHTALT),
              {{Do::Press, kSecond, KEY_LEFTMETA},
               {Do::Release, kFirst, KEY_LEFTMETA},
               {Do::Release, kSecond, KEY_LEFTMETA}}}),
       {down("right_alt"), up("right_alt"), down("left_command"), up("left_command")}},
      // The key's event is lost in the overflow; the kernel's key state still has it.
      {"AfterSynDroppedAKeyPressedMeanwhileIsDown",
       steps({{{Do::StopVigil}, {Do::Press, kFirst, KEY_LEFTSHIFT}, {Do::Flood, kFirst}},
              {{Do::ContinueVigil}},
              await,
              {{Do::Release, kFirst, KEY_LEFTSHIFT}}}),
       {down("left_shift"), up("left_shift")}},
      {"AfterSynDroppedAKeyReleasedMeanwhileIsUp",
       steps({{{Do::Press, kFirst, KEY_LEFTSHIFT}},
              await,
              {{Do::StopVigil},
               {Do::Release, kFirst, KEY_LEFTSHIFT},
               {Do::Flood, kFirst},
               {Do::ContinueVigil}},
              await,
              tap(kFirst, KEY_RIGHTALT)}),
       {down("left_shift"), up("left_shift"), down("right_alt"), up("right_alt")}},
  };
}

class VigilOnKernel : public ::testing::Test {
 protected:
  void SetUp() override {
    keyboards.push_back(makeKeyboard("vigil test keyboard 0", UinputKeyboard::fullKeyboard()));
    keyboards.push_back(makeKeyboard("vigil test keyboard 1", UinputKeyboard::fullKeyboard()));
    keyboards.push_back(makeKeyboard("vigil test modifiers", UinputKeyboard::modifiersOnly()));
    // The premise of the modifiers-only case: udev does not tag that device as a keyboard.
    ASSERT_EQ(e2e::udevProperty(keyboards[kModifiersOnly]->devnode(), "ID_INPUT_KEYBOARD"), "");
    ASSERT_EQ(e2e::udevProperty(keyboards[kFirst]->devnode(), "ID_INPUT_KEYBOARD"), "1");
  }

  void TearDown() override {
    if (grab >= 0) close(grab);
    if (!vigil) return;
    vigil->kill(SIGCONT);
    vigil->kill(SIGTERM);
    EXPECT_TRUE(e2e::exitedCleanly(vigil->waitExit(kLineTimeout)));
    EXPECT_EQ(vigil->errorOutput(), "");
  }

  void startVigil(const std::vector<std::string>& prefix = {},
                  const std::vector<std::string>& env = {}) {
    auto argv = prefix;
    argv.push_back(vigilPath);
    vigil = std::make_unique<ChildProcess>(argv, env);
  }

  void perform(const Step& step, const std::vector<json>& lines) {
    auto& keyboard = step.keyboard < keyboards.size() ? keyboards[step.keyboard] : keyboards[0];
    switch (step.action) {
      case Do::Press:
      case Do::Release:
      case Do::Repeat:
        ASSERT_TRUE(keyboard->send(step.code, step.action == Do::Press     ? 1
                                              : step.action == Do::Release ? 0
                                                                           : 2));
        break;
      case Do::Unplug:
        keyboard->unplug();
        break;
      case Do::Plug:
        ASSERT_EQ(step.keyboard, keyboards.size());
        keyboards.push_back(
            makeKeyboard("vigil test keyboard plugged in", UinputKeyboard::fullKeyboard()));
        // Open is not enough: a key pressed before vigil has read the keyboard's state counts as
        // held at plug-in, and is not reported. vigil is done once it waits in poll() again.
        ASSERT_TRUE(e2e::eventually(
            [&] {
              return e2e::holdsOpen(vigil->pid(), keyboards.back()->devnode()) &&
                     e2e::waitsInPoll(vigil->pid());
            },
            10s))
            << "vigil did not open the keyboard plugged in after it started";
        break;
      case Do::Grab:
        grab = open(keyboard->devnode().c_str(), O_RDONLY | O_CLOEXEC);
        // Fails with EBUSY where another reader, vigil included, already grabbed the device.
        ASSERT_EQ(ioctl(grab, EVIOCGRAB, 1), 0) << "the keyboard was grabbed before";
        break;
      case Do::StopVigil:
        vigil->kill(SIGSTOP);
        ASSERT_TRUE(e2e::eventually([&] { return e2e::isStopped(vigil->pid()); }, 10s));
        break;
      case Do::Flood:
        // Far beyond the kernel's per-reader buffer of a keyboard (a few dozen events).
        for (int i = 0; i < 500; ++i) {
          ASSERT_TRUE(keyboard->send(KEY_A, 1));
          ASSERT_TRUE(keyboard->send(KEY_A, 0));
        }
        break;
      case Do::ContinueVigil:
        vigil->kill(SIGCONT);
        break;
      case Do::Await:
        ASSERT_LT(heard, lines.size());
        ASSERT_TRUE(nextLineIs(*vigil, lines[heard++]));
        break;
    }
  }

  std::vector<std::unique_ptr<UinputKeyboard>> keyboards;
  std::unique_ptr<ChildProcess> vigil;
  int grab = -1;
  size_t heard = 0;  // lines of the scenario read so far
};

class VigilScenario : public VigilOnKernel, public ::testing::WithParamInterface<Scenario> {};

TEST_P(VigilScenario, Run) {
  startVigil();
  ASSERT_TRUE(nextLineIs(*vigil, status("starting")));
  ASSERT_TRUE(nextLineIs(*vigil, kCapability));
  ASSERT_TRUE(nextLineIs(*vigil, status("ready")));
  // "ready" means listening: every keyboard present at the start is open by then.
  for (const auto& keyboard : keyboards) {
    ASSERT_TRUE(e2e::holdsOpen(vigil->pid(), keyboard->devnode()))
        << "vigil said ready without " << keyboard->devnode() << " open";
  }
  const auto& lines = GetParam().lines;
  for (const auto& step : GetParam().steps) ASSERT_NO_FATAL_FAILURE(perform(step, lines));
  while (heard < lines.size()) ASSERT_TRUE(nextLineIs(*vigil, lines[heard++]));
}

INSTANTIATE_TEST_SUITE_P(Keys, VigilScenario, ::testing::ValuesIn(scenarios()),
                         [](const auto& info) { return info.param.name; });

// Every keyboard of the machine reaches vigil: it hears them only while its session, as logind
// (mocked on a private bus) tells it, is in front and unlocked.
TEST_F(VigilOnKernel, KeysOfALockedOrInactiveSessionAreNotHeard) {
  e2e::MockLogind logind;
  ASSERT_TRUE(logind.running()) << "no mock logind (python3-dbusmock, dbus-daemon)";
  startVigil({}, {"DBUS_SYSTEM_BUS_ADDRESS=" + logind.address(),
                  std::string("XDG_SESSION_ID=") + e2e::MockLogind::sessionId});
  for (const char* state : {"starting", "capability", "ready"}) {
    ASSERT_TRUE(vigil->readLine(kLineTimeout)) << state;
  }
  UinputKeyboard& keyboard = *keyboards[kFirst];
  const std::pair<const char*, std::function<void(bool)>> changes[] = {
      {"locked", [&](bool away) { logind.setLocked(away); }},
      {"inactive", [&](bool away) { logind.setActive(!away); }},
  };
  for (const auto& [name, away] : changes) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(keyboard.send(KEY_LEFTSHIFT, 1));
    ASSERT_TRUE(nextLineIs(*vigil, down("left_shift")));
    away(true);
    ASSERT_TRUE(nextLineIs(*vigil, up("left_shift")));
    // Typed while away: a tap, a release, and a key still held at the return.
    for (auto [code, value] :
         {std::pair{KEY_LEFTALT, 1}, {KEY_LEFTALT, 0}, {KEY_LEFTSHIFT, 0}, {KEY_LEFTCTRL, 1}}) {
      ASSERT_TRUE(keyboard.send(code, value));
    }
    away(false);
    // vigil learns of the return on its own time: tap until it hears again.
    std::optional<std::string> first;
    for (int tries = 0; tries < 50 && !first; ++tries) {
      ASSERT_TRUE(keyboard.send(KEY_RIGHTALT, 1));
      ASSERT_TRUE(keyboard.send(KEY_RIGHTALT, 0));
      first = vigil->readLine(200ms);
    }
    ASSERT_TRUE(first) << "keys never flowed again";
    EXPECT_EQ(json::parse(*first, nullptr, false), down("right_alt"));
    EXPECT_TRUE(nextLineIs(*vigil, up("right_alt")));
    // Held across the return: its release says nothing; the marker's lines come first.
    ASSERT_TRUE(keyboard.send(KEY_LEFTCTRL, 0));
    ASSERT_TRUE(keyboard.send(KEY_RIGHTSHIFT, 1));
    ASSERT_TRUE(keyboard.send(KEY_RIGHTSHIFT, 0));
    EXPECT_TRUE(nextLineIs(*vigil, down("right_shift")));
    EXPECT_TRUE(nextLineIs(*vigil, up("right_shift")));
  }
}

// A host that stops reading for a while gets every line once it reads again: with its pipe
// full, the lines wait in vigil, and the pipe's room wakes vigil to write them.
TEST_F(VigilOnKernel, AHostThatStopsReadingGetsEveryLineWhenItReadsAgain) {
  startVigil();
  for (const char* state : {"starting", "capability", "ready"}) {
    ASSERT_TRUE(vigil->readLine(kLineTimeout)) << state;
  }
  // 108 kB of lines: past the pipe's 64 KiB, within what vigil holds without collapsing them.
  // Each batch fits the kernel's buffer for vigil, which reads it before the next one comes.
  constexpr int kPairs = 1000, kPairsPerBatch = 8;
  for (int sent = 0; sent < kPairs; sent += kPairsPerBatch) {
    for (int i = 0; i < kPairsPerBatch; ++i) {
      ASSERT_TRUE(keyboards[kFirst]->send(KEY_LEFTSHIFT, 1));
      ASSERT_TRUE(keyboards[kFirst]->send(KEY_LEFTSHIFT, 0));
    }
    ASSERT_TRUE(e2e::eventually([&] { return e2e::waitsInPoll(vigil->pid()); }, kLineTimeout));
  }
  for (int i = 0; i < kPairs; ++i) {
    ASSERT_TRUE(nextLineIs(*vigil, down("left_shift"))) << "pair " << i;
    ASSERT_TRUE(nextLineIs(*vigil, up("left_shift"))) << "pair " << i;
  }
}

// The host went away before vigil's first line: the run still ends at once, with status 0.
TEST_F(VigilOnKernel, NobodyReadingFromTheStartEndsTheRunWithinASecond) {
  ChildProcess gone({vigilPath}, {}, ChildProcess::Output::readerGone);
  EXPECT_TRUE(e2e::exitedCleanly(gone.waitExit(1s)));
  EXPECT_EQ(gone.errorOutput(), "");
}

// Without the input group's rights no keyboard opens: vigil says so, fails as the X11 backend
// does without a display, and exits 0, never "ready" with some keyboards missing.
TEST_F(VigilOnKernel, AnUnprivilegedUserGetsThePermissionLinesAndExitZero) {
  startVigil({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
  ASSERT_TRUE(nextLineIs(*vigil, status("starting")));
  ASSERT_TRUE(nextLineIs(*vigil, kCapability));
  auto permission = vigil->readLine(kLineTimeout);
  ASSERT_TRUE(permission);
  EXPECT_TRUE(nextLineIs(*vigil, json{{"event", "error"}, {"code", "failed_to_create_event_tap"}}));
  EXPECT_TRUE(nextLineIs(*vigil, status("degraded")));
  EXPECT_TRUE(vigil->readsEndOfOutput(kLineTimeout));
  EXPECT_TRUE(e2e::exitedCleanly(vigil->waitExit(kLineTimeout)));
  const json line = json::parse(*permission, nullptr, false);
  EXPECT_EQ(line.value("state", ""), "permission_required") << *permission;
  EXPECT_NE(line.value("message", "").find("input"), std::string::npos)
      << "the message should name the input group: " << *permission;
  EXPECT_EQ(vigil->errorOutput(), "");
  vigil.reset();
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s VIGIL [gtest flags]\n", argv[0]);
    return 2;
  }
  vigilPath = argv[1];
  return RUN_ALL_TESTS();
}
