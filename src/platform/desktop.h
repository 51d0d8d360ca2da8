// The desktop services the main window's handlers need beyond files: a
// question to the user, the screen's size, and the system file browser.
#pragma once

#include <string>
#include <vector>

namespace qv {

// A rectangle of the screen in pixels.
struct ScreenRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool operator==(const ScreenRect&) const = default;
};

class Desktop {
 public:
  virtual ~Desktop() = default;
  // A message box with Yes and No; true when the user answers Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // The same, with No as the answer Enter gives: for a question whose Yes
  // risks something.
  virtual bool AskYesNoDefaultNo(const std::string& text) { return AskYesNo(text); }
  // Opens the system file browser on a folder; false when none took it.
  virtual bool OpenFolder(const std::string& folder) = 0;
  // The whole primary screen.
  virtual ScreenRect Screen() = 0;
  // The part of it that panels and task bars leave to windows.
  virtual ScreenRect AvailableArea() = 0;
};

// Without a screen: answers every question with `answer`, remembers what it
// was asked and which folders it would have opened.
class HeadlessDesktop : public Desktop {
 public:
  bool answer = true;
  ScreenRect screen{0, 0, 1920, 1080};
  ScreenRect available{0, 0, 1920, 1040};
  bool opens = true;  // whether a file browser takes the folders
  std::vector<std::string> questions, opened;

  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    return answer;
  }
  bool OpenFolder(const std::string& folder) override {
    opened.push_back(folder);
    return opens;
  }
  ScreenRect Screen() override { return screen; }
  ScreenRect AvailableArea() override { return available; }
};

}  // namespace qv
