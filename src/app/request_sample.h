#pragma once
// "Request sample...": the context menus of the Receive button and of the main window offer it; a
// small dialog (200) asks for the sample number and shows the SDS device number the request goes
// to.
#include "app/main_window.h"
#include "platform/window/window.h"

namespace jx {

// What the dialog does: OK takes the number (a number past the highest sample number becomes the
// highest, as a spin box would keep it; an empty field keeps the dialog open), Cancel, Escape and
// the close box take nothing.
class RequestSampleDialog : public DialogProcedure {
  public:
    RequestSampleDialog(int sds_device, int number) : sds_device_(sds_device), number_(number) {}
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
void add_request_sample_menu(Window& window, MainWindow& procedure);

}  // namespace jx
