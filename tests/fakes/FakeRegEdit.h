#pragma once
// A registry editor seen from outside: a key tree with incremental search,
// driven by the messages a walk sends it, and a launcher that can start it.

#include <memory>
#include <string>
#include <vector>

#include "platform/WindowFunctions.h"

namespace kw::fake {

class FakeRegEdit : public IWindowFunctions, public IProcessLauncher {
 public:
  // `nestedTree`: the tree one level below the main window, as in Wine's editor.
  explicit FakeRegEdit(bool nestedTree);

  std::vector<WindowHandle> TopLevelWindows(const std::string& className) override;
  bool IsRegistryEditor(WindowHandle window) override;
  WindowHandle FindChild(WindowHandle parent, const std::string& className) override;
  WindowHandle FindDescendant(WindowHandle parent, const std::string& className) override;
  void ShowWindow(WindowHandle window, int command) override;
  void SetForegroundWindow(WindowHandle window) override;
  void SetFocus(WindowHandle window) override;
  bool Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override;
  bool TypeCharacter(WindowHandle window, std::u16string_view character) override;
  void Sleep(std::uint32_t milliseconds) override;
  std::unique_ptr<IProcess> Start(const std::u16string& commandLine) override;

  // The selected item's path below the root, as "HKEY_CURRENT_USER\Software\...".
  std::string SelectedPath() const;
  bool SelectedIsExpanded() const;
  void Select(const std::string& path);  // expands the way there

  bool Running = true;
  bool StartFails = false;
  // A started editor's window comes up after this long (ms), never when negative.
  int WindowComesUpAfter = 0;
  // Windows of the editor's class made by other programs, above the editor's.
  std::vector<WindowHandle> Decoys;
  // The editor answers this many more messages, then stops (never when negative).
  int AnswersLeft = -1;
  std::vector<std::string> Started;  // command lines, as shown ('?' for what 936 lacks)
  std::vector<std::string> Log;      // what reached the windows, in order

 private:
  struct TNode {
    std::string Name;
    std::vector<std::unique_ptr<TNode>> Children;
    TNode* Parent = nullptr;
    bool Expanded = false;
  };
  TNode* Add(TNode& parent, const std::string& name);
  void Visible(TNode& node, std::vector<TNode*>& out) const;
  void Type(const std::string& character);
  bool WindowUp() const;
  bool Answers(WindowHandle window);

  bool NestedTree;
  TNode Root;
  TNode* Selected;
  std::string TypeAhead;
  std::uint64_t Clock = 0, LastChar = 0, StartedAt = 0;
};

}  // namespace kw::fake
