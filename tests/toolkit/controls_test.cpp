#include <gtest/gtest.h>

#include "toolkit/controls.h"
#include "toolkit_fixture.h"

namespace toolkit {
namespace {

using testing::Journal;

struct FieldDelegate : TextFieldDelegate {
  Journal* journal;
  void controlTextDidEndEditing(TextField& field) override {
    journal->add("endEditing " + field.stringValue());
  }
};

struct RecorderDelegate : ShortcutRecorderDelegate {
  Journal* journal;
  void recorderDidEndRecording(ShortcutRecorder& recorder) override {
    const auto& value = recorder.objectValue();
    journal->add("endRecording " + (value ? std::to_string(value->keyCode) : std::string("none")));
  }
};

// Every control, with a journal of the callbacks that reach the program.
struct Controls {
  Journal journal;
  std::shared_ptr<FieldDelegate> fieldDelegate = std::make_shared<FieldDelegate>();
  std::shared_ptr<RecorderDelegate> recorderDelegate = std::make_shared<RecorderDelegate>();
  TextField field;
  Button checkbox{Button::Type::checkbox};
  Button push;
  PopUpButton popUp;
  SegmentedControl segments;
  ShortcutRecorder recorder;

  Controls() {
    fieldDelegate->journal = &journal;
    recorderDelegate->journal = &journal;
    field.setEditable(true);
    field.setDelegate(fieldDelegate);
    checkbox.setAction([this](Button& b) {
      journal.add(std::string("checkbox ") + (b.state() == ControlState::on ? "on" : "off"));
    });
    push.setAction([this](Button&) { journal.add("push"); });
    popUp.addItem("Close", std::string("close"));
    popUp.addItem("Quit", std::string("quit"));
    popUp.setAction([this](PopUpButton& b) {
      journal.add("popUp " + std::to_string(b.indexOfSelectedItem()));
    });
    segments.setSegmentCount(3);
    segments.setEnabled(false, 1);
    segments.setAction([this](SegmentedControl& s) {
      journal.add("segment " + std::to_string(s.selectedSegment()));
    });
    recorder.setDelegate(recorderDelegate);
  }
};

struct ControlsTest : testing::ToolkitTest, Controls {};

TEST_F(ControlsTest, ProgrammaticChangesNeverReachUserOnlyCallbacks) {
  field.setStringValue("Work");
  checkbox.setState(ControlState::on);
  popUp.selectItem(1);
  segments.setSelectedSegment(2);
  recorder.setObjectValue(KeyChord{45, kCommandKeyMask});

  EXPECT_TRUE(journal.entries.empty());
  EXPECT_EQ(field.stringValue(), "Work");
  EXPECT_EQ(checkbox.state(), ControlState::on);
  EXPECT_EQ(popUp.indexOfSelectedItem(), 1);
  EXPECT_EQ(segments.selectedSegment(), 2);
  EXPECT_EQ(recorder.objectValue(), (KeyChord{45, kCommandKeyMask}));
}

TEST_F(ControlsTest, UserInputReachesTheProgram) {
  struct Case {
    const char* what;
    std::function<bool(headless::Driver&, Controls&)> input;
    bool accepted;
    std::vector<std::string> journal;
  };
  const Case cases[] = {
      {"type and press Return",
       [](auto& d, auto& t) { return d.typeAndEnd(t.field, "Deep Work"); },
       true,
       {"endEditing Deep Work"}},
      {"type into a label",
       [](auto& d, auto& t) {
         t.field.setEditable(false);
         return d.typeAndEnd(t.field, "x");
       },
       false,
       {}},
      {"end editing without having begun",
       [](auto&, auto& t) {
         t.field.userEndEditing();
         return true;
       },
       true,
       {}},
      {"click a check box",
       [](auto& d, auto& t) { return d.click(t.checkbox); },
       true,
       {"checkbox on"}},
      {"click a check box twice",
       [](auto& d, auto& t) { return d.click(t.checkbox) && d.click(t.checkbox); },
       true,
       {"checkbox on", "checkbox off"}},
      {"click a disabled button",
       [](auto& d, auto& t) {
         t.push.setEnabled(false);
         return d.click(t.push);
       },
       false,
       {}},
      {"click a push button", [](auto& d, auto& t) { return d.click(t.push); }, true, {"push"}},
      {"choose the selected item again",
       [](auto& d, auto& t) { return d.choose(t.popUp, 0); },
       true,
       {"popUp 0"}},
      {"choose past the end", [](auto& d, auto& t) { return d.choose(t.popUp, 2); }, false, {}},
      {"click an enabled segment",
       [](auto& d, auto& t) { return d.clickSegment(t.segments, 2); },
       true,
       {"segment 2"}},
      {"click a disabled segment",
       [](auto& d, auto& t) { return d.clickSegment(t.segments, 1); },
       false,
       {}},
      {"record a chord",
       [](auto& d, auto& t) {
         return d.record(t.recorder, KeyChord{45, kCommandKeyMask});
       },
       true,
       {"endRecording 45"}},
      {"clear the recorder",
       [](auto& d, auto& t) { return d.record(t.recorder, std::nullopt); },
       true,
       {"endRecording none"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Controls t;
    EXPECT_EQ(c.input(driver, t), c.accepted);
    EXPECT_EQ(t.journal.entries, c.journal);
  }
}

TEST_F(ControlsTest, PopUpButtonSelection) {
  ASSERT_NE(popUp.selectedItem(), nullptr);
  EXPECT_EQ(std::any_cast<std::string>(popUp.selectedItem()->representedObject), "close");
  popUp.selectItem(-1);
  EXPECT_EQ(popUp.selectedItem(), nullptr);
  popUp.selectItem(5);
  EXPECT_EQ(popUp.indexOfSelectedItem(), -1);
  driver.choose(popUp, 1);
  EXPECT_EQ(std::any_cast<std::string>(popUp.selectedItem()->representedObject), "quit");
}

TEST_F(ControlsTest, StackViewKeepsOrder) {
  StackView stack;
  auto a = std::make_shared<View>();
  auto b = std::make_shared<View>();
  stack.addArrangedSubview(a);
  stack.addArrangedSubview(b);
  stack.removeArrangedSubview(*a);
  EXPECT_EQ(stack.arrangedSubviews(), (std::vector<std::shared_ptr<View>>{b}));
  // Still a subview until removed from the superview too.
  EXPECT_EQ(a->superview(), &stack);
  a->removeFromSuperview();
  EXPECT_EQ(stack.subviews(), (std::vector<std::shared_ptr<View>>{b}));
}

TEST(FixedTextMetricsTest, MeasuresWrappedText) {
  FixedTextMetrics metrics;
  const Font font{10, false};  // characters 5 wide, lines 12.5 high
  struct Case {
    std::string text;
    double width;
    Size size;
  };
  const Case cases[] = {
      {"", 0, {0, 12.5}},
      {"hello", 0, {25, 12.5}},
      {"hello world", 30, {25, 25}},    // wraps at the space
      {"abcdefgh", 20, {20, 25}},       // a long word breaks inside
      {"one\ntwo three", 0, {45, 25}},  // paragraphs
      {"é", 0, {5, 12.5}},              // code points, not bytes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(metrics.measure(c.text, font, c.width), c.size);
  }
  TextView view;
  view.setFont(font);
  view.setString("hello world");
  EXPECT_EQ(view.usedHeight(metrics, 30), 25);
}

}  // namespace
}  // namespace toolkit
