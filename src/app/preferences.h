#pragma once
// The preferences dialog: the MIDI devices and the transfer options. Ok copies what the dialog
// shows into the settings, writes them and reopens the ports; Cancel changes nothing.
#include <string>
#include <vector>

#include "app/app.h"
#include "platform/window/window.h"

namespace jx {

// turbo_lim for each Turbo Limit entry, in list order, and the entry shown for a turbo_lim value
// (-1 for none).
int turbo_limit_of_entry(int entry);
int turbo_limit_entry(int32_t turbo_lim);

class PreferencesDialog : public DialogProcedure {
  public:
    explicit PreferencesDialog(App& app) : app_(app) {}

    void init_dialog(Window& window) override;
    void command(int id) override;
    void close_request() override;

  private:
    void ok();

    App& app_;
    Window* window_ = nullptr;
    // The check boxes act on these until Ok.
    // The device names the two lists show, in list order.
    std::vector<std::string> in_names_;
    std::vector<std::string> out_names_;
    int32_t syx_reload_ = 0;
    int32_t ignore_hs_ = 0;
    int32_t send_zbname_ = 0;
    int32_t use_xsds_ = 0;
};

}  // namespace jx
