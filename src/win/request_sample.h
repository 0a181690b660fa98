#pragma once
// "Request sample...": the context menus of the Receive button and of the main window offer it; a
// small dialog asks for the sample number and shows the SDS device number the request goes to.
#include "app/main_window.h"
#include "platform/window/dialog_template.h"
#include "win/win_window.h"

namespace jx {

namespace request_ids {
constexpr int number = 201;
constexpr int sds_device = 202;
constexpr int ok = 1;
constexpr int cancel = 2;
}  // namespace request_ids

// The dialog: the sample number in a digits-only edit, the device number beside it, OK and Cancel.
DialogTemplate request_sample_template();

// What the dialog does: OK takes the number (a number past the highest sample number becomes the
// highest, as a spin box would keep it; an empty field keeps the dialog open), Cancel and the close
// box take nothing.
class RequestSampleProcedure : public DialogProcedure {
  public:
    RequestSampleProcedure(int sds_device, int number) : sds_device_(sds_device), number_(number) {}
    void init_dialog(Window& window) override;
    void command(int id) override;
    void close_request() override;
    bool accepted() const { return accepted_; }
    int number() const { return number_; }

  private:
    Window* window_ = nullptr;
    int sds_device_;
    int number_;
    bool accepted_ = false;
};

// Adds the menu entry to the Receive button's context menu and to the window's own; the number
// chosen goes to the main window's request_sample, and is offered again the next time.
void add_request_sample_menu(WinWindow& window, MainWindow& procedure);

}  // namespace jx
