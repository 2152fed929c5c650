#include "uinput_keyboard.h"

#include <grp.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace e2e {

UinputKeyboard::UinputKeyboard(const std::string& name, const std::vector<unsigned>& keys) {
  device_ = libevdev_new();
  libevdev_set_name(device_, name.c_str());
  libevdev_set_id_bustype(device_, BUS_USB);
  libevdev_set_id_vendor(device_, 0x1209);
  libevdev_set_id_product(device_, 0x0001);
  libevdev_enable_event_type(device_, EV_KEY);
  for (unsigned code : keys) libevdev_enable_event_code(device_, EV_KEY, code, nullptr);
  libevdev_enable_event_type(device_, EV_SYN);
  if (libevdev_uinput_create_from_device(device_, LIBEVDEV_UINPUT_OPEN_MANAGED, &uinput_) != 0) {
    uinput_ = nullptr;
    return;
  }
  if (const char* node = libevdev_uinput_get_devnode(uinput_)) devnode_ = node;
}

UinputKeyboard::~UinputKeyboard() {
  unplug();
  libevdev_free(device_);
}

std::vector<unsigned> UinputKeyboard::fullKeyboard() {
  std::vector<unsigned> keys;
  for (unsigned code = KEY_ESC; code <= KEY_COMPOSE; ++code) keys.push_back(code);
  keys.push_back(KEY_FN);
  return keys;
}

std::vector<unsigned> UinputKeyboard::modifiersOnly() {
  return {KEY_LEFTCTRL, KEY_RIGHTCTRL, KEY_LEFTSHIFT, KEY_RIGHTSHIFT,
          KEY_LEFTALT,  KEY_RIGHTALT,  KEY_LEFTMETA,  KEY_RIGHTMETA};
}

bool UinputKeyboard::send(unsigned code, int value) {
  return uinput_ && libevdev_uinput_write_event(uinput_, EV_KEY, code, value) == 0 &&
         libevdev_uinput_write_event(uinput_, EV_SYN, SYN_REPORT, 0) == 0;
}

void UinputKeyboard::unplug() {
  if (uinput_) libevdev_uinput_destroy(uinput_);
  uinput_ = nullptr;
  devnode_.clear();
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

namespace {

std::string udevDatabaseEntry(const std::string& devnode) {
  struct stat node;
  if (stat(devnode.c_str(), &node) != 0) return {};
  return "/run/udev/data/c" + std::to_string(major(node.st_rdev)) + ":" +
         std::to_string(minor(node.st_rdev));
}

}  // namespace

bool setUpByUdev(const std::string& devnode) {
  struct stat node;
  const group* input = getgrnam("input");
  return input && stat(devnode.c_str(), &node) == 0 && node.st_uid == 0 &&
         node.st_gid == input->gr_gid && (node.st_mode & 07777) == 0660 &&
         std::filesystem::exists(udevDatabaseEntry(devnode));
}

std::string udevProperty(const std::string& devnode, const std::string& name) {
  std::ifstream entry(udevDatabaseEntry(devnode));
  const std::string prefix = "E:" + name + "=";
  for (std::string line; std::getline(entry, line);) {
    if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
  }
  return {};
}

bool holdsOpen(pid_t pid, const std::string& path) {
  std::error_code error;
  const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& fd : std::filesystem::directory_iterator(fds, error)) {
    if (std::filesystem::read_symlink(fd.path(), error) == path) return true;
  }
  return false;
}

namespace {

// The process's state letter from /proc/PID/stat ('R', 'S', 'T', …), or 0.
char processState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), {});
  const auto end = all.rfind(')');
  return end != std::string::npos && end + 2 < all.size() ? all[end + 2] : 0;
}

}  // namespace

bool isStopped(pid_t pid) { return processState(pid) == 'T'; }

bool waitsInPoll(pid_t pid) {
  if (processState(pid) != 'S') return false;
  std::ifstream file("/proc/" + std::to_string(pid) + "/wchan");
  std::string wchan;
  std::getline(file, wchan);
  return wchan.empty() || wchan == "0" || wchan.find("poll") != std::string::npos;
}

}  // namespace e2e
