#pragma once

// What the commands of the layout details pane do: on the layout, on its
// applications and on its name. Every command sends its "Button_Click" event
// first and then checks what it needs.

#include <functional>
#include <memory>
#include <string_view>

#include "analytics/anonymizing.h"
#include "platform/window_level/window_level.h"
#include "rx/disposable.h"
#include "rx/observable.h"
#include "rx/single.h"
#include "rx/subjects.h"
#include "toolkit/controls.h"
#include "toolkit/menu.h"
#include "ui/customization_context.h"
#include "ui/layout_details_app_list.h"
#include "ui/layout_details_state.h"
#include "ui/layout_list.h"

namespace wendrix {

class LayoutDetailsCommands final : public toolkit::TextFieldDelegate,
                                    public std::enable_shared_from_this<LayoutDetailsCommands> {
 public:
  LayoutDetailsCommands(CustomizationContext context,
                        std::shared_ptr<const LayoutDetailsState> state,
                        std::shared_ptr<const LayoutAppList> list);

  // The holder of the window that floats while an operation runs.
  void setWindowOwner(std::weak_ptr<platform::WindowOwner> owner) { owner_ = std::move(owner); }
  // The name field the rename reads and resets.
  void setNameField(std::weak_ptr<toolkit::TextField> field) { nameField_ = std::move(field); }
  rx::Observable<LayoutRename> renameStream() { return renameSubject_.asObservable(); }

  void toggleAutoClose(bool on);
  void closeOtherApps();
  void restoreLayout();
  // Asks in a sheet on `window`, then deletes.
  void deleteLayout(toolkit::Window* window);
  void addEmoji();
  void addApp(const toolkit::MenuItem& sender);
  void removeApps(CommandSender sender);
  void restoreApps(CommandSender sender);
  void closeApps(CommandSender sender);
  void renameLayout();

  // TextFieldDelegate: the end of editing the name renames the layout.
  void controlTextDidEndEditing(toolkit::TextField&) override { renameLayout(); }

 private:
  // Keeps the window above the others while `single` runs.
  template <class T>
  rx::Single<T> keepWindowFloating(rx::Single<T> single);
  // Runs `command` with the window floating: `done` gets its value, and an
  // error is tracked at `location` with `replacements` hidden.
  template <class T>
  void run(rx::Single<T> command, std::function<void(const T&)> done, std::string_view location,
           AnonymizingReplacements replacements);
  // The layout's name and its applications' names, hidden in error reports.
  AnonymizingReplacements layoutReplacements() const;

  CustomizationContext context_;
  std::shared_ptr<const LayoutDetailsState> state_;
  std::shared_ptr<const LayoutAppList> list_;
  std::weak_ptr<platform::WindowOwner> owner_;
  std::weak_ptr<toolkit::TextField> nameField_;
  rx::PublishSubject<LayoutRename> renameSubject_;
  rx::DisposeBag disposeBag_;
};

}  // namespace wendrix
