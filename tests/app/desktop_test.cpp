#include "app/desktop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/startup.h"
#include "maker_message.h"
#include "platform/os/single_instance.h"
#include "platform/window/dialog_ids.h"
#include "platform/window/headless_window.h"
#include "temp_dir.h"
#include "xdg_folders.h"

namespace jx {
namespace {

// jx's command line with the arguments given.
struct Arguments {
    std::vector<std::string> words;
    std::vector<char*> pointers;
    explicit Arguments(const std::vector<std::string>& given) : words{"jx"} {
        words.insert(words.end(), given.begin(), given.end());
        for (std::string& word : words) pointers.push_back(word.data());
    }
    int argc() const { return static_cast<int>(pointers.size()); }
    char** argv() { return pointers.data(); }
};

// --help and --version answer only as the one argument; anything else opens the window.
TEST(DesktopTest, AnswersHelpAndVersionAlone) {
    const std::string usage = desktop_usage("What it does.", "Where it keeps things.\n");
    struct Case {
        std::vector<std::string> arguments;
        std::optional<std::string> answer;
    };
    const Case cases[] = {
        {{"--help"}, usage},
        {{"-h"}, usage},
        {{"--version"}, "jx 7.25\n"},
        {{}, std::nullopt},
        {{"kit.syx"}, std::nullopt},
        {{"--help", "kit.syx"}, std::nullopt},
        {{"--versions"}, std::nullopt},
    };
    for (const Case& c : cases) {
        Arguments a(c.arguments);
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        EXPECT_EQ(desktop_answer(a.argc(), a.argv(), usage, "7.25"), c.answer);
    }
    EXPECT_EQ(usage.rfind("usage: jx [DOCUMENT]\n\nWhat it does.\n\nOptions:\n", 0), 0u) << usage;
    EXPECT_TRUE(usage.ends_with("\n\nWhere it keeps things.\n")) << usage;
}

// An option jx does not take is a usage error before any display is touched; documents and Qt's
// own one-dash options pass.
TEST(DesktopTest, RefusesOptionsItDoesNotTake) {
    struct Case {
        std::vector<std::string> arguments;
        std::optional<std::string> refusal;
    };
    const Case cases[] = {
        {{}, std::nullopt},
        {{"kit.syx"}, std::nullopt},
        {{"--help"}, std::nullopt},
        {{"--version"}, std::nullopt},
        {{"-platform", "offscreen", "kit.syx"}, std::nullopt},
        {{"--bogus"}, "jx: unknown option '--bogus' (try 'jx --help')\n"},
        {{"--version=1"}, "jx: unknown option '--version=1' (try 'jx --help')\n"},
        {{"-v"}, "jx: unknown option '-v' (try 'jx --help')\n"},
        {{"--help", "--version"}, "jx: --help goes alone (try 'jx --help')\n"},
        {{"kit.syx", "--help"}, "jx: --help goes alone (try 'jx --help')\n"},
    };
    for (const Case& c : cases) {
        Arguments a(c.arguments);
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        EXPECT_EQ(desktop_refusal(a.argc(), a.argv()), c.refusal);
    }
}

// The main window as a test plays its user: shown, used through `look`, closed.
class PlayedWindow : public HeadlessWindow {
  public:
    using Look = std::function<void(PlayedWindow& window, DialogProcedure& procedure)>;
    PlayedWindow(DialogProcedure& procedure, Look look)
        : procedure_(procedure), look_(std::move(look)) {}
    int run() override {
        procedure_.init_dialog(*this);
        look_(*this, procedure_);
        procedure_.close_request();
        return ended.value_or(-1);
    }

  private:
    DialogProcedure& procedure_;
    Look look_;
};

struct DesktopRun : ::testing::Test {
    test::XdgFolders folders;
    test::TempDir runtime;
    test::ScopedEnv runtime_dir{"XDG_RUNTIME_DIR", runtime.path.string()};
    // No MIDI server here: the sequencer's backend lists nothing, and says why.
    test::ScopedEnv api{"JX_MIDI_API", "alsa"};
    std::vector<std::string> steps;
    App* app = nullptr;  // the program's, while its window runs
    PlayedWindow::Look look = [](PlayedWindow&, DialogProcedure&) {};

    DesktopWindows windows() {
        DesktopWindows made;
        made.start = [this](int&, char**) { steps.push_back("start"); };
        made.load_template = [this](int id) -> std::optional<DialogTemplate> {
            steps.push_back("template " + std::to_string(id));
            if (id != ids::main_dialog) return std::nullopt;
            DialogTemplate dialog;
            dialog.id = id;
            return dialog;
        };
        made.make_main_window = [this](const DialogTemplate& dialog, MainWindow& procedure,
                                       App& made_app) -> std::unique_ptr<Window> {
            app = &made_app;
            steps.push_back("window " + std::to_string(dialog.id));
            return std::make_unique<PlayedWindow>(procedure, look);
        };
        return made;
    }
    int run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "jx");
        std::vector<char*> argv;
        for (std::string& word : arguments) argv.push_back(word.data());
        int argc = static_cast<int>(argv.size());
        return run_desktop(argc, argv.data(), windows());
    }
};

// The document opens in the list, the Request sample entries are on the menus, and the MIDI ports
// end with the virtual device; the window system starts only once this copy holds the lock.
TEST_F(DesktopRun, RunsTheMainWindowWithTheDocumentAndTheVirtualDevice) {
    const std::string kit = runtime.write("kit.syx", test::record(0x06, 'R', {1, 2, 3}));
    look = [&](PlayedWindow& window, DialogProcedure& main) {
        const std::vector<ListRow> rows = window.list_rows(ids::transfer_list);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].cells[0], kit);
        std::vector<std::pair<int, std::string>> menu;
        for (const auto& entry : window.menu_entries) menu.emplace_back(entry.id, entry.text);
        EXPECT_EQ(menu, (std::vector<std::pair<int, std::string>>{
                            {ids::receive, "Request sample\u2026"}, {0, "Request sample\u2026"}}));
        bool configured = false;
        window.dialog_script = [&](HeadlessWindow& dialog, DialogProcedure& procedure, int) {
            for (int list : {ids::midi_in_list, ids::midi_out_list}) {
                ASSERT_FALSE(dialog.strings(list).empty());
                EXPECT_EQ(dialog.strings(list).back(), "Virtual device");
            }
            procedure.command(ids::pref_cancel);
            configured = true;
        };
        settle_ports(*app);  // Configure does nothing until the input has opened
        main.command(ids::configure);
        EXPECT_TRUE(configured);
    };
    EXPECT_EQ(run({kit}), 0);
    EXPECT_EQ(steps, (std::vector<std::string>{"start", "template 101", "window 101"}));
}

// A second copy ends at once and quietly before its window system starts; a program without its
// main dialog ends with 1.
TEST_F(DesktopRun, EndsEarlyBesideARunningCopyOrWithoutTheDialog) {
    {
        InstanceLock running = acquire_instance_lock(instance_name);
        ASSERT_TRUE(running.held());
        EXPECT_EQ(run({}), 0);
        EXPECT_TRUE(steps.empty());
    }
    DesktopWindows no_dialog = windows();
    no_dialog.load_template = [](int) { return std::optional<DialogTemplate>(); };
    int argc = 1;
    std::string name = "jx";
    char* argv[] = {name.data(), nullptr};
    EXPECT_EQ(run_desktop(argc, argv, no_dialog), 1);
    EXPECT_EQ(steps, std::vector<std::string>{"start"});
}

}  // namespace
}  // namespace jx
