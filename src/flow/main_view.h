// What the install controller shows, as an observer would draw it: controls addressed by their ids, the
// page that is up and the progress bar. The window of the user interface implements it; silent and
// host-mode runs, and the tests, use the PageModel below, which only remembers.
#pragma once

#include <map>
#include <string>

namespace orvo::flow {

class MainView {
 public:
  virtual ~MainView() = default;

  virtual void SetWindowTitle(const std::string& title) = 0;
  // Shown normally and brought to the front, or hidden and kept off the taskbar.
  virtual void ShowWindow(bool visible) = 0;
  // The page operations of the window (its fixed texts and which controls belong to it); page ids of
  // controller_ids.h. Showing a page hides the one shown before.
  virtual void ShowPage(int page_id, bool uninstall) = 0;
  virtual int Page() const = 0;

  virtual void SetText(int control, const std::string& text) = 0;
  virtual std::string Text(int control) const = 0;
  virtual void Show(int control, bool shown) = 0;
  virtual void Enable(int control, bool enabled) = 0;
  virtual void SetCheck(int control, bool checked) = 0;
  virtual bool Checked(int control) const = 0;
  // The message link under the page title (a text that may hold <a> tags).
  virtual void SetMessageLink(const std::string& text) = 0;
  // Bar 1017 and its label 1019.
  virtual void SetProgress(int percent) = 0;
  virtual void Focus(int control) = 0;

  virtual bool SettingsOpen() const = 0;
  virtual void ToggleSettings() = 0;
  // The install folder line's "not enough space" mark.
  virtual void MarkShortOfSpace(bool short_of_space) = 0;
  virtual void Repaint() {}
  virtual void Minimise() {}
};

// Remembers what the controller showed; nothing is drawn.
class PageModel final : public MainView {
 public:
  struct Control {
    std::string text;
    bool shown = false;
    bool enabled = true;
    bool checked = false;
  };

  void SetWindowTitle(const std::string& title) override { title_ = title; }
  void ShowWindow(bool visible) override { visible_ = visible; }
  void ShowPage(int page_id, bool uninstall) override;
  int Page() const override { return page_; }
  void SetText(int control, const std::string& text) override { controls_[control].text = text; }
  std::string Text(int control) const override;
  void Show(int control, bool shown) override { controls_[control].shown = shown; }
  void Enable(int control, bool enabled) override { controls_[control].enabled = enabled; }
  void SetCheck(int control, bool checked) override { controls_[control].checked = checked; }
  bool Checked(int control) const override;
  void SetMessageLink(const std::string& text) override { message_link_ = text; }
  void SetProgress(int percent) override;
  void Focus(int control) override { focused_ = control; }
  bool SettingsOpen() const override { return settings_open_; }
  void ToggleSettings() override { settings_open_ = !settings_open_; }
  void MarkShortOfSpace(bool short_of_space) override { short_of_space_ = short_of_space; }

  const std::string& WindowTitle() const { return title_; }
  bool Visible() const { return visible_; }
  const std::string& MessageLink() const { return message_link_; }
  int Progress() const { return progress_; }
  int Focused() const { return focused_; }
  bool ShortOfSpace() const { return short_of_space_; }
  const Control* Find(int control) const;

 private:
  std::string title_;
  bool visible_ = false;
  int page_ = 0;
  std::map<int, Control> controls_;
  std::string message_link_;
  int progress_ = 0;
  int focused_ = 0;
  bool settings_open_ = false;
  bool short_of_space_ = false;
};

}  // namespace orvo::flow
