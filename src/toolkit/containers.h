#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "toolkit/view.h"

namespace toolkit {

// Shows its children's views side by side (a sidebar and a detail pane).
class SplitViewController : public ViewController {
 public:
  void addChild(std::shared_ptr<ViewController> child);
  const std::vector<std::shared_ptr<ViewController>>& children() const { return children_; }
  // Null when out of range.
  ViewController* child(std::size_t index) const;

 protected:
  void loadView() override;
  std::vector<ViewController*> visibleChildren() const override;

 private:
  std::vector<std::shared_ptr<ViewController>> children_;
};

// Shows one of its children's views at a time.
class TabViewController : public ViewController {
 public:
  void addChild(std::shared_ptr<ViewController> child);
  const std::vector<std::shared_ptr<ViewController>>& children() const { return children_; }
  ViewController* child(std::size_t index) const;
  // -1 while there is no child.
  int selectedTabIndex() const { return selected_; }
  // Shows that child's view in place of the current one; ignored out of range.
  void setSelectedTabIndex(int index);

 protected:
  void loadView() override;
  std::vector<ViewController*> visibleChildren() const override;

 private:
  void showSelected();
  ViewController* selectedChild() const;

  std::vector<std::shared_ptr<ViewController>> children_;
  int selected_ = -1;
};

}  // namespace toolkit
