#include "tests/fakes/FakeRegEdit.h"

#include <algorithm>

#include "tests/fakes/FakeRegistryText.h"

namespace kw::fake {

namespace {
constexpr WindowHandle kEditor = 0x100, kFrame = 0x101, kTree = 0x102;
constexpr std::uint64_t kTypeAheadReset = 450;  // ms, as Wine's tree

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool StartsWith(const std::string& name, const std::string& prefix) {
  if (prefix.size() > name.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Upper(name[i]) != Upper(prefix[i])) return false;
  }
  return true;
}

class TFakeProcess : public IProcess {
 public:
  std::uint32_t Wait() override { return 0; }
  std::uint32_t ExitCode() override { return 0; }
  bool WaitForInputIdle(std::uint32_t) override { return true; }
  std::string LastErrorText() override { return ""; }
};
}  // namespace

FakeRegEdit::FakeRegEdit(bool nestedTree) : NestedTree(nestedTree), Selected(&Root) {
  Root.Name = "\xCE\xD2\xB5\xC4\xB5\xE7\xC4\xD4";  // 我的电脑
  for (const char* hive : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                           "HKEY_USERS", "HKEY_CURRENT_CONFIG"}) {
    TNode* h = Add(Root, hive);
    TNode* cp = Add(*h, "Control Panel");
    Add(*cp, "Desktop");
    TNode* software = Add(*h, "Software");
    Add(*software, "Classes");
    Add(*software, "MicroVision");
    TNode* microsoft = Add(*software, "Microsoft");
    Add(*microsoft, "Wine");
    TNode* windows = Add(*microsoft, "Windows");
    TNode* version = Add(*windows, "CurrentVersion");
    Add(*version, "Explorer");
    Add(*version, "Run");
    Add(*version, "RunOnce");
    Add(*version, "RunOnceEx");
    Add(*Add(*software, "Wow6432Node"), "Microsoft");
    Add(*software,
        "\x95\x5C"
        "Vendor");  // a name whose first character's second byte is 0x5C
  }
}

FakeRegEdit::TNode* FakeRegEdit::Add(TNode& parent, const std::string& name) {
  parent.Children.push_back(std::make_unique<TNode>());
  TNode* node = parent.Children.back().get();
  node->Name = name;
  node->Parent = &parent;
  return node;
}

bool FakeRegEdit::WindowUp() const {
  return Running && WindowComesUpAfter >= 0 &&
         Clock - StartedAt >= static_cast<std::uint64_t>(WindowComesUpAfter);
}

std::vector<WindowHandle> FakeRegEdit::TopLevelWindows(const std::string& className) {
  if (className != "RegEdit_RegEdit") return {};
  std::vector<WindowHandle> windows = Decoys;
  if (WindowUp()) windows.push_back(kEditor);
  return windows;
}

bool FakeRegEdit::IsRegistryEditor(WindowHandle window) {
  return window == kEditor;
}

WindowHandle FakeRegEdit::FindChild(WindowHandle parent, const std::string& className) {
  if (!WindowUp() || parent != kEditor || className != "SysTreeView32") return 0;
  return NestedTree ? 0 : kTree;
}

WindowHandle FakeRegEdit::FindDescendant(WindowHandle parent, const std::string& className) {
  return WindowUp() && parent == kEditor && className == "SysTreeView32" ? kTree : 0;
}

bool FakeRegEdit::Answers(WindowHandle window) {
  if (std::find(Decoys.begin(), Decoys.end(), window) != Decoys.end()) {
    Log.push_back("decoy " + std::to_string(window));
    return false;  // its thread never answers
  }
  if (!WindowUp() && (window == kEditor || window == kTree)) return false;  // gone
  if (window != kTree || AnswersLeft < 0) return true;
  if (AnswersLeft == 0) return false;
  --AnswersLeft;
  return true;
}

void FakeRegEdit::ShowWindow(WindowHandle window, int command) {
  Log.push_back("show " + std::to_string(window) + " " + std::to_string(command));
}

void FakeRegEdit::SetForegroundWindow(WindowHandle window) {
  Log.push_back("foreground " + std::to_string(window));
}

void FakeRegEdit::SetFocus(WindowHandle window) {
  Log.push_back("focus " + std::to_string(window));
}

void FakeRegEdit::Sleep(std::uint32_t milliseconds) {
  Clock += milliseconds;
  Log.push_back("sleep " + std::to_string(milliseconds));
}

std::unique_ptr<IProcess> FakeRegEdit::Start(const std::u16string& commandLine) {
  Started.push_back(FakeRegistryText::Narrow(commandLine));
  if (StartFails) return nullptr;
  Running = true;
  StartedAt = Clock;
  return std::make_unique<TFakeProcess>();
}

bool FakeRegEdit::TypeCharacter(WindowHandle window, std::u16string_view exact) {
  const std::string character = FakeRegistryText::Narrow(exact);
  std::string entry = "char";
  for (unsigned char byte : character) entry += " " + std::to_string(byte);
  Log.push_back(entry);
  if (!Answers(window)) return false;
  if (window == kTree && WindowUp()) Type(character);
  return true;
}

bool FakeRegEdit::Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                       std::intptr_t lParam) {
  Log.push_back(message == kWmChar
                    ? "raw char " + std::to_string(wParam) + " " + std::to_string(lParam)
                    : "key " + std::to_string(wParam));
  if (!Answers(window)) return false;
  if (window != kTree) return true;
  if (message == kWmChar) return true;  // a character is typed, never sent as a raw byte
  if (message != kWmKeyDown) return true;
  if (wParam == kVkLeft) {
    if (Selected->Expanded) {
      Selected->Expanded = false;
    } else if (Selected->Parent) {
      Selected = Selected->Parent;
    }
  } else if (wParam == kVkRight && !Selected->Children.empty()) {
    if (!Selected->Expanded) {
      Selected->Expanded = true;
    } else {
      Selected = Selected->Children.front().get();
    }
  }
  return true;
}

void FakeRegEdit::Visible(TNode& node, std::vector<TNode*>& out) const {
  out.push_back(&node);
  if (!node.Expanded) return;
  for (auto& child : node.Children) Visible(*child, out);
}

void FakeRegEdit::Type(const std::string& character) {
  if (Clock - LastChar >= kTypeAheadReset) TypeAhead.clear();
  LastChar = Clock;
  TypeAhead += character;
  std::vector<TNode*> items;
  Visible(Root, items);
  const std::size_t at = std::find(items.begin(), items.end(), Selected) - items.begin();
  // A new search starts after the selection; a longer prefix may stay on it.
  const std::size_t first = TypeAhead.size() == 1 ? at + 1 : at;
  for (std::size_t k = 0; k < items.size(); ++k) {
    TNode* candidate = items[(first + k) % items.size()];
    if (StartsWith(candidate->Name, TypeAhead)) {
      Selected = candidate;
      return;
    }
  }
}

std::string FakeRegEdit::SelectedPath() const {
  std::string path;
  for (const TNode* n = Selected; n && n->Parent; n = n->Parent) {
    path = path.empty() ? n->Name : n->Name + "\\" + path;
  }
  return path;
}

bool FakeRegEdit::SelectedIsExpanded() const {
  return Selected->Expanded;
}

void FakeRegEdit::Select(const std::string& path) {
  TNode* node = &Root;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string name = path.substr(start, end - start);
    node->Expanded = true;
    for (auto& child : node->Children) {
      if (child->Name == name) node = child.get();
    }
    start = end + 1;
  }
  Selected = node;
}

}  // namespace kw::fake
